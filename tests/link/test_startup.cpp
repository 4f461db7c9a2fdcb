// Start-up: binding the communication library and opening the main window.
#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QtTest>

#include "Func.h"
#include "Main.h"
#include "Program.h"
#include "RecorderUi.h"

namespace {

QString Beside(const QString& file) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + file;
}

struct RunResult {
    int code = 0;
    QString status; // the status line while the window was up
    bool windowShown = false;
};

// Runs the program with the library at `path`; the window, if one opens, is
// read and closed as soon as the event loop runs.
RunResult Run(const QString& path) {
    RunResult r;
    QTimer closer; // dies with this call, even when no event loop ever ran it
    closer.setSingleShot(true);
    QObject::connect(&closer, &QTimer::timeout, [&r] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* form = qobject_cast<TForm1*>(w)) {
                r.windowShown = form->isVisible();
                if (auto* label = form->statusBar()->findChild<QLabel*>())
                    r.status = label->text();
                form->close();
            }
        }
    });
    closer.start(0);
    r.code = RunProgram(*qApp, path);
    return r;
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
        QTest::newRow("no file") << "nowhere/libcomm_mb.so"
                                 << "Не найдена comm_mb.dll!";
        QTest::newRow("no init_comm") << "libstandin_empty.so"
                                      << "comm_mb.dll не содержит функции init_comm!";
        // Lacks EnumParameters too: the first missing one is the only one named.
        QTest::newRow("no invoke_modb") << "libstandin_init_only.so"
                                        << "comm_mb.dll не содержит функции invoke_modb!";
        QTest::newRow("no EnumParameters") << "libstandin_init_invoke.so"
                                           << "comm_mb.dll не содержит функции EnumParameters!";
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
        const RunResult r = Run(Beside(QStringLiteral("libstandin_all.so")));
        QCOMPARE(r.code, 0);
        QVERIFY(r.windowShown);
        QVERIFY(rec.messages.isEmpty());
        QCOMPARE(r.status, QStringLiteral("Открыт COM1  19200 бод Even Адрес 1"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("QS730_View"));
    }

    void portThatDoesNotOpen() {
        QFile f(SettingsFilePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Port]\nName=COM9\n[Station]\nAddress=17\n");
        f.close();
        RecorderUi rec;
        const RunResult r = Run(Beside(QStringLiteral("libstandin_all.so")));
        QCOMPARE(r.code, 0);
        QVERIFY(r.windowShown);
        QCOMPARE(rec.texts(), QStringList{QStringLiteral("Невозможно открыть COM9")});
        QCOMPARE(r.status, QStringLiteral("Закрыт COM9  19200 бод Even Адрес 1"));
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
