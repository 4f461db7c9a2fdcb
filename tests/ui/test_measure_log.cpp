// The measurement log on its own, fed polls by hand: which files it continues,
// a second log on the same file, a disk that is full at the header or in a
// line, a line cut short, and a disk that hangs when the log is stopped.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>
#include <atomic>
#include <memory>
#ifndef Q_OS_WIN
#include <csignal>
#include <sys/resource.h>
#endif

#include "MeasureLog.h"
#include "RecorderUi.h"
#include "SaveAs.h"

namespace {

const QByteArray Bom = QByteArrayLiteral("\xEF\xBB\xBF");
const QByteArray Flags = "Ошибка внутреннего ОЗУ;Ошибка КС FLASH;Ошибка КС параметров;Ошибка "
                         "чтения АЦП;Выход за диапазон;Данные некорректны";
const QByteArray Header = "Дата и время;Значение;Ед. изм.;" + Flags;
const QByteArray OldHeader = "Дата и время;Значение;Единица;" + Flags;
// The line of Poll(value).
QByteArray Row(int value = 12003) {
    return "15.03.2026 14:03:12,345;" + QByteArray::number(value) + ";мкА;0;0;0;0;0;0";
}

PollOutcome Poll(uint16_t value) {
    PollOutcome o;
    o.msecs = QDateTime(QDate(2026, 3, 15), QTime(14, 3, 12, 345)).toMSecsSinceEpoch();
    o.mode = 1;
    o.ok = true;
    o.value = value;
    return o;
}

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A log with its menu item, as the main window has one.
struct Logger {
    QWidget owner;
    QAction item{&owner};
    std::unique_ptr<MeasureLog> log = std::make_unique<MeasureLog>(&item, &owner);

    void toggle(const QString& path) {
        AskSaveFileName = [path](QWidget*, const QString&, const QString&, const QString&, bool) {
            return path;
        };
        item.trigger();
    }
};

// A disk that holds every write until it is let go.
struct HangingDisk {
    QSemaphore letGo;
    std::atomic<bool> hanging{false};
    bool fails = false;
};

} // namespace

class TestMeasureLog : public QObject {
    Q_OBJECT

    RecorderUi rec;
    QTemporaryDir dir;

    // A file name of the test and its row.
    QString scratchFile() {
        return dir.filePath(QString(QTest::currentTestFunction()) + '-' + QTest::currentDataTag() +
                            ".csv");
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
#ifndef Q_OS_WIN
        std::signal(SIGXFSZ, SIG_IGN); // a write over the size limit fails instead
#endif
    }
    void init() {
        rec.clear();
    }

