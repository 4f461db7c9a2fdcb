// Start-up: binding the communication library and opening the main window.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>
#include <functional>

#include "Errors.h"
#include "Func.h"
#include "Main.h"
#include "Modulparams.h"
#include "Passw.h"
#include "Program.h"
#include "RecorderUi.h"

namespace {

QString Beside(const QString& file) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + file;
}

// A shared library's file name on this system.
QString Shared(const char* name) {
#ifdef Q_OS_WIN
    return QStringLiteral("lib%1.dll").arg(QLatin1String(name));
#else
    return QStringLiteral("lib%1.so").arg(QLatin1String(name));
#endif
}

struct RunResult {
    int code = 0;
    QString status; // the status line while the window was up
    bool windowShown = false;
};

// Runs the program with the library at `path`; the window, if one opens, is
// read, handed to `whileUp` and closed as soon as the event loop runs.
RunResult Run(const QString& path, const std::function<void(TForm1&)>& whileUp = {}) {
    RunResult r;
    QTimer closer; // dies with this call, even when no event loop ever ran it
    closer.setSingleShot(true);
    QObject::connect(&closer, &QTimer::timeout, [&r, &whileUp] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* form = qobject_cast<TForm1*>(w)) {
                r.windowShown = form->isVisible();
                if (auto* label = form->statusBar()->findChild<QLabel*>())
                    r.status = label->text();
                if (whileUp)
                    whileUp(*form);
                form->close();
            }
        }
    });
    closer.start(0);
    r.code = RunProgram(*qApp, path);
    return r;
}

// The files beside the settings file whose names begin with its own.
QStringList SettingsFileFamily() {
    const QFileInfo ini(SettingsFilePath());
    return ini.absoluteDir().entryList({ini.fileName() + QStringLiteral("*")},
                                       QDir::Files | QDir::Hidden | QDir::System);
}

// What the stand-in library's init_comm was last called with.
struct InitCall {
    QString port;
    int32_t baud = -1;
    int32_t parity = -1;
};
InitCall LastInit(const QString& library) {
    QLibrary lib(library);
    using Fn = const char* (*)(int32_t*, int32_t*);
    const auto last = reinterpret_cast<Fn>(lib.resolve("standin_last_init"));
    InitCall call;
    if (last)
        call.port = QString::fromLatin1(last(&call.baud, &call.parity));
    return call;
}

