// Prints what the trend window and the measurement log cost the poll: the
// main window polls the simulated module through the real communication
// library every 20 ms, in rounds with the trend closed, with it open, and with
// it open while the log writes to a file. Not a test: the numbers depend on
// the machine.
//
//   bench_trend [--seconds N]   N seconds for each case (600 unless given)
//               [--round S]     cases take turns every S seconds (30)
//               [--empty]       start with an empty trend instead of a full one
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Controls.h"
#include "Func.h"
#include "Main.h"
#include "MeasureLog.h"
#include "RecorderUi.h"
#include "SaveAs.h"
#include "SimLink.h"
#include "Trend.h"
#include "TrendPlot.h"

namespace {

struct Case {
    Case(const char* name, bool trendOpen, bool logging)
        : name(name), trendOpen(trendOpen), logging(logging) {}
    const char* name;
    bool trendOpen;
    bool logging;
    int polls = 0;
    int failed = 0;
    double pollMs = 0;    // sum of the times from the tick to the end of the poll
    double libraryMs = 0; // of which in the communication library
    double hooksMs = 0;   // and in the trend's and the log's own work
    double periodMs = 0;  // sum of the times from one tick to the next
    int periods = 0;
    int paints = 0;
    std::vector<double> roundMeans; // mean time per poll of each round
};

// The middle value; the mean of the two middle ones for an even count.
double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Watches the poll timer's ticks and the plot's paints.
class Watch : public QObject {
  public:
    QElapsedTimer clock;
    qint64 tickAt = -1; // ns
    qint64 lastTick = -1;
    Case* current = nullptr;
    QObject* timer = nullptr;
    QObject* plot = nullptr;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == timer && event->type() == QEvent::Timer) {
            tickAt = clock.nsecsElapsed();
            if (current && lastTick >= 0) {
                current->periodMs += (tickAt - lastTick) / 1e6;
                ++current->periods;
            }
            lastTick = tickAt;
        } else if (watched == plot && event->type() == QEvent::Paint && current) {
            ++current->paints;
        }
        return false;
    }
};

// The library's exchange, timed.
invoke_modb_fn RealInvoke = nullptr;
QElapsedTimer* LibraryClock = nullptr;
Case* LibraryCase = nullptr;

