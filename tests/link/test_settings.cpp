// The settings file, the link settings read from it and the status line.
#include <QTemporaryDir>
#include <QtTest>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "AccuracyCheck.h"
#include "Errors.h"
#include "Func.h"
#include "LinkSettings.h"
#include "PortName.h"
#include "Profile.h"
#include "Protocol.h"
#include "RecorderUi.h"
#include "Remember.h"

namespace {

QByteArray lastPort;
int32_t initResult = 0;
int32_t ScriptedInit(const char* port, int32_t, uint8_t) {
    lastPort = port;
    return initResult;
}

void WriteFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

// All of a literal, NUL bytes included.
template <size_t N> QByteArray Bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// A file the tool creates has the system's line ends.
QByteArray NewFile(QByteArray text) {
#ifdef Q_OS_WIN
    text.replace("\n", "\r\n");
#endif
    return text;
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString ini;

  private slots:
    void init() {
        ini = dir.filePath(QStringLiteral("QS730_View.ini"));
        QFile::remove(ini);
        PortName.clear();
        BaudRate = 0;
        ParityIndex = 0;
        SerialLetter.clear();
        ModuleAddress = 1;
    }

    void noFileGivesTheDefaults() {
        ReadLinkSettings(ProfileFile(ini));
        QCOMPARE(PortName, QStringLiteral("COM1"));
        QCOMPARE(BaudRate, 19200);
        QCOMPARE(ParityIndex, 2);
        QCOMPARE(SerialLetter, QStringLiteral("A"));
        QCOMPARE(LinkStateText(true), QStringLiteral("Открыт COM1  19200 бод Even Адрес 1"));
        QCOMPARE(LinkStateText(false), QStringLiteral("Закрыт COM1  19200 бод Even Адрес 1"));
        QVERIFY(!QFile::exists(ini)); // reading never creates it
    }

    void valuesAndTheirConversions_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<QString>("letter");
        QTest::newRow("address is not read")
            << QByteArray("[Station]\nAddress=17\n") << "COM1" << 19200 << 2 << "A";
        QTest::newRow("parity out of range: the factory value")
            << QByteArray("[Port]\nParity=258\n") << "COM1" << 19200 << 2 << "A";
        QTest::newRow("unconvertible baud")
            << QByteArray("[Port]\nBaud=fast\n") << "COM1" << 19200 << 2 << "A";
        QTest::newRow("hexadecimal baud")
            << QByteArray("[Port]\nBaud=0x2580\n") << "COM1" << 9600 << 2 << "A";
        QTest::newRow("empty baud") << QByteArray("[Port]\nBaud=\n") << "COM1" << 19200 << 2 << "A";
        QTest::newRow("empty name and letter kept empty")
            << QByteArray("[Port]\nName=\n[Alpha]\nAlpha=\n") << "" << 19200 << 2 << "";
        QTest::newRow("case-insensitive names, blanks, CRLF")
            << QByteArray(
                   "[port]\r\n name = COM3 \r\nBAUD=9600\r\nparity=1\r\n[ALPHA]\r\nalpha=b\r\n")
            << "COM3" << 9600 << 1 << "b";
        QTest::newRow("first section of a name counts")
            << QByteArray("[Port]\nBaud=4800\n[Port]\nBaud=2400\n") << "COM1" << 4800 << 2 << "A";
        QTest::newRow("dollar is no hexadecimal")
            << QByteArray("[Port]\nBaud=$2580\n") << "COM1" << 19200 << 2 << "A";
        QTest::newRow("no sign before 0x")
            << QByteArray("[Port]\nBaud=-0x2580\n") << "COM1" << 19200 << 2 << "A";
        QTest::newRow("0x alone") << QByteArray("[Port]\nBaud=0x\n") << "COM1" << 19200 << 2 << "A";
        QTest::newRow("0X in capitals, signed decimal")
            << QByteArray("[Port]\nBaud=0X4B0\nParity=+1\n") << "COM1" << 1200 << 1 << "A";
        QTest::newRow("quotes dropped once, blanks kept inside")
            << QByteArray("[Port]\nName=\"COM3\"\nBaud='9600'\n[Alpha]\nAlpha=\"\" B \"\"\n")
            << "COM3" << 9600 << 2 << "\" B \"";
        QTest::newRow("unmatched quotes kept")
            << QByteArray("[Port]\nName=\"COM3'\n[Alpha]\nAlpha=\"\n") << "\"COM3'" << 19200 << 2
            << "\"";
        QTest::newRow("empty quotes, blanks around the sign")
            << QByteArray("[Port]\nName=\"\"\n Baud \t=\t 4800 \n") << "" << 4800 << 2 << "A";
        QTest::newRow("semicolon after a value is part of it")
            << QByteArray("[Port]\nName=COM3 ; mine\nBaud=9600;\n") << "COM3 ; mine" << 19200 << 2
            << "A";
        QTest::newRow("byte order mark, header with a comment")
            << QByteArray("\xEF\xBB\xBF[Port] ; link\r\nName=COM4\r\n") << "COM4" << 19200 << 2
            << "A";
        // UTF-8 on Linux; a Windows code page holds what it can of it.
        QTest::newRow("value in the local encoding")
            << QByteArray("; \xcd\xe0\xf1\n[Port]\nName=") + QStringLiteral("Порт").toLocal8Bit() +
                   "\n"
            << QString::fromLocal8Bit(QStringLiteral("Порт").toLocal8Bit()) << 19200 << 2 << "A";
    }
    void valuesAndTheirConversions() {
        QFETCH(QByteArray, file);
        WriteFile(ini, file);
        ReadLinkSettings(ProfileFile(ini));
        QTEST(PortName, "port");
        QTEST(static_cast<int>(BaudRate), "baud");
        QTEST(static_cast<int>(ParityIndex), "parity");
        QTEST(SerialLetter, "letter");
        QCOMPARE(ModuleAddress, 1);
    }

