// The settings file, the link settings read from it and the status line.
#include <QTemporaryDir>
#include <QtTest>

#include "Func.h"
#include "Profile.h"
#include "RecorderUi.h"

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

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
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
        ReadLinkSettings(ini);
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
        QTest::newRow("parity low 8 bits")
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
    }
    void valuesAndTheirConversions() {
        QFETCH(QByteArray, file);
        WriteFile(ini, file);
        ReadLinkSettings(ini);
        QTEST(PortName, "port");
        QTEST(static_cast<int>(BaudRate), "baud");
        QTEST(static_cast<int>(ParityIndex), "parity");
        QTEST(SerialLetter, "letter");
        QCOMPARE(ModuleAddress, 1);
    }

    void outOfRangeParityInTheStatusLine() {
        ReadLinkSettings(ini);
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
        QCOMPARE(ReadFile(ini), QByteArray("[Port]\nName=COM2\nBaud=9600\nParity=1\n\n"
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

    void failedWriteNamesThePathAndLeavesTheFile() {
        WriteFile(ini, "[Port]\nName=COM1\n");
        const QString blocked = dir.filePath(QStringLiteral("missing/dir/x.ini"));
        ProfileFile p(blocked);
        try {
            p.writeString(QStringLiteral("Port"), QStringLiteral("Name"), QStringLiteral("COM2"));
            QFAIL("no exception");
        } catch (const Exception& e) {
            QCOMPARE(e.message(), QStringLiteral("Unable to write to ") + blocked);
        }
        QCOMPARE(ReadFile(ini), QByteArray("[Port]\nName=COM1\n"));
    }

    void openPortThatFails() {
        RecorderUi rec;
        QString status;
        LinkStateSink = [&](const QString& s) { status = s; };
        Comm = {};
        Comm.init_comm = &ScriptedInit;
        WriteFile(ini, "[Port]\nName=COM9\n");
        ReadLinkSettings(ini);

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
