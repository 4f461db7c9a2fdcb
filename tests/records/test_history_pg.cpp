// The history on a PostgreSQL server the test starts itself, with the
// tables made by the shipped history-server.sql and a technician who logs in
// in its role: every kind of entry comes back as it went, the technician can
// add but never change or delete, a server that is stopped keeps the entries
// in the queue until it is back, and two writers at once write each entry
// once.
#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "Errors.h"
#include "HistoryCases.h"
#include "HistoryQueue.h"
#include "HistoryServer.h"
#include "HistoryStore.h"
#include "HistoryWriter.h"

using namespace History;

class TestHistoryPg : public QObject {
    Q_OBJECT
    PgServer server_;
    QTemporaryDir dir_;

    Target target(const QString& user = QStringLiteral("petrov")) const {
        return HistoryServer::Target(server_, user);
    }

  private slots:
    void initTestCase() {
        QVERIFY2(HistoryServer::Prepare(
                     server_, QStringLiteral("CREATE ROLE petrov LOGIN IN ROLE qs730_technician; "
                                             "CREATE ROLE sidorov LOGIN IN ROLE qs730_technician; "
                                             "CREATE ROLE outsider LOGIN")),
                 qPrintable(server_.why()));
    }

    void everyKindRoundTrips() {
        Store store(target());
        store.open();
        QCOMPARE(store.schemaVersion(), SchemaVersion);
        HistoryCases::RoundTrip(store, QStringLiteral("A0042"));
    }

    void hostileTextIsKeptAsText() {
        Store store(target());
        store.open();
        HistoryCases::HostileRoundTrip(store);
    }

    void technicianCanNeverChangeOrDelete_data() {
        QTest::addColumn<QString>("sql");
        QTest::newRow("update") << QStringLiteral("UPDATE entries SET summary = 'x'");
        QTest::newRow("delete") << QStringLiteral("DELETE FROM entries");
        QTest::newRow("truncate") << QStringLiteral("TRUNCATE entries");
        QTest::newRow("drop") << QStringLiteral("DROP TABLE entries");
        QTest::newRow("schema") << QStringLiteral("UPDATE schema_version SET version = 1");
    }
    void technicianCanNeverChangeOrDelete() {
        QFETCH(QString, sql);
        {
            Store store(target());
            store.add(HistoryCases::EveryKind(QStringLiteral("C0001")));
        }
        const QString name = NewUid();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(server_.socketFolder());
            db.setPort(server_.port());
            db.setDatabaseName(QStringLiteral("history"));
            db.setUserName(QStringLiteral("petrov"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(!q.exec(sql));
            QVERIFY(q.exec(
                QStringLiteral("SELECT COUNT(*) FROM entries WHERE registration = 'C0001'")));
            QVERIFY(q.next());
            QVERIFY(q.value(0).toInt() >= HistoryCases::EveryKind(QString()).size());
        }
        QSqlDatabase::removeDatabase(name);
    }

    void loginRefused_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("database");
        QTest::newRow("no such user") << QStringLiteral("nobody_here") << QStringLiteral("history");
        QTest::newRow("no such database") << QStringLiteral("petrov") << QStringLiteral("nothing");
        QTest::newRow("not in the role") << QStringLiteral("outsider") << QStringLiteral("history");
    }
    void loginRefused() {
        QFETCH(QString, user);
        QFETCH(QString, database);
        Target t = target(user);
        t.database = database;
        Store store(t);
        QString message;
        try {
            store.open();
            store.add({NewEntry(Kind::Seen, QStringLiteral("A0042"), 17)});
        } catch (const Exception& e) {
            message = e.message();
        }
        QVERIFY2(!message.isEmpty(), "the store took the entry");
        QVERIFY2(message.contains(QStringLiteral("сервер")), qPrintable(message));
    }