    // An entry whose number lies outside its range is read as missing, the
    // file stays as it is, and the entry is noted once: the same value read
    // again is not noted again. Text that is no number reads as missing
    // without a word.
    void outOfRangeEntriesAreIgnoredAndNoted_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<QStringList>("noted"); // "[Section] Key=value|allowed|used"
        const QString parity = QStringLiteral("|от 0 до 2|2");
        const QString speeds =
            QStringLiteral("|1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200|19200");
        QTest::newRow("Parity=257") << QByteArray("[Port]\nParity=257\n") << 19200 << 2
                                    << QStringList{"[Port] Parity=257" + parity};
        QTest::newRow("Parity=258") << QByteArray("[Port]\nParity=258\n") << 19200 << 2
                                    << QStringList{"[Port] Parity=258" + parity};
        QTest::newRow("Parity=3") << QByteArray("[Port]\nParity=3\n") << 19200 << 2
                                  << QStringList{"[Port] Parity=3" + parity};
        QTest::newRow("Parity=-1") << QByteArray("[Port]\nParity=-1\n") << 19200 << 2
                                   << QStringList{"[Port] Parity=-1" + parity};
        QTest::newRow("Parity too long for 32 bits")
            << QByteArray("[Port]\nParity=4294967297\n") << 19200 << 2
            << QStringList{"[Port] Parity=4294967297" + parity};
        QTest::newRow("Parity=0xFFFFFFFF") << QByteArray("[Port]\nParity=0xFFFFFFFF\n") << 19200
                                           << 2 << QStringList{"[Port] Parity=0xFFFFFFFF" + parity};
        QTest::newRow("Baud=-1, Parity=257")
            << QByteArray("[Port]\nBaud=-1\nParity=257\n") << 19200 << 2
            << QStringList{"[Port] Baud=-1" + speeds, "[Port] Parity=257" + parity};
        QTest::newRow("Baud=12345") << QByteArray("[Port]\nBaud=12345\n") << 19200 << 2
                                    << QStringList{"[Port] Baud=12345" + speeds};
        QTest::newRow("Baud=0") << QByteArray("[Port]\nBaud=0\n") << 19200 << 2
                                << QStringList{"[Port] Baud=0" + speeds};
        QTest::newRow("Baud huge") << QByteArray("[Port]\nBaud=99999999999999999999\n") << 19200
                                   << 2 << QStringList{"[Port] Baud=99999999999999999999" + speeds};
        // In range: taken as they are.
        QTest::newRow("Parity=0, Baud=1200")
            << QByteArray("[Port]\nBaud=1200\nParity=0\n") << 1200 << 0 << QStringList();
        QTest::newRow("Parity=1, Baud=115200")
            << QByteArray("[Port]\nBaud=115200\nParity=1\n") << 115200 << 1 << QStringList();
        QTest::newRow("Parity=2, Baud=0x2580")
            << QByteArray("[Port]\nBaud=0x2580\nParity=2\n") << 9600 << 2 << QStringList();
        QTest::newRow("Parity=+1, Baud=+2400")
            << QByteArray("[Port]\nBaud=+2400\nParity=+1\n") << 2400 << 1 << QStringList();
        // No number at all: the default, without a word.
        QTest::newRow("Baud=fast, Parity=odd")
            << QByteArray("[Port]\nBaud=fast\nParity=odd\n") << 19200 << 2 << QStringList();
        QTest::newRow("Baud=-0x2580, Parity=")
            << QByteArray("[Port]\nBaud=-0x2580\nParity=\n") << 19200 << 2 << QStringList();
    }
    void outOfRangeEntriesAreIgnoredAndNoted() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, noted);
        TakeIgnoredSettings(); // what other tests left
        // A file of its own: each file, entry and value is noted once per run.
        QTemporaryDir own;
        const QString path = own.filePath(QStringLiteral("QS730_View.ini"));
        WriteFile(path, file);
        const auto taken = [] {
            QStringList out;
            for (const IgnoredSetting& e : TakeIgnoredSettings())
                out << QStringLiteral("[%1] %2=%3|%4|%5")
                           .arg(e.section, e.key, e.value, e.allowed, e.used);
            return out;
        };
        ReadLinkSettings(ProfileFile(path));
        QTEST(static_cast<int>(BaudRate), "baud");
        QTEST(static_cast<int>(ParityIndex), "parity");
        QCOMPARE(taken(), noted);
        QCOMPARE(ReadFile(path), file); // nothing rewritten
        ReadLinkSettings(ProfileFile(path));
        QCOMPARE(taken(), QStringList()); // said once
        QTEST(static_cast<int>(ParityIndex), "parity");
    }

    // The check's entries have their ranges too.
    void outOfRangeCheckEntriesAreIgnoredAndNoted_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("samples");
        QTest::addColumn<double>("tolerance");
        QTest::addColumn<int>("firstCurrent");
        QTest::addColumn<QStringList>("noted"); // "Key=value|used"
        QTest::newRow("Samples=0") << QByteArray("[Check]\nSamples=0\n") << 5 << 0.25 << 2000
                                   << QStringList{"Samples=0|5"};
        QTest::newRow("Samples=51") << QByteArray("[Check]\nSamples=51\n") << 5 << 0.25 << 2000
                                    << QStringList{"Samples=51|5"};
        QTest::newRow("Samples=-1") << QByteArray("[Check]\nSamples=-1\n") << 5 << 0.25 << 2000
                                    << QStringList{"Samples=-1|5"};
        QTest::newRow("Samples huge") << QByteArray("[Check]\nSamples=4294967296\n") << 5 << 0.25
                                      << 2000 << QStringList{"Samples=4294967296|5"};
        QTest::newRow("Tolerance=50") << QByteArray("[Check]\nTolerance=50\n") << 5 << 0.25 << 2000
                                      << QStringList{"Tolerance=50|0.25"};
        QTest::newRow("Tolerance=0") << QByteArray("[Check]\nTolerance=0\n") << 5 << 0.25 << 2000
                                     << QStringList{"Tolerance=0|0.25"};
        QTest::newRow("a point beyond the range")
            << QByteArray("[Check]\nCurrent=4000,25000\n") << 5 << 0.25 << 2000
            << QStringList{"Current=4000,25000|2000,11000,20000"};
        QTest::newRow("a negative point") << QByteArray("[Check]\nVoltage=-1\n") << 5 << 0.25
                                          << 2000 << QStringList{"Voltage=-1|1000,5500,10000"};
        QTest::newRow("eleven points")
            << QByteArray("[Check]\nCurrent=1,2,3,4,5,6,7,8,9,10,11\n") << 5 << 0.25 << 2000
            << QStringList{"Current=1,2,3,4,5,6,7,8,9,10,11|2000,11000,20000"};
        // In range, or no number at all.
        QTest::newRow("in range") << QByteArray("[Check]\nSamples=50\nTolerance=10\nCurrent=0\n")
                                  << 50 << 10.0 << 0 << QStringList();
        QTest::newRow("Samples=1, Tolerance=0,5")
            << QByteArray("[Check]\nSamples=1\nTolerance=0,5\n") << 1 << 0.5 << 2000
            << QStringList();
        QTest::newRow("no numbers") << QByteArray("[Check]\nSamples=many\nTolerance=x\n") << 5
                                    << 0.25 << 2000 << QStringList();
    }
    void outOfRangeCheckEntriesAreIgnoredAndNoted() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, noted);
        TakeIgnoredSettings();
        QTemporaryDir own;
        const QString path = own.filePath(QStringLiteral("QS730_View.ini"));
        WriteFile(path, file);
        const CheckSettings s = LoadCheckSettings(ProfileFile(path));
        QTEST(s.samples, "samples");
        QTEST(s.tolerancePercent, "tolerance");
        QTEST(s.current.front(), "firstCurrent");
        QStringList got;
        for (const IgnoredSetting& e : TakeIgnoredSettings()) {
            QCOMPARE(e.section, QStringLiteral("Check"));
            got << e.key + '=' + e.value + '|' + e.used;
        }
        QCOMPARE(got, noted);
        QCOMPARE(ReadFile(path), file);
        LoadCheckSettings(ProfileFile(path));
        QCOMPARE(TakeIgnoredSettings().size(), 0);
    }

    // The library's own settings file: each timing it takes, noted when out
    // of its bounds, and the gateway's timings among them.
    void commSettingsOutOfBoundsNoted() {
        struct Case {
            QByteArray text;
            QStringList noted; // "Key=value"
        };
        const Case cases[] = {
            {"[Link]\nResponseTimeout=300\nNetworkAllowance=0\nConnectTimeout=100\n", {}},
            {"[Link]\nNetworkAllowance=5000\nConnectTimeout=30000\n", {}},
            {"[Link]\nNetworkAllowance=-1\n", {"NetworkAllowance=-1"}},
            {"[Link]\nNetworkAllowance=5001\nConnectTimeout=99\n",
             {"NetworkAllowance=5001", "ConnectTimeout=99"}},
            {"[Link]\nConnectTimeout=30001\nResponseTimeout=19\n",
             {"ResponseTimeout=19", "ConnectTimeout=30001"}},
        };
        const QString path = CommSettingsFilePath();
        for (const Case& c : cases) {
            TakeIgnoredSettings();
            WriteFile(path, c.text);
            CheckCommSettings();
            QStringList noted;
            for (const auto& entry : TakeIgnoredSettings())
                noted << entry.key + QLatin1Char('=') + entry.value;
            QCOMPARE(noted, c.noted);
        }
        QFile::remove(path);
    }

    // The one warning: each file with its entries, a long value cut short.
    void ignoredEntriesInOneWarning() {
        TakeIgnoredSettings();
        QTemporaryDir own;
        const QString first = own.filePath(QStringLiteral("first.ini"));
        const QString second = own.filePath(QStringLiteral("second.ini"));
        WriteFile(first, "[Port]\nBaud=-1\nParity=257\n");
        WriteFile(second, "[Link]\nResponseTimeout=" + QByteArray(40, '9') + "\n");
        ReadLinkSettings(ProfileFile(first));
        ProfileFile(second).readInteger(QStringLiteral("Link"), QStringLiteral("ResponseTimeout"),
                                        250, 20, 5000);
        RecorderUi rec;
        TellIgnoredSettings(nullptr);
        QCOMPARE(rec.messages.size(), 1);
        QVERIFY(rec.messages[0].icon == seam::Icon::Warning);
        QCOMPARE(rec.messages[0].text,
                 QStringLiteral("В файле настроек ") + QuotedPath(first) +
                     QStringLiteral(
                         " не приняты значения вне допустимых пределов:\n"
                         "[Port] Baud=-1 — допустимо 1200, 2400, 4800, 9600, 19200, 28800, "
                         "38400, 57600, 115200, вместо него действует 19200;\n"
                         "[Port] Parity=257 — допустимо от 0 до 2, вместо него действует 2.\n\n"
                         "В файле настроек ") +
                     QuotedPath(second) +
                     QStringLiteral(" не приняты значения вне допустимых пределов:\n"
                                    "[Link] ResponseTimeout=999999999999999999999999… — "
                                    "допустимо от 20 до 5000, вместо него действует 250.\n"
                                    "Файлы не изменены."));
        TellIgnoredSettings(nullptr); // nothing new: no box
        QCOMPARE(rec.messages.size(), 1);
    }

    // A gateway's name is read as it was written; the status line names the
    // host and leaves out the speed, which is the gateway's.
    void networkPortInTheFileAndTheStatusLine() {
        for (const QString& name :
             {QStringLiteral("tcp:10.0.0.5"), QStringLiteral("rtu-tcp:gw-cabinet-3:4001")}) {
            ProfileFile(ini).writeString(QStringLiteral("Port"), QStringLiteral("Name"), name);
            ReadLinkSettings(ProfileFile(ini));
            QCOMPARE(PortName, name);
            QCOMPARE(LinkStateText(false),
                     QStringLiteral("Закрыт ") + name + QStringLiteral("  Адрес 1"));
        }
    }

    void outOfRangeParityInTheStatusLine() {
        ReadLinkSettings(ProfileFile(ini));
        ParityIndex = 5;
        QCOMPARE(LinkStateText(true), QStringLiteral("Открыт COM1  19200 бод ? Адрес 1"));
    }

    void writerKeepsOtherLinesAndOrdersNewSections() {
        ProfileFile p(ini);
        p.writeString(QStringLiteral("Port"), QStringLiteral("Name"), QStringLiteral("COM2"));
        p.writeInteger(QStringLiteral("Port"), QStringLiteral("Baud"), 9600);
        p.writeInteger(QStringLiteral("Port"), QStringLiteral("Parity"), 1);
        p.writeInteger(QStringLiteral("Station"), QStringLiteral("Address"), 5);
        p.writeString(QStringLiteral("Alpha"), QStringLiteral("Alpha"), QStringLiteral("B"));
        QCOMPARE(ReadFile(ini), NewFile("[Port]\nName=COM2\nBaud=9600\nParity=1\n\n"
                                        "[Station]\nAddress=5\n\n[Alpha]\nAlpha=B\n"));

        // A hand-edited file: comments, other keys and line endings survive.
        WriteFile(ini, "; notes\r\n[port]\r\nname=COM1\r\nExtra=yes\r\n\r\n[Other]\r\nX=1\r\n");
        p.writeString(QStringLiteral("Port"), QStringLiteral("Name"), QStringLiteral("COM4"));
        p.writeInteger(QStringLiteral("Port"), QStringLiteral("Baud"), 2400);
        QCOMPARE(ReadFile(ini),
                 QByteArray("; notes\r\n[port]\r\nName=COM4\r\nExtra=yes\r\nBaud=2400\r\n"
                            "\r\n[Other]\r\nX=1\r\n"));
        QCOMPARE(p.readInteger(QStringLiteral("PORT"), QStringLiteral("baud"), 0), 2400);
    }

    // One save of the port settings' keys: only their lines change, every
    // other byte stays, whatever it is.
    void saveKeepsEveryOtherByte_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("new file: sections in the order of the keys")
            << QByteArray()
            << NewFile("[Port]\nName=COM2\nBaud=9600\nParity=1\n\n[Station]\nAddress=5\n\n"
                       "[Alpha]\nAlpha=B\n");
        QTest::newRow("cp1251 comment and value")
            << QByteArray("; \xcd\xe0\xf1\n[Port]\nName=COM3\nNote=\xef\xee\xf0\xf2\n")
            << QByteArray("; \xcd\xe0\xf1\n[Port]\nName=COM2\nNote=\xef\xee\xf0\xf2\nBaud=9600\n"
                          "Parity=1\n\n[Station]\nAddress=5\n\n[Alpha]\nAlpha=B\n");
        QTest::newRow("byte order mark and CRLF")
            << QByteArray("\xEF\xBB\xBF[Alpha]\r\nalpha = 'Q'\r\n\r\n[port]\r\n  NAME = COM1 \r\n"
                          "Parity=2\r\n\r\n\r\n[Station]\r\n")
            << QByteArray("\xEF\xBB\xBF[Alpha]\r\nAlpha=B\r\n\r\n[port]\r\nName=COM2\r\n"
                          "Parity=1\r\nBaud=9600\r\n\r\n\r\n[Station]\r\nAddress=5\r\n");
        QTest::newRow("binary bytes, lone CR, no line break at the end")
            << Bytes("[Junk]\n\x00\xff\xfe=\x01\r\r\n[Port]\nBaud=1\x00\nName=a\rb")
            << Bytes("[Junk]\n\x00\xff\xfe=\x01\r\r\n[Port]\nBaud=9600\nName=COM2\nParity=1\n\n"
                     "[Station]\nAddress=5\n\n[Alpha]\nAlpha=B\n");
        QTest::newRow("comments, unknown sections, repeated keys and sections")
            << QByteArray("# top\n[Station] ; where\n;Address=9\nAddress = 7 ; old\nAddress=8\n\n"
                          "[Port]\n[Other]\nName=X\n[Port]\nBaud=1\n[Alpha]\nAlpha=\n")
            << QByteArray(
                   "# top\n[Station] ; where\n;Address=9\nAddress=5\nAddress=8\n\n"
                   "[Port]\nName=COM2\nBaud=9600\nParity=1\n[Other]\nName=X\n[Port]\nBaud=1\n"
                   "[Alpha]\nAlpha=B\n");
    }
    void saveKeepsEveryOtherByte() {
        QFETCH(QByteArray, before);
        if (!before.isNull())
            WriteFile(ini, before);
        ProfileFile(ini).write(
            {{QStringLiteral("Port"), QStringLiteral("Name"), QStringLiteral("COM2")},
             {QStringLiteral("Port"), QStringLiteral("Baud"), QStringLiteral("9600")},
             {QStringLiteral("Port"), QStringLiteral("Parity"), QStringLiteral("1")},
             {QStringLiteral("Station"), QStringLiteral("Address"), QStringLiteral("5")},
             {QStringLiteral("Alpha"), QStringLiteral("Alpha"), QStringLiteral("B")}});
        QTEST(ReadFile(ini), "after");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("QS730_View.ini")});
    }

    void saveMakesMissingFoldersForTheOwnerOnly() {
        const QString config = dir.filePath(QStringLiteral("config"));
        const QString file = config + QStringLiteral("/QS730_View/QS730_View.ini");
        ProfileFile(file).writeString(QStringLiteral("Port"), QStringLiteral("Name"),
                                      QStringLiteral("COM2"));
        QCOMPARE(ReadFile(file), NewFile("[Port]\nName=COM2\n"));
#ifndef Q_OS_WIN
        for (const QString& folder : {config, config + QStringLiteral("/QS730_View")})
            QCOMPARE(QFile::permissions(folder) &
                         (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
                     QFile::Permissions());
#endif
        QDir(config).removeRecursively();
    }

    void failedWriteNamesThePathAndLeavesTheFile() {
        WriteFile(ini, "[Port]\nName=COM1\n");
        // No folder can be made below a plain file.
        const QString blocked = ini + QStringLiteral("/dir/x.ini");
        ProfileFile p(blocked);
        try {
            p.writeString(QStringLiteral("Port"), QStringLiteral("Name"), QStringLiteral("COM2"));
            QFAIL("no exception");
        } catch (const Exception& e) {
            QCOMPARE(e.message(),
                     QStringLiteral("Unable to write to «") + blocked + QStringLiteral("»"));
        }
        QCOMPARE(ReadFile(ini), QByteArray("[Port]\nName=COM1\n"));
    }

    // Start-up reads the user's own file, or the one beside a program whose
    // folder is read-only, until the user's own exists.
    void oldSettingsBesideTheProgramAreRead() {
        const QString beside = dir.filePath(QStringLiteral("QS730_View.ini"));
        const QString own = dir.filePath(QStringLiteral("config/QS730_View.ini"));
        WriteFile(beside, "[Port]\nName=COM3\n");
        ReadLinkSettings(ProfileFile(own, beside));
        QCOMPARE(PortName, QStringLiteral("COM3"));
        ProfileFile(own).writeString(QStringLiteral("Port"), QStringLiteral("Name"), "COM5");
        ReadLinkSettings(ProfileFile(own, beside));
        QCOMPARE(PortName, QStringLiteral("COM5"));
        QCOMPARE(QFileInfo(ProgramFolderSettingsFilePath()).absolutePath(),
                 QCoreApplication::applicationDirPath());
        QDir(dir.filePath(QStringLiteral("config"))).removeRecursively();
    }

    // The file in use is one file: until the user's own exists every section
    // reads from the one beside the program, and the first save of any of
    // them (here the check's points) starts from all of it.
    void firstSaveStartsFromTheWholeOlderFile() {
        const QString beside = dir.filePath(QStringLiteral("QS730_View.ini"));
        const QString own = dir.filePath(QStringLiteral("config/QS730_View/QS730_View.ini"));
        const QByteArray old =
            "; mine\r\n[Port]\r\nBaud=9600\r\nParity=0\r\n[Alpha]\r\n"
            "Alpha=B\r\n[Check]\r\nSamples=7\r\n[Protocol]\r\nTechnician=Ivanov\r\n";
        WriteFile(beside, old);
        ProfileFile file(own, beside);
        CheckSettings check = LoadCheckSettings(file);
        QCOMPARE(check.samples, 7);
        check.samples = 9;
        SaveCheckSettings(file, check);
        QCOMPARE(ReadFile(beside), old); // never written
        QVERIFY(ReadFile(own).startsWith("; mine\r\n[Port]\r\nBaud=9600\r\n"));
        for (const ProfileFile& f : {file, ProfileFile(own)}) {
            ReadLinkSettings(f);
            QCOMPARE(std::tuple(BaudRate, int(ParityIndex), SerialLetter),
                     std::tuple(9600, 0, QStringLiteral("B")));
            QCOMPARE(LoadCheckSettings(f).samples, 9);
            QCOMPARE(LoadProtocolPeople(f).technician, QStringLiteral("Ivanov"));
        }
        QDir(dir.filePath(QStringLiteral("config"))).removeRecursively();
    }

#ifndef Q_OS_WIN
    // A save writes through a link to a regular file only, refuses any
    // other target and leaves it alone; it keeps the file's permissions.
    void linkedOrReadOnlySettingsFile_data() {
        QTest::addColumn<QString>("target"); // "@": the scratch folder; "": no link
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("saved");
        QTest::newRow("link to a regular file") << "@/real.ini" << 0640 << true;
        QTest::newRow("read-only file") << "" << 0444 << (::geteuid() == 0); // root only
        QTest::newRow("link to /dev/null") << "/dev/null" << 0 << false;
        QTest::newRow("link to a folder") << "@/folder" << 0 << false;
        QTest::newRow("link to a named pipe") << "@/pipe" << 0 << false;
        QTest::newRow("link to itself") << "@/QS730_View.ini" << 0 << false;
    }
    void linkedOrReadOnlySettingsFile() {
        QFETCH(QString, target);
        QFETCH(int, mode);
        QFETCH(bool, saved);
        QTemporaryDir scratch;
        const QString real = scratch.filePath(QStringLiteral("real.ini"));
        const QString file = scratch.filePath(QStringLiteral("QS730_View.ini"));
        WriteFile(real, "[Port]\nName=COM1\n");
        ::chmod(QFile::encodeName(real), mode_t(mode));
        QDir(scratch.path()).mkdir(QStringLiteral("folder"));
        ::mkfifo(QFile::encodeName(scratch.filePath(QStringLiteral("pipe"))), 0600);
        target.replace(QLatin1Char('@'), scratch.path());
        QVERIFY(target.isEmpty() ? QFile::rename(real, file) : QFile::link(target, file));
        const QByteArray kept = QFile::encodeName(target.isEmpty() ? file : target);
        struct stat before {};
        ::stat(kept, &before);

        QString error;
        try {
            ProfileFile(file).writeString(QStringLiteral("Port"), QStringLiteral("Name"), "COM2");
        } catch (const Exception& e) {
            error = e.message();
        }
        QCOMPARE(error, saved ? QString() : QStringLiteral("Unable to write to «%1»").arg(file));
        QCOMPARE(QFileInfo(file).isSymLink(), !target.isEmpty());
        struct stat after {};
        ::stat(kept, &after);
        QCOMPARE(after.st_mode, before.st_mode); // kind and permissions
        if (!S_ISREG(before.st_mode))
            QCOMPARE(after.st_ino, before.st_ino); // the very same device or folder
        else
            QCOMPARE(ReadFile(file).endsWith("COM2\n"), saved);
    }
#endif

    void openPortThatFails() {
        RecorderUi rec;
        QString status;
        LinkStateSink = [&](const QString& s) { status = s; };
        Comm = {};
        Comm.init_comm = &ScriptedInit;
        WriteFile(ini, "[Port]\nName=COM9\n");
        ReadLinkSettings(ProfileFile(ini));

        initResult = 3;
        QVERIFY(!OpenPort(PortName, BaudRate, ParityIndex));
        QCOMPARE(lastPort, QByteArray("COM9"));
        QCOMPARE(rec.messages.size(), 1);
        QCOMPARE(rec.messages[0].text, QStringLiteral("Невозможно открыть COM9"));
        QCOMPARE(rec.messages[0].caption, QStringLiteral("Ошибка"));
        QVERIFY(rec.messages[0].icon == seam::Icon::Error);
        QVERIFY(rec.messages[0].owner == nullptr);
        QCOMPARE(status, QStringLiteral("Закрыт COM9  19200 бод Even Адрес 1"));

        // The status line shows the stored settings, not the attempt's.
        initResult = 0;
        QVERIFY(OpenPort(QStringLiteral("COM2"), 9600, 0));
        QCOMPARE(status, QStringLiteral("Открыт COM9  19200 бод Even Адрес 1"));
        QCOMPARE(rec.messages.size(), 1);

        LinkStateSink = nullptr;
        Comm = {};
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
