// The exchange monitor over frames made up here and handed to the program's
// store as the communication library would hand them (no simulated module):
// pauses longer than the store reaches and the row that says how many
// frames were not shown, replies after a loss, how often the window looks
// for new rows, and its own drawing of the rows against the style's.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cstring>

#include "Controls.h"
#include "FrameLog.h"
#include "FrameMeaning.h"
#include "Monitor.h"
#include "RecorderUi.h"
#include "SaveAs.h"

namespace {

// The made-up library: records numbered 1 to `made`; those up to `dropped`
// its ring no longer holds.
uint64_t made = 0;
uint64_t dropped = 0;
// What the records are: polls, or (with `typeReads`) reads of the module's
// type, a request and its reply each; with `someFail`, every fifth reply
// has a bad CRC.
bool typeReads = false;
bool someFail = false;

void WithCrc(comm_frame& f, const QByteArray& bytes) {
    f.length = static_cast<uint16_t>(bytes.size() + 2);
    std::memcpy(f.data, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    const uint16_t crc = ModbusCrc(f.data, bytes.size());
    f.data[bytes.size()] = static_cast<uint8_t>(crc & 0xFF);
    f.data[bytes.size() + 1] = static_cast<uint8_t>(crc >> 8);
}

// Record `n`: odd ones are requests, even ones their replies; its time on
// the computer's clock is n ms, so that a row tells which record it shows.
comm_frame Record(uint64_t n) {
    comm_frame f{};
    f.number = n;
    f.wall_us = static_cast<int64_t>(n) * 1000;
    f.time_us = f.end_us = f.wall_us;
    f.baud = 19200;
    f.parity = 2;
    f.exchange = static_cast<uint32_t>((n + 1) / 2);
    f.attempt = 1;
    f.code = COMM_OK;
    f.reply_us = -1;
    if (n % 2 == 1) {
        f.kind = COMM_FRAME_REQUEST;
        WithCrc(f, QByteArray::fromHex(typeReads ? "010303000001" : "010304000003"));
    } else {
        f.kind = COMM_FRAME_REPLY;
        f.reply_us = 5000;
        if (someFail && n % 5 == 0)
            f.code = COMM_BAD_CRC;
        WithCrc(f, QByteArray::fromHex(typeReads ? "010302002A" : "010306000004D20000"));
    }
    return f;
}

int32_t ReadFrames(uint64_t after, comm_frame* frames, int32_t capacity, int32_t size,
                   int32_t* count, uint64_t* lost) {
    if (count == nullptr || size != static_cast<int32_t>(sizeof(comm_frame)))
        return COMM_BAD_BUFFER;
    *count = 0;
    const uint64_t from = std::max(after, dropped);
    if (lost != nullptr)
        *lost = from - after;
    for (uint64_t n = from + 1; n <= made && *count < capacity; ++n)
        frames[(*count)++] = Record(n);
    return COMM_OK;
}

// Frames going over the line while nobody looks.
void Line(uint64_t frames) {
    made += frames;
    FrameLog::global().pull();
}

constexpr int Capacity = static_cast<int>(MonitorModel::Capacity);
const QRegularExpression GapRow(QStringLiteral("^не показано кадров: (\\d+) \\(показ стоял "
                                               "дольше, чем их хранит программа\\)$"));

// The rows that say frames were not shown: their positions.
QList<int> GapRows(const MonitorModel& m) {
    QList<int> at;
    for (int i = 0; i < m.rowCount(); ++i)
        if (m.meaning(i).text.contains(QStringLiteral("не показано")))
            at << i;
    return at;
}

} // namespace

class TestMonitorRows : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        FrameLog::global().bind(ReadFrames);
        QVERIFY(FrameLog::global().available());
    }

    void init() { typeReads = someFail = false; }

    // Paused (once or twice) while frames go over the line, then resumed:
    // what came while paused is all accounted for, by rows of frames and by
    // one row that says how many were not shown. The same when the window
    // was closed instead.
    void pausedBeyondTheStore_data() {
        QTest::addColumn<QList<int>>("pauses"); // frames over the line during each pause
        QTest::addColumn<QString>("how");       // paused, or cleared halfway through, or closed
        QTest::addColumn<int>("gap");           // the row's count; -1: no such row
        QTest::newRow("within the store") << QList<int>{4000} << "paused" << -1;
        QTest::newRow("exactly the store") << QList<int>{Capacity} << "paused" << -1;
        // The row takes the place of the oldest frame, which it then counts.
        QTest::newRow("one over") << QList<int>{Capacity + 1} << "paused" << 2;
        QTest::newRow("far over") << QList<int>{Capacity + 25000} << "paused" << 25001;
        QTest::newRow("two pauses, both over")
            << QList<int>{Capacity + 2000, Capacity + 10000} << "paused" << 10001;
        // Rows after the second pause push the first one's row off the start,
        // with the rows before it: the view is the newest frames, no gap.
        QTest::newRow("two pauses, the second within")
            << QList<int>{Capacity + 5000, 3000} << "paused" << -1;
        QTest::newRow("two pauses, nothing in the second")
            << QList<int>{Capacity + 5000, 0} << "paused" << 5001;
        // What came before the clearing is not shown, and not missed either.
        QTest::newRow("cleared, then within") << QList<int>{14000} << "cleared" << -1;
        QTest::newRow("cleared, then over") << QList<int>{2 * Capacity + 2000} << "cleared" << 1001;
        QTest::newRow("closed, within") << QList<int>{Capacity} << "closed" << -1;
        QTest::newRow("closed, over") << QList<int>{Capacity + 3} << "closed" << 4;
    }
    void pausedBeyondTheStore() {
        QFETCH(QList<int>, pauses);
        QFETCH(QString, how);
        QFETCH(int, gap);
        RecorderUi boxes;
        TMonitor monitor(nullptr);
        monitor.open();
        MonitorModel& m = monitor.model();
        // A view full of frames before the first pause.
        Line(Capacity);
        m.takeNew();
        QCOMPARE(m.rowCount(), Capacity);
        QVERIFY(GapRows(m).isEmpty());

        auto* pause = Control<QPushButton>(monitor, "btPause");
        // Frames over the line since the last pause that had any: what the
        // rows from there on stand for.
        uint64_t stretch = 0;
        for (int i = 0; i < pauses.size(); ++i) {
            const int rows = m.rowCount();
            if (how == "closed")
                monitor.hide();
            else
                pause->click();
            if (pauses[i] > 0)
                stretch = static_cast<uint64_t>(pauses[i]);
            if (how == "cleared" && i == pauses.size() - 1) {
                Line(stretch / 2);
                Control<QPushButton>(monitor, "btClear")->click();
                QCOMPARE(m.rowCount(), 0);
                stretch -= stretch / 2;
                Line(stretch);
            } else {
                Line(static_cast<uint64_t>(pauses[i]));
                QCOMPARE(m.rowCount(), rows); // nothing comes in
            }
            if (how == "closed") {
                monitor.open();
            } else {
                QCOMPARE(pause->text(), "Продолжить");
                pause->click();
                QCOMPARE(pause->text(), "Пауза");
            }
        }

        // The newest frames, in order, up to the last one over the line.
        const QList<int> gaps = GapRows(m);
        const int frames = m.rowCount() - static_cast<int>(gaps.size());
        QCOMPARE(m.wallMs(m.rowCount() - 1), static_cast<int64_t>(made));
        for (int i = m.rowCount() - frames; i < m.rowCount(); ++i)
            QCOMPARE(m.wallMs(i), static_cast<int64_t>(made - (m.rowCount() - 1 - i)));
        if (gap < 0) {
            QVERIFY2(gaps.isEmpty(), qPrintable(m.meaning(gaps.value(0)).text));
            QCOMPARE(m.rowCount(), static_cast<int>(std::min<uint64_t>(
                                       how == "cleared" ? stretch : Capacity, Capacity)));
        } else {
            // One row first, that and the frames after it make up the stretch,
            // and the view holds no more rows than the store.
            QCOMPARE(gaps, QList<int>{0});
            const QRegularExpressionMatch said = GapRow.match(m.meaning(0).text);
            QVERIFY2(said.hasMatch(), qPrintable(m.meaning(0).text));
            QCOMPARE(said.captured(1).toInt(), gap);
            QCOMPARE(static_cast<uint64_t>(gap) + static_cast<uint64_t>(frames), stretch);
            QCOMPARE(m.rowCount(), Capacity);
            QVERIFY(m.failed(0));
            QCOMPARE(m.wallMs(0), -1);
            QCOMPARE(m.index(0, MonitorModel::Verdict).data().toString(), "сбой");
        }

        // The state line counts that row as a row, and as a failed one.
        const int failed = gap < 0 ? 0 : 1;
        QCOMPARE(m.failedRows(), failed);
        QCOMPARE(Control<QLabel>(monitor, "lbState")->text(),
                 QStringLiteral("Кадров: %1, со сбоем: %2.").arg(m.rowCount()).arg(failed));

        // "Только ошибки" keeps it; copied and saved with the rest.
        auto* view = Control<QTableView>(monitor, "tvFrames");
        Control<QCheckBox>(monitor, "chbErrorsOnly")->click();
        QCOMPARE(view->model()->rowCount(), failed);
        if (failed > 0)
            QVERIFY(GapRow.match(view->model()->index(0, MonitorModel::Meaning).data().toString())
                        .hasMatch());
        Control<QCheckBox>(monitor, "chbErrorsOnly")->click();
        QCOMPARE(view->model()->rowCount(), m.rowCount());
        view->selectAll();
        Control<QPushButton>(monitor, "btCopy")->click();
        const QStringList copied =
            QGuiApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(copied.size(), m.rowCount());
        QVERIFY(copied.first().endsWith(m.meaning(0).text));
        QTemporaryDir dir;
        AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
            return dir.filePath(QStringLiteral("frames.txt"));
        };
        Control<QPushButton>(monitor, "btSave")->click();
        QFile saved(dir.filePath(QStringLiteral("frames.txt")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = saved.readAll().split('\n');
        QCOMPARE(lines.size() - 1, m.rowCount()); // nothing after the last line end
        QCOMPARE(lines.first().contains("не показано кадров"), gap >= 0);
        QVERIFY(boxes.messages.isEmpty());
    }

    // Rows after a loss are not read against a request from before it.
    void replyAfterALoss_data() {
        QTest::addColumn<bool>("libraryLost"); // lost in the library's ring, or in the store
        QTest::addColumn<QString>("reply");    // what the first reply after it says
        // The store still held the request, so the reply is read against it.
        QTest::newRow("in the store") << false << "тип модуля 42";
        // Its request went with the lost records: a reply, and no more is known.
        QTest::newRow("in the library") << true << "ответ";
    }
    void replyAfterALoss() {
        QFETCH(bool, libraryLost);
        QFETCH(QString, reply);
        TMonitor monitor(nullptr);
        monitor.open();
        MonitorModel& m = monitor.model();
        Line(made % 2); // the next record is a request
        m.takeNew();
        Line(Capacity); // polls, the last of them a reply
        m.takeNew();
        QVERIFY(m.meaning(m.rowCount() - 1).text.startsWith("значение 1234"));

        auto* pause = Control<QPushButton>(monitor, "btPause");
        pause->click();
        typeReads = true;
        if (libraryLost) {
            // The library's ring overflowed between two looks of the program,
            // up to a request: the record after the loss is its reply.
            dropped = made + 1001;
            made += 1004;
            FrameLog::global().pull();
        } else {
            // Past the store by two: the oldest record it holds is a request,
            // left out for the row about the gap, and the first frame shown
            // is its reply.
            Line(Capacity + 2);
        }
        pause->click();
        const int first = libraryLost ? m.rowCount() - 3 : 1;
        if (libraryLost)
            QCOMPARE(m.meaning(first - 1).text, LostMeaning(1001).text);
        else
            QCOMPARE(GapRow.match(m.meaning(0).text).captured(1), "3");
        QCOMPARE(m.meaning(first).text, reply);
        QCOMPARE(m.meaning(first + 1).text, "Чтение 768 (тип модуля)");
        QCOMPARE(m.meaning(first + 2).text, "тип модуля 42");
    }

    // The window looks for new rows less often while they stream in faster
    // than it shows them, and soon again once they come a few at a time.
    void looksLessOftenWhileRowsStream_data() {
        QTest::addColumn<QList<int>>("batches"); // frames between two looks
        QTest::addColumn<int>("interval");       // until the look after the last
        QTest::newRow("a few") << QList<int>{4} << TMonitor::QuickLookMs;
        QTest::newRow("more than in sight") << QList<int>{400} << TMonitor::StreamLookMs;
        QTest::newRow("a few after many") << QList<int>{400, 4} << TMonitor::QuickLookMs;
        QTest::newRow("many after a few") << QList<int>{4, 4, 400} << TMonitor::StreamLookMs;
    }
    void looksLessOftenWhileRowsStream() {
        QFETCH(QList<int>, batches);
        QFETCH(int, interval);
        TMonitor monitor(nullptr);
        monitor.open();
        auto* view = monitor.view();
        const int inSight = view->rowAt(view->viewport()->height() - 1) - view->rowAt(0) + 1;
        QVERIFY2(inSight > 4 && inSight < 400, qPrintable(QString::number(inSight)));
        auto* pause = Control<QPushButton>(monitor, "btPause");
        for (int frames : batches) {
            pause->click();
            Line(static_cast<uint64_t>(frames));
            pause->click();
        }
        QCOMPARE(monitor.lookInterval(), interval);
    }

    // The window draws its plain cells itself, for speed: they look as the
    // style draws them, text cut short or not.
    void drawnAsTheStyleDraws_data() {
        QTest::addColumn<int>("width");
        QTest::newRow("all of the text") << 1100;
        QTest::newRow("text cut short") << 600;
    }
    void drawnAsTheStyleDraws() {
        QFETCH(int, width);
        if (QApplication::style()->name() != QStringLiteral("fusion"))
            QSKIP("compared with the Fusion style only");
        someFail = true;
        Line(60);
        TMonitor monitor(nullptr);
        monitor.resize(width, 420);
        monitor.open();
        auto* view = monitor.view();
        view->selectRow(monitor.model().rowCount() - 3);
        QCoreApplication::processEvents();
        QCOMPARE(view->rowAt(view->viewport()->height() - 1), monitor.model().rowCount() - 1);
        const QImage own = view->viewport()->grab().toImage();
        view->setItemDelegate(new QStyledItemDelegate(view));
        const QImage styled = view->viewport()->grab().toImage();
        QCOMPARE(own.size(), styled.size());
        QVERIFY(own == styled);
        // Not a blank picture either: a failed row in sight has its colour.
        const MonitorModel& m = monitor.model();
        int failedRow = m.rowCount() - 1;
        while (!m.failed(failedRow) || failedRow == m.rowCount() - 3)
            --failedRow;
        QVERIFY(failedRow >= view->rowAt(0));
        const QPoint inside(view->columnViewportPosition(MonitorModel::Bytes) +
                                view->columnWidth(MonitorModel::Bytes) - 3,
                            view->rowViewportPosition(failedRow) + 2);
        QCOMPARE(own.pixelColor(inside),
                 m.index(failedRow, 0).data(Qt::BackgroundRole).value<QBrush>().color());
    }

    // The window opened after the store had dropped frames: no row about
    // them, as nothing had been shown before.
    void openedLate() {
        Line(Capacity + 777);
        TMonitor monitor(nullptr);
        monitor.open();
        QCOMPARE(monitor.model().rowCount(), Capacity);
        QVERIFY(GapRows(monitor.model()).isEmpty());
        QCOMPARE(monitor.model().wallMs(Capacity - 1), static_cast<int64_t>(made));
    }
};

QTEST_MAIN(TestMonitorRows)
#include "test_monitor_window.moc"