void WriteSettings(const QByteArray& text) {
    QFile f(SettingsFilePath());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

  private slots:
    void init() { QFile::remove(SettingsFilePath()); }
    void cleanup() { QFile::remove(SettingsFilePath()); }

    void bindingFailures_data() {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QString>("message");
        QTest::newRow("no file") << QStringLiteral("nowhere/") + Shared("comm_mb")
                                 << "Не найдена comm_mb.dll!";
        QTest::newRow("no init_comm")
            << Shared("standin_empty") << "comm_mb.dll не содержит функции init_comm!";
        // Lacks EnumParameters too: the first missing one is the only one named.
        QTest::newRow("no invoke_modb")
            << Shared("standin_init_only") << "comm_mb.dll не содержит функции invoke_modb!";
        QTest::newRow("no EnumParameters")
            << Shared("standin_init_invoke") << "comm_mb.dll не содержит функции EnumParameters!";
    }
    void bindingFailures() {
        QFETCH(QString, library);
        RecorderUi rec;
        const RunResult r = Run(Beside(library));
        QCOMPARE(r.code, -1);
        QVERIFY(!r.windowShown);
        QCOMPARE(rec.messages.size(), 1);
        QTEST(rec.messages[0].text, "message");
        QCOMPARE(rec.messages[0].caption, QStringLiteral("Ошибка!"));
        QVERIFY(rec.messages[0].icon == seam::Icon::Error);
        QVERIFY(rec.messages[0].owner == nullptr);
    }

    void defaultsOpenTheWindow() {
        RecorderUi rec;
        const RunResult r = Run(Beside(Shared("standin_all")));
        QCOMPARE(r.code, 0);
        QVERIFY(r.windowShown);
        QVERIFY(rec.messages.isEmpty());
        QCOMPARE(r.status, QStringLiteral("Открыт COM1  19200 бод Even Адрес 1"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("QS730_View"));
    }

    // The link opens with what the settings file holds, not with the defaults.
    void linkOpensWithTheStoredSettings() {
        WriteSettings("[Port]\nName=COM3\nBaud=57600\nParity=1\n[Station]\nAddress=17\n");
        RecorderUi rec;
        const QString library = Beside(Shared("standin_all"));
        const RunResult r = Run(library);
        QCOMPARE(r.code, 0);
        QVERIFY(rec.messages.isEmpty());
        const InitCall init = LastInit(library);
        QCOMPARE(init.port, QStringLiteral("COM3"));
        QCOMPARE(init.baud, 57600);
        QCOMPARE(init.parity, 1);
        QCOMPARE(r.status, QStringLiteral("Открыт COM3  57600 бод Odd Адрес 1"));
    }

    // Entries out of their range, in the tool's settings file or in the
    // library's: one warning before the link opens, which opens on what is
    // in force; the files keep their bytes.
    void outOfRangeSettingsAtStartUp_data() {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QByteArray>("library"); // comm_mb.ini; empty: none
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<QStringList>("entries"); // the warning's lines of entries
        QTest::newRow("Parity=257")
            << QByteArray("[Port]\nBaud=9600\nParity=257\n") << QByteArray() << 9600 << 2
            << QStringList{"[Port] Parity=257 — допустимо от 0 до 2, вместо него действует 2."};
        QTest::newRow("Baud=-1, Parity=258")
            << QByteArray("[Port]\r\nBaud=-1\r\nParity=258\r\n") << QByteArray() << 19200 << 2
            << QStringList{"[Port] Baud=-1 — допустимо 1200, 2400, 4800, 9600, 19200, 28800, "
                           "38400, 57600, 115200, вместо него действует 19200;",
                           "[Port] Parity=258 — допустимо от 0 до 2, вместо него действует 2."};
        QTest::newRow("library's ResponseTimeout=5001")
            << QByteArray("[Port]\nParity=1\n") << QByteArray("[Link]\nResponseTimeout=5001\n")
            << 19200 << 1
            << QStringList{"[Link] ResponseTimeout=5001 — допустимо от 20 до 5000, вместо него "
                           "действует 250."};
        QTest::newRow("all in range")
            << QByteArray("[Port]\nBaud=1200\nParity=0\n")
            << QByteArray("[Link]\nResponseTimeout=5000\n") << 1200 << 0 << QStringList();
    }
    void outOfRangeSettingsAtStartUp() {
        QFETCH(QByteArray, settings);
        QFETCH(QByteArray, library);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(QStringList, entries);
        WriteSettings(settings);
        QFile commIni(CommSettingsFilePath());
        QByteArray kept; // the library's file as other tests left it
        if (commIni.open(QIODevice::ReadOnly))
            kept = commIni.readAll();
        commIni.close();
        if (!library.isEmpty()) {
            QVERIFY(commIni.open(QIODevice::WriteOnly));
            commIni.write(library);
            commIni.close();
        }
        RecorderUi rec;
        const QString standin = Beside(Shared("standin_all"));
        const RunResult r = Run(standin);
        if (!library.isEmpty()) {
            QVERIFY(commIni.open(QIODevice::ReadOnly));
            QCOMPARE(commIni.readAll(), library);
            commIni.close();
            if (kept.isNull()) {
                commIni.remove();
            } else {
                QVERIFY(commIni.open(QIODevice::WriteOnly));
                commIni.write(kept);
                commIni.close();
            }
        }
        QCOMPARE(r.code, 0);
        const InitCall init = LastInit(standin);
        QCOMPARE(init.baud, baud);
        QCOMPARE(init.parity, parity);
        QFile f(SettingsFilePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), settings);
        if (entries.isEmpty()) {
            QCOMPARE(rec.texts(), QStringList());
            return;
        }
        QCOMPARE(rec.messages.size(), 1);
        QVERIFY(rec.messages[0].icon == seam::Icon::Warning);
        QVERIFY(rec.messages[0].owner == nullptr);
        // Each warning here is about one file.
        const QString file =
            entries.first().startsWith("[Link]") ? CommSettingsFilePath() : SettingsFilePath();
        const QStringList lines = rec.messages[0].text.split(QLatin1Char('\n'));
        QCOMPARE(lines.first(), QStringLiteral("В файле настроек %1 не приняты значения вне "
                                               "допустимых пределов:")
                                    .arg(QuotedPath(file)));
        QCOMPARE(lines.mid(1, lines.size() - 2), entries);
        QCOMPARE(lines.last(), QStringLiteral("Файл не изменён."));
    }

    // The service dialog asks the password dialog made at start-up, and what
    // that dialog answers decides over the passport.
    void serviceDialogAsksForThePassword() {
        RecorderUi rec;
        bool asked = false;
        bool opened = false;
        bool editable = false;
        QTimer answer; // answers whichever dialog is up
        QObject::connect(&answer, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* password = qobject_cast<TPassword*>(modal)) {
                asked = true;
                password->findChild<QLineEdit*>("edPass")->setText(QStringLiteral("7301"));
                password->findChild<QPushButton*>("btOK")->click();
            } else if (auto* service = qobject_cast<TModPars*>(modal)) {
                opened = true;
                editable = service->passportEditable();
                service->reject();
            }
        });
        answer.start(10);
        const RunResult r = Run(Beside(Shared("standin_all")), [](TForm1& form) {
            form.findChild<QAction*>("miModPars")->trigger();
        });
        QCOMPARE(r.code, 0);
        QVERIFY(asked);
        QVERIFY(opened);
        QVERIFY(editable);
        QVERIFY(rec.messages.isEmpty());
    }

    // A library without read_frames: the tool starts and polls, the monitor
    // is off and says why, in the menu and in the link statistics.
    void libraryWithoutTheFrames() {
        RecorderUi rec;
        bool checked = false;
        const RunResult r = Run(Beside(Shared("standin_all")), [&checked](TForm1& form) {
            auto* item = form.findChild<QAction*>("miMonitor");
            QVERIFY(item);
            QVERIFY(!item->isEnabled());
            QVERIFY(item->toolTip().contains("read_frames"));
            item->trigger();
            QVERIFY(!form.findChild<QWidget*>("TMonitor"));
            form.findChild<QPushButton*>("btPoll")->click();
            form.findChild<QAction*>("miLinkStats")->trigger();
            auto* jump = form.findChild<QPushButton*>("btMonitor");
            QVERIFY(jump && !jump->isEnabled() && jump->toolTip() == item->toolTip());
            checked = true;
        });
        QCOMPARE(r.code, 0);
        QVERIFY(checked);
        QVERIFY(rec.messages.isEmpty());
    }

    void portThatDoesNotOpen() {
        QFile f(SettingsFilePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Port]\nName=COM9\n[Station]\nAddress=17\n");
        f.close();
        RecorderUi rec;
        const RunResult r = Run(Beside(Shared("standin_all")));
        QCOMPARE(r.code, 0);
        QVERIFY(r.windowShown);
        QCOMPARE(rec.texts(), QStringList{QStringLiteral("Невозможно открыть COM9")});
        QCOMPARE(r.status, QStringLiteral("Закрыт COM9  19200 бод Even Адрес 1"));
    }

    // A save killed at any moment leaves the old file or one whole new one;
    // the next start removes what the killed saves left beside it.
    void killedSavesLeaveWholeFilesAndStartUpClearsTheRest() {
        const QByteArray old = "; \xcd\xe0\xf1\r\n[Port]\r\nName=COM3\r\n\r\n[Other]\r\nX=\xff\r\n";
        const auto saved = [](const char* port, const char* baud, const char* parity,
                              const char* address, const char* letter) {
            return "; \xcd\xe0\xf1\r\n[Port]\r\nName=" + QByteArray(port) + "\r\nBaud=" + baud +
                   "\r\nParity=" + parity +
                   "\r\n\r\n[Other]\r\nX=\xff\r\n\r\n[Station]\r\nAddress=" + address +
                   "\r\n\r\n[Alpha]\r\nAlpha=" + letter + "\r\n";
        };
        const QList<QByteArray> whole = {old, saved("COM2", "9600", "1", "5", "B"),
                                         saved("COM4", "57600", "0", "17", "C")};
        const QString ini = SettingsFilePath();
        QList<int> seen(whole.size(), 0);
        for (int round = 0; round < 40; ++round) {
            QFile f(ini);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
            f.close();
            QProcess saver;
            saver.start(Beside(QStringLiteral("profile_saver")), {ini});
            QVERIFY(saver.waitForReadyRead(10000));
            QTest::qSleep(round % 8); // from at once to several saves in
            saver.kill();
            QVERIFY(saver.waitForFinished(10000));
            QVERIFY(f.open(QIODevice::ReadOnly));
            const qsizetype which = whole.indexOf(f.readAll());
            QVERIFY2(which >= 0, qPrintable(QStringLiteral("round %1").arg(round)));
            ++seen[which];
        }
        qInfo("old file %d times, first set %d, second set %d; %d files left beside it", seen[0],
              seen[1], seen[2], int(SettingsFileFamily().size() - 1));
        QVERIFY(SettingsFileFamily().size() > 1); // some kills hit a save midway

        RecorderUi rec;
        QCOMPARE(Run(Beside(Shared("standin_all"))).code, 0);
        QCOMPARE(SettingsFileFamily(), QStringList{QFileInfo(ini).fileName()});
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