    // An existing file is continued only when it is such a log, of today's
    // program or the one before; anything else is left as it is.
    void continuesOnlyItsOwnLog_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("added"); // before the poll's line; "-" refused
        QTest::newRow("new file") << false << QByteArray() << Bom + Header + "\r\n";
        QTest::newRow("empty file") << true << QByteArray() << Bom + Header + "\r\n";
        QTest::newRow("this log") << true << Bom + Header + "\r\n" + Row() + "\r\n" << QByteArray();
        QTest::newRow("without the mark") << true << Header + "\r\n" << QByteArray();
        QTest::newRow("the old header") << true << Bom + OldHeader + "\r\n" + Row() + "\r\n"
                                        << QByteArray();
        QTest::newRow("header with a Unix line end") << true << Bom + Header + "\n" << QByteArray();
        QTest::newRow("a spreadsheet's file")
            << true << QByteArray("a;b;c\r\n1;2;3\r\n") << QByteArray("-");
        QTest::newRow("a picture")
            << true << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << QByteArray("-");
        QTest::newRow("line ends CR only")
            << true << Bom + Header + "\r" + Row() + "\r" << QByteArray("-");
        QTest::newRow("another header") << true << Bom + Header + ";Примечание\r\n"
                                        << QByteArray("-");
    }
    void continuesOnlyItsOwnLog() {
        QFETCH(bool, exists);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, added);
        const QString path = scratchFile();
        if (exists)
            Write(path, before);
        Logger logger;
        logger.toggle(path);
        logger.log->record(Poll(12003));
        if (logger.item.isChecked())
            logger.toggle(path);
        QTRY_VERIFY(!logger.log->busy());
        if (added == "-") {
            QCOMPARE(rec.texts(), QStringList(seam::ErrorBoxText(
                                      "Файл «" + QDir::toNativeSeparators(path) +
                                      "» не является журналом измерений.\nВыберите другой файл")));
            QCOMPARE(Contents(path), before);
            QVERIFY(!logger.item.isChecked());
        } else {
            QCOMPARE(rec.texts(), QStringList());
            QCOMPARE(Contents(path), before + added + Row() + "\r\n");
        }
    }

    // A second log (another copy of the program) on a file in use is
    // refused, and takes the file once the first one has let it go.
    void secondLogOnTheFileRefused() {
        const QString path = dir.filePath("shared.csv");
        Logger first;
        Logger second;
        first.toggle(path);
        QVERIFY(first.item.isChecked());
        second.toggle(path);
        QVERIFY(!second.item.isChecked());
        QCOMPARE(rec.texts(),
                 QStringList(seam::ErrorBoxText("Невозможно открыть файл «" +
                                                QDir::toNativeSeparators(path) + "»")));
        first.log->record(Poll(1));
        second.log->record(Poll(2)); // not on: nothing
        first.toggle(path);
        QTRY_VERIFY(!first.log->busy());
        second.toggle(path);
        QVERIFY(second.item.isChecked());
        second.log->record(Poll(3));
        second.toggle(path);
        QTRY_VERIFY(!second.log->busy());
        QCOMPARE(Contents(path), Bom + Header + "\r\n" + Row(1) + "\r\n" + Row(3) + "\r\n");
    }

#ifndef Q_OS_WIN
    // No room for the header: the box says that writing failed, and nothing
    // of the attempt stays in the file.
    void fullDiskAtTheHeader_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("deviceFull"); // the file is a link to /dev/full
        QTest::newRow("new file") << false << QByteArray() << false;
        QTest::newRow("empty file") << true << QByteArray() << false;
        QTest::newRow("a link to the full device") << true << QByteArray() << true;
    }
    void fullDiskAtTheHeader() {
        QFETCH(bool, exists);
        QFETCH(QByteArray, before);
        QFETCH(bool, deviceFull);
        if (deviceFull && !QFile::exists("/dev/full"))
            QSKIP("no /dev/full here");
        const QString path = scratchFile();
        if (deviceFull)
            QVERIFY(QFile::link("/dev/full", path));
        else if (exists)
            Write(path, before);
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = static_cast<rlim_t>(before.size() + 1); // a byte of room
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        Logger logger;
        logger.toggle(path);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &saved) == 0);
        QCOMPARE(rec.texts(),
                 QStringList(seam::ErrorBoxText("Ошибка записи в файл «" +
                                                QDir::toNativeSeparators(path) + "»")));
        QVERIFY(!logger.item.isChecked());
        QVERIFY(!logger.log->busy());
        QCOMPARE(QFileInfo(path).isSymLink(), deviceFull);
        if (!deviceFull) {
            QCOMPARE(QFileInfo::exists(path), exists);
            if (exists)
                QCOMPARE(Contents(path), before);
        }
    }
#endif