int32_t TimedInvoke(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                    uint16_t* buffer) {
    const qint64 start = LibraryClock->nsecsElapsed();
    const int32_t rc = RealInvoke(address, function, first, count, buffer);
    if (LibraryCase)
        LibraryCase->libraryMs += (LibraryClock->nsecsElapsed() - start) / 1e6;
    return rc;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 600;
    int round = 30;
    bool prefill = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--round") && i + 1 < argc)
            round = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--empty"))
            prefill = false;
        else {
            std::fprintf(stderr, "usage: bench_trend [--seconds N] [--round S] [--empty]\n");
            return 2;
        }
    }
    seconds = std::max(seconds, 1);
    round = std::clamp(round, 1, seconds);

    RecorderUi boxes; // an error box would only be recorded
    SimLink link;
    if (!link.opened()) {
        std::fprintf(stderr, "cannot open the simulated module\n");
        return 1;
    }
    link.writeSettingsFile(SettingsFilePath());
    QTemporaryDir dir;
    const QString logPath = dir.filePath("log.csv");
    AskSaveFileName = [&](QWidget*, const QString&, const QString&, const QString&, bool) {
        return logPath;
    };

    TForm1 form;
    QFile::remove(SettingsFilePath());
    form.show();
    auto* trend = form.findChild<TTrend*>();
    auto* plot = trend->findChild<TrendPlot*>();
    auto* miLog = Control<QAction>(form, "miLog");

    if (prefill) { // the trend as after a long session: every place taken
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const qint64 steadyNow = PollClocks.steady();
        const int n = trend->model().capacity();
        for (int i = 0; i < n; ++i) {
            PollOutcome o;
            o.msecs = now - qint64(n - i) * 20;
            o.elapsed = steadyNow - qint64(n - i) * 20;
            o.mode = 1;
            o.ok = true;
            o.value = static_cast<uint16_t>(12000 + (i * 37) % 200);
            o.flagsB = i % 5000 == 0 ? 1 : 0;
            trend->record(o);
        }
    }
    link.module().setAppliedCurrent(12000);

    Case cases[] = {{"trend closed", false, false},
                    {"trend open", true, false},
                    {"trend open, log on", true, true}};
    Watch watch;
    watch.clock.start();
    watch.timer = form.tmPoll;
    watch.plot = plot;
    RealInvoke = Comm.invoke_modb;
    LibraryClock = &watch.clock;
    Comm.invoke_modb = TimedInvoke;
    form.tmPoll->installEventFilter(&watch);
    plot->installEventFilter(&watch);
    // The trend and the log take each poll here, timed.
    auto* log = form.findChild<MeasureLog*>();
    QObject::disconnect(&form, &TForm1::polled, trend, nullptr);
    QObject::disconnect(&form, &TForm1::polled, log, nullptr);
    QObject::connect(&form, &TForm1::polled, [&](const PollOutcome& o) {
        const qint64 start = watch.clock.nsecsElapsed();
        trend->record(o);
        log->record(o);
        if (watch.current)
            watch.current->hooksMs += (watch.clock.nsecsElapsed() - start) / 1e6;
    });
    QObject::connect(&form, &TForm1::polled, [&](const PollOutcome& o) {
        if (!watch.current || watch.tickAt < 0)
            return;
        watch.current->pollMs += (watch.clock.nsecsElapsed() - watch.tickAt) / 1e6;
        ++watch.current->polls;
        watch.current->failed += o.ok ? 0 : 1;
        watch.tickAt = -1; // a poll from the button would not count
        // A changing value, as a live signal has.
        link.module().setAppliedCurrent(12000 + static_cast<uint32_t>(o.value % 7));
    });
    // An unanswered poll switches polling off; switch it on again.
    boxes.onMessage = [&](const ShownMessage&) {
        Control<QCheckBox>(form, "chbPoll")->setChecked(true);
    };

    auto* edPoll = Control<QLineEdit>(form, "edPoll");
    edPoll->setText("20");
    QTest::keyClick(edPoll, Qt::Key_Return);
    Control<QCheckBox>(form, "chbPoll")->setChecked(true);

    const int rounds = (seconds + round - 1) / round;
    std::printf("poll period 20 ms; %d s per case in %d rounds of %d s; trend %s\n", seconds,
                rounds, round, prefill ? "starts full (131072 points)" : "starts empty");
    std::fflush(stdout);
    for (int r = 0; r < rounds; ++r) {
        for (Case& c : cases) {
            if (c.trendOpen)
                trend->open();
            else
                trend->hide();
            if (miLog->isChecked() != c.logging)
                miLog->trigger();
            watch.current = &c;
            LibraryCase = &c;
            watch.lastTick = -1;
            const int polls = c.polls;
            const double pollMs = c.pollMs;
            QEventLoop loop; // as the program's own loop waits: for the next event
            QTimer::singleShot(round * 1000, &loop, &QEventLoop::quit);
            loop.exec();
            watch.current = nullptr;
            LibraryCase = nullptr;
            if (c.polls > polls)
                c.roundMeans.push_back((c.pollMs - pollMs) / (c.polls - polls));
        }
    }
    if (miLog->isChecked())
        miLog->trigger();
    Control<QCheckBox>(form, "chbPoll")->setChecked(false);

    std::printf("%-20s %7s %7s %12s %12s %12s %12s %8s\n", "", "polls", "failed", "ms per poll",
                "in library", "trend+log", "tick to tick", "paints");
    const double base = cases[0].polls ? cases[0].pollMs / cases[0].polls : 0;
    for (const Case& c : cases) {
        const double perPoll = c.polls ? c.pollMs / c.polls : 0;
        std::printf("%-20s %7d %7d %12.4f %12.4f %12.4f %12.3f %8d", c.name, c.polls, c.failed,
                    perPoll, c.polls ? c.libraryMs / c.polls : 0.0,
                    c.polls ? c.hooksMs / c.polls : 0.0, c.periods ? c.periodMs / c.periods : 0.0,
                    c.paints);
        if (&c != &cases[0] && base > 0)
            std::printf("   %+.1f %%", (perPoll / base - 1) * 100);
        std::printf("\n");
    }
    // Each round against the round with the trend closed just before it: the
    // machine's other load changes slowly, so the pairs are fairer than the
    // overall means.
    for (const Case& c : cases) {
        if (&c == &cases[0])
            continue;
        std::vector<double> change;
        for (std::size_t r = 0; r < c.roundMeans.size() && r < cases[0].roundMeans.size(); ++r)
            change.push_back((c.roundMeans[r] / cases[0].roundMeans[r] - 1) * 100);
        std::sort(change.begin(), change.end());
        if (change.empty())
            continue;
        std::printf("%s against the trend closed, round by round: median %+.1f %%, middle half "
                    "%+.1f %% to %+.1f %% (%zu rounds)\n",
                    c.name, Median(change), change[change.size() / 4],
                    change[std::min(change.size() * 3 / 4, change.size() - 1)], change.size());
    }

    // Painting the full trend, as each refresh of the open window does.
    trend->open();
    QApplication::processEvents();
    constexpr int Repaints = 50;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < Repaints; ++i)
        plot->repaint();
    std::printf("repaint of the trend (%d points, %dx%d pixels): %.2f ms\n", trend->model().size(),
                plot->width(), plot->height(), t.nsecsElapsed() / 1e6 / Repaints);
    return 0;
}
