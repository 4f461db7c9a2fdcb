// The history's local store, its queue and its writer, on SQLite files in a
// temporary folder: every kind of entry comes back as it went, nothing is
// written twice, a file of the first schema is brought up to date, a file of
// a newer schema or none at all is left untouched, and while the file is
// locked entries wait in the queue and go when it is free.
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "Errors.h"
#include "HistoryCases.h"
#include "HistoryQueue.h"
#include "HistoryStore.h"
#include "HistoryWriter.h"
#include "Profile.h"

using namespace History;

namespace {
QByteArray FileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

Target Local(const QString& path) {
    Target t;
    t.file = path;
    return t;
}

// A raw connection to the file beside the store's own.
struct Raw {
    explicit Raw(const QString& path) : name(NewUid()) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
    }
    ~Raw() {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    bool exec(const QString& sql) {
        QSqlQuery q(QSqlDatabase::database(name, false));
        return q.exec(sql);
    }
    QString name;
};

Entry Made(Kind kind, const QString& reg, const QDate& day, int type = 17) {
    Entry e = NewEntry(kind, reg, type);
    e.made = QDateTime(day, QTime(12, 0), Qt::UTC);
    return e;
}
} // namespace

class TestHistoryStore : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

  private slots:
    void everyKindRoundTrips() {
        Store store(Local(path(QStringLiteral("round.sqlite"))));
        store.open();
        QCOMPARE(store.schemaVersion(), SchemaVersion);
        HistoryCases::RoundTrip(store, QStringLiteral("A0042"));
        // Another module's entries stay apart.
        HistoryCases::RoundTrip(store, QStringLiteral("B0001"));
        QCOMPARE(store.moduleHistory(QStringLiteral("A0042")).size(),
                 HistoryCases::EveryKind(QString()).size());
    }

    void hostileTextIsKeptAsText() {
        Store store(Local(path(QStringLiteral("hostile.sqlite"))));
        store.open();
        HistoryCases::HostileRoundTrip(store);
    }

    void entriesAreNeverChangedOrDeleted() {
        const QString file = path(QStringLiteral("append.sqlite"));
        Store store(Local(file));
        store.open();
        store.add(HistoryCases::EveryKind(QStringLiteral("A0042")));
        Raw raw(file);
        QVERIFY(!raw.exec(QStringLiteral("UPDATE entries SET summary = 'x'")));
        QVERIFY(!raw.exec(QStringLiteral("DELETE FROM entries")));
        QCOMPARE(store.count(), HistoryCases::EveryKind(QString()).size());
    }

    void firstSchemaIsMigrated() {
        const QString file = path(QStringLiteral("v1.sqlite"));
        {
            Raw raw(file);
            MakeLocalSchema(raw.name, 1);
            QSqlQuery q(QSqlDatabase::database(raw.name, false));
            QVERIFY(q.prepare(QStringLiteral(
                "INSERT INTO entries (uid, kind, registration, made, pc, technician, summary, "
                "details) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")));
            for (const QVariant& v :
                 {QVariant(QStringLiteral("old-1")), QVariant(QStringLiteral("calibration")),
                  QVariant(QStringLiteral("A0042")),
                  QVariant(QStringLiteral("2020-05-04T10:00:00.000Z")),
                  QVariant(QStringLiteral("PC")), QVariant(QStringLiteral("Иванов")),
                  QVariant(QStringLiteral("Калибровка")), QVariant(QStringLiteral("{\"a\":1}"))})
                q.addBindValue(v);
            QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
        }
        Store store(Local(file));
        store.open();
        QCOMPARE(store.schemaVersion(), 2);
        const auto old = store.moduleHistory(QStringLiteral("A0042"));
        QCOMPARE(old.size(), 1);
        QCOMPARE(old[0].uid, QStringLiteral("old-1"));
        QCOMPARE(old[0].kind, Kind::Calibration);
        QCOMPARE(old[0].made, QDateTime(QDate(2020, 5, 4), QTime(10, 0), Qt::UTC));
        QCOMPARE(old[0].details.value(QStringLiteral("a")).toInt(), 1);
        HistoryCases::RoundTrip(store, QStringLiteral("A0042-new"));
        // The old entry counts in the fleet.
        const auto row = store.module(QStringLiteral("A0042"), QDate(2021, 1, 1));
        QVERIFY(row);
        QCOMPARE(row->lastCalibration, QDate(2020, 5, 4));
        // Opened again, nothing is migrated twice.
        store.close();
        store.open();
        QCOMPARE(store.schemaVersion(), 2);
    }

    void unusableFilesAreLeftUntouched_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("version"); // made as SQLite with this schema; 0: raw bytes
        QTest::addColumn<QString>("says");
        QTest::newRow("newer schema") << QByteArray() << 99 << QStringLiteral("более новой");
        QTest::newRow("not a database")
            << QByteArray("id;kind\n1;calibration\n") << 0 << QStringLiteral("не является");
        QTest::newRow("header only")
            << QByteArray("SQLite format 3\0garbage", 24) << 0 << QStringLiteral("не читается");
    }
    void unusableFilesAreLeftUntouched() {
        QFETCH(QByteArray, content);
        QFETCH(int, version);
        QFETCH(QString, says);
        const QString file = path(QStringLiteral("bad-%1.sqlite").arg(QTest::currentDataTag()));
        if (version) {
            Raw raw(file);
            QVERIFY(raw.exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER)")));
            QVERIFY(
                raw.exec(QStringLiteral("INSERT INTO schema_version VALUES (%1)").arg(version)));
        } else {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        const QByteArray before = FileHash(file);
        Store store(Local(file));
        QString message;
        try {
            store.open();
            store.add({NewEntry(Kind::Seen, QStringLiteral("A0042"), 17)});
        } catch (const Exception& e) {
            message = e.message();
        }
        QVERIFY2(message.contains(says), qPrintable(message));
        QVERIFY2(message.contains(file) || message.contains(QDir::toNativeSeparators(file)),
                 qPrintable(message));
        store.close();
        QCOMPARE(FileHash(file), before);
    }

    void dueDates_data() {
        QTest::addColumn<QDate>("calibrated");
        QTest::addColumn<int>("moduleMonths"); // 0: none set for the module
        QTest::addColumn<int>("typeMonths");   // 0: none set for the type
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QDate>("due");
        QTest::addColumn<int>("state");
        const QDate c(2025, 6, 15);
        QTest::newRow("default 12 months, fine")
            << c << 0 << 0 << QDate(2026, 1, 1) << QDate(2026, 6, 15) << int(DueState::Ok);
        QTest::newRow("within 30 days")
            << c << 0 << 0 << QDate(2026, 5, 16) << QDate(2026, 6, 15) << int(DueState::Soon);
        QTest::newRow("on the day")
            << c << 0 << 0 << QDate(2026, 6, 15) << QDate(2026, 6, 15) << int(DueState::Soon);
        QTest::newRow("a day late")
            << c << 0 << 0 << QDate(2026, 6, 16) << QDate(2026, 6, 15) << int(DueState::Overdue);
        QTest::newRow("type's interval")
            << c << 0 << 24 << QDate(2026, 6, 16) << QDate(2027, 6, 15) << int(DueState::Ok);
        QTest::newRow("module's over type's")
            << c << 6 << 24 << QDate(2026, 1, 1) << QDate(2025, 12, 15) << int(DueState::Overdue);
        QTest::newRow("never calibrated")
            << QDate() << 0 << 0 << QDate(2026, 1, 1) << QDate() << int(DueState::Unknown);
    }
    void dueDates() {
        QFETCH(QDate, calibrated);
        QFETCH(int, moduleMonths);
        QFETCH(int, typeMonths);
        QFETCH(QDate, today);
        QFETCH(QDate, due);
        QFETCH(int, state);
        Store store(Local(path(QStringLiteral("due-%1.sqlite").arg(QTest::currentDataTag()))));
        store.open();
        QList<Entry> entries;
        Entry seen = Made(Kind::Seen, QStringLiteral("A0042"), QDate(2025, 1, 1));
        seen.details[QStringLiteral("firmware")] = QStringLiteral("1.07");
        entries << seen;
        // Another type's interval and another module's do not count.
        Entry other = Made(Kind::Interval, QString(), QDate(2024, 1, 1), 18);
        other.details[QStringLiteral("months")] = 1;
        entries << other;
        Entry otherModule = Made(Kind::Interval, QStringLiteral("A0043"), QDate(2024, 1, 1));
        otherModule.details[QStringLiteral("months")] = 1;
        entries << otherModule;
        if (calibrated.isValid())
            entries << Made(Kind::Calibration, QStringLiteral("A0042"), calibrated);
        if (typeMonths) {
            Entry t = Made(Kind::Interval, QString(), QDate(2024, 1, 1));
            t.details[QStringLiteral("months")] = typeMonths;
            entries << t;
        }
        if (moduleMonths) {
            Entry m = Made(Kind::Interval, QStringLiteral("A0042"), QDate(2024, 1, 1));
            m.details[QStringLiteral("months")] = moduleMonths;
            entries << m;
        }
        store.add(entries);
        const auto row = store.module(QStringLiteral("A0042"), today);
        QVERIFY(row);
        QCOMPARE(row->due, due);
        QCOMPARE(int(row->state), state);
        QCOMPARE(row->firmware, QStringLiteral("1.07"));
        QCOMPARE(row->moduleType, 17);
        QCOMPARE(row->lastSeen, seen.made);
    }

    void moduleOwnDateCountsWithoutCalibrations() {
        Store store(Local(path(QStringLiteral("own.sqlite"))));
        store.open();
        Entry seen = Made(Kind::Seen, QStringLiteral("A0050"), QDate(2026, 1, 1));
        seen.details[QStringLiteral("calibrationDate")] = QStringLiteral("2024-03-10");
        store.add({seen});
        const auto fleet = store.fleet(QDate(2026, 1, 1));
        QCOMPARE(fleet.size(), 1);
        QCOMPARE(fleet[0].lastCalibration, QDate(2024, 3, 10));
        QCOMPARE(fleet[0].state, DueState::Overdue);
    }

    void queueKeepsWhatIsNotTakenOut() {
        const QString file = path(QStringLiteral("queue.jsonl"));
        Queue queue(file);
        const auto entries = HistoryCases::EveryKind(QStringLiteral("A0042"));
        QVERIFY(queue.append(entries.mid(0, 4)));
        // A line a crash cut short, then more entries after it.
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::Append));
            f.write(EntryLine(entries[4]).left(20));
        }
        QVERIFY(queue.append(entries.mid(5)));
        QList<Entry> waiting;
        QVERIFY(queue.read(&waiting));
        QCOMPARE(waiting.size(), entries.size() - 1);
        QVERIFY(waiting.first() == entries.first());
        QVERIFY(waiting.last() == entries.last());
        QVERIFY(queue.remove({entries[0].uid, entries[5].uid}));
        QVERIFY(queue.read(&waiting));
        QCOMPARE(waiting.size(), entries.size() - 3);
        for (const Entry& e : waiting)
            QVERIFY(e.uid != entries[0].uid && e.uid != entries[5].uid);
    }

    void queueGivesUpOnAHeldLock() {
        const QString file = path(QStringLiteral("held.jsonl"));
        QLockFile other(file + QStringLiteral(".lock"));
        QVERIFY(other.lock());
        Queue queue(file, 200);
        QString why;
        QElapsedTimer t;
        t.start();
        QVERIFY(!queue.append({NewEntry(Kind::Seen, QStringLiteral("A1"), 17)}, &why));
        QVERIFY(t.elapsed() < 10000);
        QVERIFY2(why.contains(QStringLiteral("занята")), qPrintable(why));
        other.unlock();
        QVERIFY(queue.append({NewEntry(Kind::Seen, QStringLiteral("A1"), 17)}, &why));
    }

    void lockedFileWaitsInTheQueue() {
        const QString file = path(QStringLiteral("locked.sqlite"));
        const QString queueFile = path(QStringLiteral("locked.jsonl"));
        {
            Store s(Local(file));
            s.open();
        }
        // Another program holds the file in a write transaction.
        auto raw = std::make_unique<Raw>(file);
        QVERIFY(raw->exec(QStringLiteral("BEGIN EXCLUSIVE")));
        Writer writer(Local(file), queueFile, 100000);
        QSignalSpy down(&writer, &Writer::unavailable);
        QSignalSpy up(&writer, &Writer::available);
        const auto entries = HistoryCases::EveryKind(QStringLiteral("A0042"));
        for (const Entry& e : entries)
            writer.add(e);
        QVERIFY(writer.settle(30000));
        writer.add(NewEntry(Kind::Seen, QStringLiteral("A0042"), 17));
        QVERIFY(writer.settle(30000));
        QTRY_COMPARE_WITH_TIMEOUT(down.size(), 1, 5000);
        // Said once, however many entries wait.
        QCOMPARE(down.size(), 1);
        QList<Entry> waiting;
        QVERIFY(Queue(queueFile).read(&waiting));
        QCOMPARE(waiting.size(), entries.size() + 1);

        raw->exec(QStringLiteral("ROLLBACK"));
        raw.reset();
        QVERIFY(writer.settle(30000));
        QTRY_COMPARE_WITH_TIMEOUT(up.size(), 1, 5000);
        QCOMPARE(up.first().first().toInt(), entries.size() + 1);
        QVERIFY(Queue(queueFile).read(&waiting));
        QVERIFY(waiting.isEmpty());
        Store check(Local(file));
        QCOMPARE(check.count(), entries.size() + 1);
    }

    void queueLeftByAnEarlierRunGoesOnStart() {
        const QString file = path(QStringLiteral("earlier.sqlite"));
        const QString queueFile = path(QStringLiteral("earlier.jsonl"));
        const auto entries = HistoryCases::EveryKind(QStringLiteral("A0042"));
        QVERIFY(Queue(queueFile).append(entries));
        // One of them had reached the store before the run ended.
        {
            Store s(Local(file));
            s.add({entries[3]});
        }
        {
            Writer writer(Local(file), queueFile);
            QVERIFY(writer.settle(30000));
        }
        Store check(Local(file));
        QCOMPARE(check.count(), entries.size());
    }

    // A new store named while the tool runs takes what waits in the queue
    // at once; a store that cannot be reached is told once for each store.
    void retargetTakesTheQueueAlong() {
        const QString junk = path(QStringLiteral("retarget-junk.sqlite"));
        {
            QFile f(junk);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a database at all, and longer than its header");
        }
        const QByteArray junkHash = FileHash(junk);
        const QString good = path(QStringLiteral("retarget-good.sqlite"));
        const QString queueFile = path(QStringLiteral("retarget.jsonl"));
        Writer writer(Local(junk), queueFile, 100000);
        QSignalSpy down(&writer, &Writer::unavailable);
        const auto entries = HistoryCases::EveryKind(QStringLiteral("A0042"));
        for (const Entry& e : entries)
            writer.add(e);
        QVERIFY(writer.settle(30000));
        QTRY_COMPARE_WITH_TIMEOUT(down.size(), 1, 5000);

        writer.retarget(Local(good));
        QCOMPARE(writer.target().file, good);
        writer.add(NewEntry(Kind::Seen, QStringLiteral("A0043"), 17));
        // (Tries asked for before the move may still be on their way.)
        QTRY_COMPARE_WITH_TIMEOUT(Store(Local(good)).count(), entries.size() + 1, 10000);
        QList<Entry> waiting;
        QVERIFY(Queue(queueFile).read(&waiting));
        QVERIFY(waiting.isEmpty());
        QCOMPARE(FileHash(junk), junkHash);
        QCOMPARE(down.size(), 1);

        // Back to the unusable file: told again, once.
        writer.retarget(Local(junk));
        writer.add(NewEntry(Kind::Seen, QStringLiteral("A0044"), 17));
        QTRY_COMPARE_WITH_TIMEOUT(down.size(), 2, 10000);
        writer.add(NewEntry(Kind::Seen, QStringLiteral("A0045"), 17));
        QVERIFY(writer.settle(30000));
        QVERIFY(down.last().first().toString().contains(QStringLiteral("не является базой")));
        QVERIFY(Queue(queueFile).read(&waiting));
        QCOMPARE(waiting.size(), 2);
        QCOMPARE(down.size(), 2);
    }

    // The section "History" as the settings dialog saves it: the names the
    // files already use, never the password.
    void settingsKeepTheirNames_data() {
        QTest::addColumn<bool>("server");
        QTest::addColumn<bool>("ask");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("local file")
            << false << false << QStringList{"Server=0",      "Host=db.local", "Port=5433",
                                             "Database=hist", "User=ivanov",   "AskPassword=0"};
        QTest::newRow("server, password file")
            << true << false << QStringList{"Server=1",      "Host=db.local", "Port=5433",
                                            "Database=hist", "User=ivanov",   "AskPassword=0"};
        QTest::newRow("server, asked")
            << true << true << QStringList{"Server=1", "AskPassword=1", "User=ivanov"};
    }
    void settingsKeepTheirNames() {
        QFETCH(bool, server);
        QFETCH(bool, ask);
        QFETCH(QStringList, lines);
        const QString file = path(QStringLiteral("settings-%1%2.ini").arg(server).arg(ask));
        const QString own = path(QStringLiteral("own.sqlite"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QStringLiteral("[Port]\nName=COM3\n[History]\nFile=%1\n").arg(own).toUtf8());
        }
        ProfileFile settings(file);
        Target t = LoadTarget(settings);
        t.backend = server ? Target::Backend::Server : Target::Backend::Local;
        t.host = QStringLiteral("db.local");
        t.port = 5433;
        t.database = QStringLiteral("hist");
        t.user = QStringLiteral("ivanov");
        t.password = QStringLiteral("s3cret-word");
        t.askPassword = ask;
        SaveTarget(settings, t);

        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        for (const QString& line : lines)
            QVERIFY2(text.contains(line + QLatin1Char('\n')), qPrintable(line + "\n" + text));
        QVERIFY(!text.contains(QStringLiteral("s3cret")));
        QVERIFY(text.contains(QStringLiteral("Name=COM3")));
        const Target back = LoadTarget(settings);
        QCOMPARE(back.backend, t.backend);
        QCOMPARE(back.file, own); // kept as the file had it
        QCOMPARE(back.host, t.host);
        QCOMPARE(back.port, t.port);
        QCOMPARE(back.database, t.database);
        QCOMPARE(back.user, t.user);
        QCOMPARE(back.askPassword, ask);
        QVERIFY(back.password.isEmpty());
    }

    void twoWritersAtOnce_data() {
        QTest::addColumn<bool>("sharedQueue");
        QTest::newRow("two PCs") << false;
        QTest::newRow("one PC, two copies") << true;
    }
    void twoWritersAtOnce() {
        QFETCH(bool, sharedQueue);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).left(3);
        const QString file = path(QStringLiteral("two-%1.sqlite").arg(tag));
        {
            // A writer that finds the file busy tries again soon.
            Writer a(Local(file), path(QStringLiteral("two-%1-a.jsonl").arg(tag)), 100);
            Writer b(Local(file),
                     path(QStringLiteral("two-%1-%2.jsonl")
                              .arg(tag, sharedQueue ? QStringLiteral("a") : QStringLiteral("b"))),
                     100);
            for (int i = 0; i < 150; ++i) {
                a.add(NewEntry(Kind::Seen, QStringLiteral("A%1").arg(i % 10), 17));
                b.add(NewEntry(Kind::Check, QStringLiteral("A%1").arg(i % 10), 17));
            }
            QVERIFY(a.settle(60000));
            QVERIFY(b.settle(60000));
            const auto stored = [&] {
                Store s(Local(file));
                return s.count();
            };
            QTRY_COMPARE_WITH_TIMEOUT(stored(), 300, 60000);
        }
        Store check(Local(file));
        QCOMPARE(check.count(), 300);
        QCOMPARE(check.fleet(QDate(2026, 1, 1)).size(), 10);
    }
};

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "test_history_store.moc"