#ifndef Q_OS_WIN
    // A line cut short is never joined with later data: one the disk had no
    // room for is taken back at once, and one that a power cut left at the
    // end of the file goes when the log is started on it again. A line that
    // lacks only its line break is ended.
    void cutLineNeverJoinsLaterData_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>("room"); // for the first poll's line; -1: no first poll
        QTest::addColumn<QByteArray>("kept");
        const QByteArray header = Bom + Header + "\r\n";
        const QByteArray one = header + Row(1) + "\r\n";
        QTest::newRow("disk full in a line") << QByteArray() << 27 << header;
        QTest::newRow("power cut in the value") << one + Row(120).left(27) << -1 << one;
        QTest::newRow("power cut in the date") << header + "15.03.2026 14:0" << -1 << header;
        QTest::newRow("only the line break missing")
            << one + Row(2) + "\r" << -1 << one + Row(2) + "\r\n";
    }
    void cutLineNeverJoinsLaterData() {
        QFETCH(QByteArray, before);
        QFETCH(int, room);
        QFETCH(QByteArray, kept);
        const QString path = scratchFile();
        if (!before.isEmpty())
            Write(path, before);
        Logger logger;
        logger.toggle(path);
        if (room >= 0) {
            rlimit saved{};
            QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
            rlimit small = saved;
            small.rlim_cur = static_cast<rlim_t>(QFileInfo(path).size() + room);
            QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
            logger.log->record(Poll(12000));
            QTRY_COMPARE(rec.messages.size(), 1); // written in part, and failed
            QVERIFY(setrlimit(RLIMIT_FSIZE, &saved) == 0);
            QTRY_VERIFY(!logger.log->busy());
            QCOMPARE(Contents(path), kept);
            rec.clear();
            logger.toggle(path); // on again
        }
        logger.log->record(Poll(12003));
        logger.toggle(path);
        QTRY_VERIFY(!logger.log->busy());
        QCOMPARE(rec.texts(), QStringList());
        QCOMPARE(Contents(path), kept + Row() + "\r\n");
    }
#endif

    // A disk that hangs while the last lines are written: the stop returns at
    // once, the lines still reach the file when the disk comes back, a
    // failure then is still reported, and the log may be gone by then.
    void stoppingDoesNotWaitForTheDisk_data() {
        QTest::addColumn<bool>("fails");
        QTest::addColumn<bool>("logGone"); // the log is destroyed while the disk hangs
        QTest::newRow("the disk comes back") << false << false;
        QTest::newRow("the disk fails") << true << false;
        QTest::newRow("the log is gone meanwhile") << false << true;
    }
    void stoppingDoesNotWaitForTheDisk() {
        QFETCH(bool, fails);
        QFETCH(bool, logGone);
        const QString path = scratchFile();
        // Shared with the writer's thread, which may outlast this test.
        auto disk = std::make_shared<HangingDisk>();
        disk->fails = fails;
        Logger logger;
        logger.log->setDiskWrite([disk](QFile& file, const QByteArray& bytes) {
            disk->hanging = true;
            const bool letGo = disk->letGo.tryAcquire(1, 20000);
            disk->hanging = false;
            return letGo && !disk->fails && LogWriter::WriteAndSync(file, bytes);
        });
        logger.toggle(path);
        logger.log->record(Poll(1));
        QTRY_VERIFY(disk->hanging);
        logger.log->record(Poll(2)); // waits for the disk
        logger.toggle(path);
        QVERIFY(!logger.item.isChecked());
        QVERIFY(disk->hanging); // the stop did not wait for the disk
        if (logGone)
            logger.log.reset();
        disk->letGo.release(100);
        const QByteArray header = Bom + Header + "\r\n";
        if (fails) {
            QTRY_COMPARE(rec.messages.size(), 1);
            QCOMPARE(rec.texts(),
                     QStringList("Ошибка записи в файл «" + QDir::toNativeSeparators(path) +
                                 "».\nЗапись в файл остановлена."));
            QTRY_VERIFY(!logger.log->busy());
            QCOMPARE(Contents(path), header);
            return;
        }
        const QByteArray lines = header + Row(1) + "\r\n" + Row(2) + "\r\n";
        QTRY_COMPARE(Contents(path), lines);
        if (!logGone)
            QTRY_VERIFY(!logger.log->busy());
        QTest::qWait(50); // a report that should not come
        QCOMPARE(rec.texts(), QStringList());
    }
};

QTEST_MAIN(TestMeasureLog)
#include "test_measure_log.moc"
