// "Проверить соединение" against a PostgreSQL server of the test's own, with
// the tables of the shipped history-server.sql: a technician's login takes
// and is said so, naming the server; one outside the technicians' role is
// refused with the reason.
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "Controls.h"
#include "HistoryServer.h"
#include "HistorySettings.h"
#include "Profile.h"
#include "RecorderUi.h"

using History::Target;

class TestHistorySettingsPg : public QObject {
    Q_OBJECT
    PgServer server_;
    QTemporaryDir dir_;
    RecorderUi ui_;

  private slots:
    void initTestCase() {
        QVERIFY2(HistoryServer::Prepare(
                     server_, QStringLiteral("CREATE ROLE petrov LOGIN IN ROLE qs730_technician; "
                                             "CREATE ROLE outsider LOGIN")),
                 qPrintable(server_.why()));
    }

    void check_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("answer");
        QTest::newRow("technician") << "petrov"
                                    << "Соединение установлено: сервер %1.";
        QTest::newRow("outside the role")
            << "outsider"
            << "Соединение не установлено: сервер %1.\nНет доступа к истории";
    }
    void check() {
        QFETCH(QString, user);
        QFETCH(QString, answer);
        const Target t = HistoryServer::Target(server_, user);
        THistorySettings w(nullptr, t, ProfileFile(dir_.filePath(QStringLiteral("s.ini"))));
        QSignalSpy done(&w, &THistorySettings::checked);
        Control<QPushButton>(w, "btCheck")->click();
        QVERIFY(done.wait(20000));
        QVERIFY2(w.checkText().startsWith(
                     answer.arg(QStringLiteral("%1:%2/history").arg(t.host).arg(t.port))),
                 qPrintable(w.checkText()));
        QVERIFY(w.checkText().contains(server_.socketFolder()));
        QVERIFY(ui_.messages.isEmpty());
    }
};

QTEST_MAIN(TestHistorySettingsPg)
#include "test_history_settings_pg.moc"