    // What "Проверить соединение" answers: nothing when the history could
    // be written there, else why not, naming the server.
    void probe_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("why"); // empty: it took
        QTest::newRow("technician") << "petrov"
                                    << "history"
                                    << "";
        QTest::newRow("not in the role") << "outsider"
                                         << "history"
                                         << "Нет доступа к истории";
        QTest::newRow("no such database") << "petrov"
                                          << "nowhere"
                                          << "Нет связи с сервером истории";
        QTest::newRow("no tables") << "petrov"
                                   << "postgres"
                                   << "нет таблиц истории";
    }
    void probe() {
        QFETCH(QString, user);
        QFETCH(QString, database);
        QFETCH(QString, why);
        Target t = target(user);
        t.database = database;
        const QString said = Probe(t);
        if (why.isEmpty()) {
            QVERIFY2(said.isEmpty(), qPrintable(said));
            return;
        }
        QVERIFY2(said.contains(why), qPrintable(said));
        QVERIFY2(said.contains(t.text()), qPrintable(said));
    }

    // Moved from an unusable local file to the server while running: what
    // waited goes to the server.
    void retargetToTheServer() {
        const QString junk = dir_.filePath(QStringLiteral("junk.sqlite"));
        {
            QFile f(junk);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a database, and longer than the header of one");
        }
        Target local;
        local.file = junk;
        Writer writer(local, dir_.filePath(QStringLiteral("retarget.jsonl")), 100000);
        QSignalSpy down(&writer, &Writer::unavailable);
        const auto entries = HistoryCases::EveryKind(QStringLiteral("G0001"));
        for (const Entry& e : entries)
            writer.add(e);
        QTRY_COMPARE_WITH_TIMEOUT(down.size(), 1, 10000);
        writer.retarget(target());
        QTRY_COMPARE_WITH_TIMEOUT(Store(target()).moduleHistory(QStringLiteral("G0001")).size(),
                                  entries.size(), 20000);
        QCOMPARE(down.size(), 1);
    }

    // Stopped while entries come, started again: they all go, each once.
    void queueSurvivesServerStopAndStart() {
        const QString queueFile = dir_.filePath(QStringLiteral("stop.jsonl"));
        Writer writer(target(), queueFile, 200);
        QSignalSpy down(&writer, &Writer::unavailable);
        QSignalSpy up(&writer, &Writer::available);
        const auto first = HistoryCases::EveryKind(QStringLiteral("D0001"));
        for (const Entry& e : first)
            writer.add(e);
        QVERIFY(writer.settle(30000));
        QVERIFY2(server_.stop(), qPrintable(server_.why()));
        const auto second = HistoryCases::EveryKind(QStringLiteral("D0002"));
        for (const Entry& e : second)
            writer.add(e);
        QVERIFY(writer.settle(30000));
        QTRY_COMPARE_WITH_TIMEOUT(down.size(), 1, 10000);
        QList<Entry> waiting;
        QVERIFY(Queue(queueFile).read(&waiting));
        QCOMPARE(waiting.size(), second.size());
        // Retried while down: still said once.
        QTest::qWait(700);
        QCOMPARE(down.size(), 1);

        QVERIFY2(server_.start(), qPrintable(server_.why()));
        QTRY_COMPARE_WITH_TIMEOUT(up.size(), 1, 30000);
        QVERIFY(Queue(queueFile).read(&waiting));
        QVERIFY(waiting.isEmpty());
        Store check(target());
        QCOMPARE(check.moduleHistory(QStringLiteral("D0001")).size(), first.size());
        QCOMPARE(check.moduleHistory(QStringLiteral("D0002")).size(), second.size());
    }

    // The server drops the writer's connection between two writes: the
    // entries wait, a new connection takes them, none is lost or doubled.
    void droppedConnection() {
        const QString queueFile = dir_.filePath(QStringLiteral("drop.jsonl"));
        Writer writer(target(QStringLiteral("sidorov")), queueFile, 200);
        const auto first = HistoryCases::EveryKind(QStringLiteral("F0001"));
        for (const Entry& e : first)
            writer.add(e);
        QVERIFY(writer.settle(30000));
        QVERIFY2(server_.psql(QStringLiteral("history"),
                              QStringLiteral("SELECT pg_terminate_backend(pid) FROM "
                                             "pg_stat_activity WHERE usename = 'sidorov'")),
                 qPrintable(server_.why()));
        const auto second = HistoryCases::EveryKind(QStringLiteral("F0001"));
        for (const Entry& e : second)
            writer.add(e);
        // The first try after the drop fails; a retry a moment later goes.
        QVERIFY(writer.settle(30000));
        const auto stored = [this] {
            Store check(target());
            return check.moduleHistory(QStringLiteral("F0001")).size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(stored(), first.size() + second.size(), 30000);
        QList<Entry> waiting;
        QVERIFY(Queue(queueFile).read(&waiting));
        QVERIFY(waiting.isEmpty());
    }

    void twoWritersAtOnce() {
        {
            Writer a(target(QStringLiteral("petrov")), dir_.filePath(QStringLiteral("a.jsonl")));
            Writer b(target(QStringLiteral("sidorov")), dir_.filePath(QStringLiteral("b.jsonl")));
            QList<Entry> both;
            for (int i = 0; i < 200; ++i) {
                const Entry ea = NewEntry(Kind::Seen, QStringLiteral("E%1").arg(i % 20), 17);
                const Entry eb = NewEntry(Kind::Check, QStringLiteral("E%1").arg(i % 20), 17);
                a.add(ea);
                b.add(eb);
                // The same entry from both: it is kept once.
                if (i % 50 == 0) {
                    a.add(eb);
                    b.add(ea);
                }
            }
            QVERIFY(a.settle(60000));
            QVERIFY(b.settle(60000));
        }
        Store check(target());
        int total = 0;
        for (int i = 0; i < 20; ++i)
            total += check.moduleHistory(QStringLiteral("E%1").arg(i)).size();
        QCOMPARE(total, 400);
        const auto fleet = check.fleet(QDate::currentDate());
        int modules = 0;
        for (const ModuleRow& r : fleet)
            modules += r.registration.startsWith(QLatin1Char('E'));
        QCOMPARE(modules, 20);
    }
};

QTEST_GUILESS_MAIN(TestHistoryPg)
#include "test_history_pg.moc"
