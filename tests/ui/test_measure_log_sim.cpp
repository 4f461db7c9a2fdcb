// The measurement log and the trend end to end: periodic polling through the
// real communication library against a simulated module whose value changes
// after every poll, with a stretch in which the module is silent.
#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>

#include "Controls.h"
#include "Func.h"
#include "Main.h"
#include "MeasureLog.h"
#include "RecorderUi.h"
#include "SaveAs.h"
#include "SimLink.h"
#include "Trend.h"

namespace {

const QByteArray Bom = QByteArrayLiteral("\xEF\xBB\xBF");
const QString Header = QStringLiteral(
    "Дата и время;Значение;Ед. изм.;Ошибка внутреннего ОЗУ;Ошибка КС FLASH;Ошибка КС "
    "параметров;Ошибка чтения АЦП;Выход за диапазон;Данные некорректны");

// A log line read back: the value's text (or the error) and the flag fields.
struct LogLine {
    QDateTime time;
    QString value;
    QString unit;
    QStringList flags;
};

} // namespace

class TestMeasureLogSim : public QObject {
    Q_OBJECT

    RecorderUi rec;
    std::unique_ptr<SimLink> link;
    std::unique_ptr<TForm1> form;
    QTemporaryDir dir;
    QString chosen;      // what the file dialog answers
    QStringList askedAs; // captions of the file dialogs shown
    rlimit savedFileLimit{};

    sim::SimModule& module() { return link->module(); }
    template <class T = QWidget> T* w(const char* name) { return Control<T>(form.get(), name); }
    QAction* miLog() { return w<QAction>("miLog"); }
    MeasureLog* log() { return form->findChild<MeasureLog*>(); }
    QCheckBox* chbPoll() { return w<QCheckBox>("chbPoll"); }

    void startPolling(const char* period) {
        w<QLineEdit>("edPoll")->setText(period);
        QTest::keyClick(w<QLineEdit>("edPoll"), Qt::Key_Return);
        chbPoll()->setChecked(true);
    }

    // Every line after the header; fails the test on a line that does not parse.
    QList<LogLine> readLog(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            qFatal("cannot read the log");
        const QByteArray bytes = f.readAll();
        if (!bytes.startsWith(Bom + Header.toUtf8() + "\r\n"))
            qFatal("no byte-order mark and header: %s", bytes.left(300).constData());
        QList<QByteArray> rows = bytes.mid(Bom.size()).split('\n');
        if (rows.takeLast() != QByteArray())
            qFatal("the log does not end with a line end");
        rows.removeFirst();
        QList<LogLine> lines;
        for (const QByteArray& row : rows) {
            const QStringList fields = QString::fromUtf8(row.chopped(1)).split(';');
            LogLine line;
            line.time = QDateTime::fromString(fields.value(0), "dd.MM.yyyy HH:mm:ss,zzz");
            if (!row.endsWith('\r') || fields.size() != 9 || !line.time.isValid())
                qFatal("not a log line: %s", row.constData());
            line.value = fields[1];
            line.unit = fields[2];
            line.flags = fields.mid(3);
            lines << line;
        }
        return lines;
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        QVERIFY(getrlimit(RLIMIT_FSIZE, &savedFileLimit) == 0);
        std::signal(SIGXFSZ, SIG_IGN); // a write over the limit fails instead
    }

    void init() {
        link = std::make_unique<SimLink>(sim::Options{});
        QVERIFY(link->opened());
        link->writeSettingsFile(SettingsFilePath());
        form = std::make_unique<TForm1>();
        rec.clear();
        askedAs.clear();
        AskSaveFileName = [this](QWidget*, const QString& caption, const QString&, const QString&,
                                 bool) {
            askedAs << caption;
            return chosen;
        };
    }
    void cleanup() {
        setrlimit(RLIMIT_FSIZE, &savedFileLimit);
        form.reset();
        link.reset();
        QFile::remove(SettingsFilePath());
        rec.onMessage = nullptr;
    }

