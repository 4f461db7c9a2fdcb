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
            QCOMPARE(error, QStringLiteral("Невозможно сохранить файл ") + QuotedPath(b));
            QCOMPARE(ReadAll(a), QByteArray("old"));
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), before);
        }
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
