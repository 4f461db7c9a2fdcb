// Record files: written whole or not at all, never over a file another
// writer holds.
#include <QTemporaryDir>
#include <QtTest>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "Errors.h"
#include "RecordFile.h"

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestRecordFile : public QObject {
    Q_OBJECT

  private slots:
    // A save of two files where the second cannot be made changes neither,
    // and leaves no temporary file behind.
    void saves_data() {
        QTest::addColumn<QString>("second"); // relative to the folder
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("both new or replaced") << "b.csv" << true;
        QTest::newRow("second folder missing") << "missing/b.csv" << false;
        QTest::newRow("second is a folder") << "folder" << false;
    }
    void saves() {
        QFETCH(QString, second);
        QFETCH(bool, succeeds);
        QTemporaryDir dir;
        QDir(dir.path()).mkdir(QStringLiteral("folder"));
        const QString a = dir.filePath(QStringLiteral("a.pdf"));
        const QString b = dir.filePath(second);
        QFile old(a);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        const QStringList before = QDir(dir.path()).entryList(QDir::Files);

        QString error;
        try {
            WriteRecordFiles({{a, "new a"}, {b, "new b"}});
        } catch (const Exception& e) {
            error = e.message();
        }
        if (succeeds) {
            QCOMPARE(error, QString());
            QCOMPARE(ReadAll(a), QByteArray("new a"));
            QCOMPARE(ReadAll(b), QByteArray("new b"));
        } else {
            QCOMPARE(error,
                     QStringLiteral("Невозможно сохранить файл ") + QuotedPath(b) +
                         QStringLiteral(".\nНи один файл не изменён:\n") + QuotedPath(a) +
                         QStringLiteral(" — прежний;\n") + QuotedPath(b) +
                         (second == QStringLiteral("folder") ? QStringLiteral(" — прежний")
                                                             : QStringLiteral(" — не создан")));
            QCOMPARE(ReadAll(a), QByteArray("old"));
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), before);
        }
    }

    // The new bytes replace the files one after the other. When that fails
    // half-way, every file replaced so far is put back (a new one removed
    // again), nothing is left beside them, and the message says what each
    // file holds. The hook makes the rename of a file fail by taking its
    // temporary away, and can take a file's old content away too.
    void commitFailsHalfWay_data() {
        QTest::addColumn<bool>("aExisted");
        QTest::addColumn<bool>("bExisted");
        QTest::addColumn<bool>("aLinked");    // a.pdf is a link to real.pdf
        QTest::addColumn<QString>("failing"); // the file whose rename fails, "" none
        QTest::addColumn<bool>("aLost");      // and a.pdf's old content is gone meanwhile
        QTest::addColumn<QByteArray>("aAfter");
        QTest::addColumn<QByteArray>("bAfter");
        QTest::addColumn<QString>("message"); // @a, @b: the quoted paths

        const QString none = QStringLiteral("Ни один файл не изменён:\n");
        QTest::newRow("both replaced") << true << false << false << "" << false
                                       << QByteArray("new a") << QByteArray("new b") << "";
        QTest::newRow("both old, second fails")
            << true << true << false << "b.csv" << false << QByteArray("old a")
            << QByteArray("old b") << none + "@a — прежний;\n@b — прежний";
        QTest::newRow("both new, second fails")
            << false << false << false << "b.csv" << false << QByteArray("<missing>")
            << QByteArray("<missing>") << none + "@a — не создан;\n@b — не создан";
        QTest::newRow("first old, second new, second fails")
            << true << false << false << "b.csv" << false << QByteArray("old a")
            << QByteArray("<missing>") << none + "@a — прежний;\n@b — не создан";
        QTest::newRow("first new, second old, second fails")
            << false << true << false << "b.csv" << false << QByteArray("<missing>")
            << QByteArray("old b") << none + "@a — не создан;\n@b — прежний";
        QTest::newRow("both old, first fails")
            << true << true << false << "a.pdf" << false << QByteArray("old a")
            << QByteArray("old b") << none + "@a — прежний;\n@b — прежний";
        QTest::newRow("first new, first fails")
            << false << true << false << "a.pdf" << false << QByteArray("<missing>")
            << QByteArray("old b") << none + "@a — не создан;\n@b — прежний";
        QTest::newRow("first cannot be put back")
            << true << true << false << "b.csv" << true << QByteArray("new a")
            << QByteArray("old b")
            << "Прежнее удалось вернуть не всем файлам:\n"
               "@a — новый, прежний вернуть не удалось;\n@b — прежний";
#ifndef Q_OS_WIN
        QTest::newRow("through a link, second fails")
            << true << true << true << "b.csv" << false << QByteArray("old a")
            << QByteArray("old b") << none + "@a — прежний;\n@b — прежний";
        QTest::newRow("through a link, both replaced")
            << true << true << true << "" << false << QByteArray("new a") << QByteArray("new b")
            << "";
#endif
    }
    void commitFailsHalfWay() {
        QFETCH(bool, aExisted);
        QFETCH(bool, bExisted);
        QFETCH(bool, aLinked);
        QFETCH(QString, failing);
        QFETCH(bool, aLost);
        QFETCH(QByteArray, aAfter);
        QFETCH(QByteArray, bAfter);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a.pdf"));
        const QString b = dir.filePath(QStringLiteral("b.csv"));
        const QString real = dir.filePath(QStringLiteral("real.pdf"));
        const auto put = [](const QString& path, const QByteArray& bytes) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        };
        if (aExisted)
            put(aLinked ? real : a, "old a");
        if (aLinked)
            QVERIFY(QFile::link(real, a));
        if (bExisted)
            put(b, "old b");
        const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::System);

        QStringList steps;
        QString aAside;
        SetRecordFileStepHook([&](const RecordFileStep& step) {
            steps << QFileInfo(step.path).fileName();
            QCOMPARE(ReadAll(step.temporary), step.path == a ? "new a" : "new b");
            if (step.path == a)
                aAside = step.aside;
            // The old content is kept aside while the new file goes in.
            const bool existed = step.path == a ? aExisted : bExisted;
            QCOMPARE(ReadAll(step.aside), !existed         ? QByteArray("<missing>")
                                          : step.path == a ? QByteArray("old a")
                                                           : QByteArray("old b"));
            if (QFileInfo(step.path).fileName() != failing)
                return;
            QVERIFY(QFile::remove(step.temporary));
            if (aLost)
                QVERIFY(QFile::remove(aAside));
        });
        QString error;
        try {
            WriteRecordFiles({{a, "new a"}, {b, "new b"}});
        } catch (const Exception& e) {
            error = e.message();
        }
        SetRecordFileStepHook(nullptr);

        QCOMPARE(steps.first(), QStringLiteral("a.pdf"));
        message.replace(QStringLiteral("@a"), QuotedPath(a))
            .replace(QStringLiteral("@b"), QuotedPath(b));
        QCOMPARE(error, failing.isEmpty() ? QString()
                                          : QStringLiteral("Невозможно сохранить файл ") +
                                                QuotedPath(dir.filePath(failing)) +
                                                QStringLiteral(".\n") + message);
        QCOMPARE(ReadAll(a), aAfter);
        QCOMPARE(ReadAll(b), bAfter);
        QCOMPARE(QFileInfo(a).isSymLink(), aLinked);
        // Neither a temporary nor an old file stays beside them.
        QStringList expected = before;
        for (const auto& [name, bytes] : {std::pair{QStringLiteral("a.pdf"), aAfter},
                                          std::pair{QStringLiteral("b.csv"), bAfter}})
            if (bytes != "<missing>" && !expected.contains(name))
                expected << name;
        expected.sort();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System), expected);
    }

#ifndef Q_OS_WIN
    // A file the measurement log holds (its advisory lock) is refused before
    // anything is written; once let go it is replaced.
    void heldFileRefused() {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("Журнал.csv"));
        const QString pdf = dir.filePath(QStringLiteral("Журнал.pdf"));
        QFile f(log);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("log");
        f.close();
        const int fd = ::open(QFile::encodeName(log).constData(), O_RDWR);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        QVERIFY(RecordFileHeld(log));
        QVERIFY(!RecordFileHeld(pdf));
        QVERIFY_THROWS_EXCEPTION(Exception, WriteRecordFiles({{pdf, "p"}, {log, "c"}}));
        QVERIFY(!QFile::exists(pdf));
        QCOMPARE(ReadAll(log), QByteArray("log"));
        ::close(fd);
        QVERIFY(!RecordFileHeld(log));
        WriteRecordFile(log, "csv");
        QCOMPARE(ReadAll(log), QByteArray("csv"));
    }
#endif
};

QTEST_GUILESS_MAIN(TestRecordFile)
#include "test_record_file.moc"