    void logAndTrendFollowTheModule() {
        w<QPushButton>("btRead")->click(); // current mode: "мкА"
        chosen = dir.filePath("log.csv");
        miLog()->trigger();
        QVERIFY(miLog()->isChecked());
        QCOMPARE(askedAs, QStringList("Записывать в файл"));

        // After each successful poll the module's value goes up by one; the
        // flag "Выход за диапазон" is raised on odd values.
        module().setInput(1000);
        int good = 0;
        int failed = 0;
        connect(form.get(), &TForm1::polled, this, [&](const PollOutcome& o) {
            if (!o.ok) {
                ++failed;
                return;
            }
            ++good;
            const auto next = static_cast<uint16_t>(o.value + 1);
            module().setInput(next);
            module().setReg(reg::FlagsB, next % 2 ? reg::FlagOutOfRange : 0);
        });
        // During the silent stretch the technician ticks polling on again
        // after each error box.
        rec.onMessage = [this](const ShownMessage&) { chbPoll()->setChecked(true); };

        const QDateTime begin = QDateTime::currentDateTime().addMSecs(-1);
        startPolling("30");
        QTRY_VERIFY_WITH_TIMEOUT(good >= 8, 10000);
        const int goodBefore = good;
        module().dropNext(2 * MaxAttempts); // two polls go unanswered
        QTRY_VERIFY_WITH_TIMEOUT(good >= goodBefore + 8, 20000);
        miLog()->trigger();      // logging off, polling on
        const int logged = good; // the polls after this one go to the trend only
        QVERIFY(!miLog()->isChecked());
        QTRY_VERIFY(!log()->busy()); // the last lines are on the disk
        chbPoll()->setChecked(false);
        const QDateTime end = QDateTime::currentDateTime().addMSecs(1);
        QCOMPARE(failed, 2);
        QCOMPARE(rec.texts(), QStringList(2, seam::ErrorBoxText(QStringLiteral("Нет ответа!"))));

        const QList<LogLine> lines = readLog(chosen);
        QCOMPARE(lines.size(), logged + failed);
        QStringList values;
        QDateTime previous = begin;
        for (const LogLine& line : lines) {
            values << line.value;
            QVERIFY(line.time >= previous && line.time <= end);
            previous = line.time;
            if (line.value == QStringLiteral("Нет ответа!")) {
                QCOMPARE(line.unit, QString());
                QCOMPARE(line.flags, QStringList(6, QString()));
                continue;
            }
            QCOMPARE(line.unit, QStringLiteral("мкА"));
            const QString outOfRange = line.value.toInt() % 2 ? "1" : "0";
            QCOMPARE(line.flags, QStringList({"0", "0", "0", "0", outOfRange, "0"}));
        }
        // The values follow the module's one by one, the two failed polls in between.
        const int firstError = static_cast<int>(values.indexOf(QStringLiteral("Нет ответа!")));
        QVERIFY(firstError >= goodBefore);
        QStringList expected;
        for (int i = 0; i < logged; ++i)
            expected << QString::number(1000 + i);
        expected.insert(firstError, QStringLiteral("Нет ответа!"));
        expected.insert(firstError, QStringLiteral("Нет ответа!"));
        QCOMPARE(values, expected);

        // The trend took the same points, broken where the polls failed.
        const TrendModel& trend = form->findChild<TTrend*>()->model();
        QCOMPARE(trend.size(), good);
        QCOMPARE(trend.at(good - 1).value, uint16_t(1000 + good - 1));
        QVERIFY(trend.at(firstError).afterFailure);
        QCOMPARE(trend.unit(), QStringLiteral("мкА"));

        // Once logging is off, polls leave the file alone.
        const qint64 size = QFileInfo(chosen).size();
        w<QPushButton>("btPoll")->click();
        QCOMPARE(QFileInfo(chosen).size(), size);
    }

    void failingWriteStopsLoggingNotPolling() {
        // A file that cannot be made, and a cancelled dialog: the item stays clear.
        chosen = dir.filePath("missing/log.csv");
        miLog()->trigger();
        QVERIFY(!miLog()->isChecked());
        QCOMPARE(rec.texts(),
                 QStringList(seam::ErrorBoxText("Невозможно открыть файл «" +
                                                QDir::toNativeSeparators(chosen) + "»")));
        rec.clear();
        chosen.clear();
        miLog()->trigger();
        QVERIFY(!miLog()->isChecked());
        QVERIFY(rec.messages.isEmpty());

        // The disk fills up a few lines into the log.
        chosen = dir.filePath("full.csv");
        miLog()->trigger();
        QVERIFY(miLog()->isChecked());
        const qint64 limit = QFileInfo(chosen).size() + 170; // three lines and a bit
        rlimit small = savedFileLimit;
        small.rlim_cur = static_cast<rlim_t>(limit);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        int polls = 0;
        connect(form.get(), &TForm1::polled, this, [&](const PollOutcome&) { ++polls; });
        startPolling("20");
        QTRY_COMPARE_WITH_TIMEOUT(rec.messages.size(), 1, 10000);
        QCOMPARE(rec.texts(),
                 QStringList("Ошибка записи в файл «" + QDir::toNativeSeparators(chosen) +
                             "».\nЗапись в файл остановлена."));
        QCOMPARE(rec.messages[0].icon, seam::Icon::Error);
        QVERIFY(!miLog()->isChecked());
        const int pollsAtBox = polls;
        QTRY_VERIFY(polls >= pollsAtBox + 3); // polling goes on
        QVERIFY(chbPoll()->isChecked());
        QCOMPARE(rec.messages.size(), 1);
        // The line cut in the middle went again: the file ends with a whole line.
        QVERIFY(QFileInfo(chosen).size() < limit);

        // Room again: the same file goes on after its last whole line.
        QVERIFY(setrlimit(RLIMIT_FSIZE, &savedFileLimit) == 0);
        miLog()->trigger();
        QVERIFY(miLog()->isChecked());
        QTRY_VERIFY(QFileInfo(chosen).size() > limit + 100);
        chbPoll()->setChecked(false);
        miLog()->trigger();
        QTRY_VERIFY(!log()->busy());
        QFile f(chosen);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = f.readAll().split('\n');
        QCOMPARE(rows.count(Bom + Header.toUtf8() + "\r"), 1);
        int cut = 0;
        for (const QByteArray& row : rows.mid(1, rows.size() - 2)) {
            QVERIFY2(row.endsWith('\r'), row.constData());
            cut += row.split(';').size() == 9 ? 0 : 1;
        }
        QCOMPARE(cut, 0);
    }
};

QTEST_MAIN(TestMeasureLogSim)
#include "test_measure_log_sim.moc"
