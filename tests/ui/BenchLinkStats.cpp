// Prints what the link statistics cost the poll: the main window polls the
// simulated module through the real communication library every 20 ms, in
// rounds with the window "Статистика связи" closed and open, and the time of
// one counted library call against an uncounted one. Not a test: the numbers
// depend on the machine. The poll's time with the window open should stay
// within 1.02 of that with it closed.
//
//   bench_link_stats [--seconds N]   N seconds for each case (120 unless given)
//                    [--round S]     the cases take turns every S seconds (10)
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Controls.h"
#include "Func.h"
#include "LinkStats.h"
#include "LinkStatsWindow.h"
#include "Main.h"
#include "RecorderUi.h"
#include "SimLink.h"

namespace {

struct Case {
    Case(const char* name, bool windowOpen) : name(name), windowOpen(windowOpen) {}
    const char* name;
    bool windowOpen;
    int polls = 0;
    double pollMs = 0;   // sum of the times from the tick to the end of the poll
    double periodMs = 0; // sum of the times from one tick to the next
    int periods = 0;
    std::vector<double> roundMeans;
};

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Notes the poll timer's ticks.
class Watch : public QObject {
  public:
    QElapsedTimer clock;
    qint64 tickAt = -1; // ns
    qint64 lastTick = -1;
    Case* current = nullptr;
    QObject* timer = nullptr;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == timer && event->type() == QEvent::Timer) {
            tickAt = clock.nsecsElapsed();
            if (current && lastTick >= 0) {
                current->periodMs += (tickAt - lastTick) / 1e6;
                ++current->periods;
            }
            lastTick = tickAt;
        }
        return false;
    }
};

int32_t Instant(uint8_t, uint8_t, uint16_t, uint16_t, uint16_t*) {
    return 0;
}

// Nanoseconds per library call that answers at once, called bare and
// through the counter (a counter of its own, so the window's figures stay).
void CountingCost() {
    using Clock = std::chrono::steady_clock;
    constexpr int Calls = 2'000'000;
    volatile invoke_modb_fn library = &Instant;
    uint16_t words[3] = {};
    int32_t sum = 0;
    auto start = Clock::now();
    for (int i = 0; i < Calls; ++i)
        sum += library(1, 3, 1024, 3, words);
    const double bare = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    LinkStats own;
    start = Clock::now();
    for (int i = 0; i < Calls; ++i) {
        CountedExchange counted(1024, own);
        sum += counted.call(library, uint8_t(1), uint8_t(3), uint16_t(1024), uint16_t(3), words);
    }
    const double counted = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    std::printf("one exchange of one call: %.1f ns bare, %.1f ns counted, so counting costs "
                "%.1f ns (%llu counted)\n",
                bare / Calls, counted / Calls, (counted - bare) / Calls,
                static_cast<unsigned long long>(own.counts().exchanges));
    (void)sum;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 120;
    int round = 10;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--round") && i + 1 < argc)
            round = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: bench_link_stats [--seconds N] [--round S]\n");
            return 2;
        }
    }
    seconds = std::max(seconds, 1);
    round = std::clamp(round, 1, seconds);

    CountingCost();

    RecorderUi boxes; // an error box would only be recorded
    SimLink link;
    if (!link.opened()) {
        std::fprintf(stderr, "cannot open the simulated module\n");
        return 1;
    }
    link.writeSettingsFile(SettingsFilePath());
    TForm1 form;
    QFile::remove(SettingsFilePath());
    form.show();
    Control<QAction>(form, "miLinkStats")->trigger();
    auto* window = form.findChild<TLinkStats*>();
    if (!window) {
        std::fprintf(stderr, "no window of the link statistics\n");
        return 1;
    }

    Case cases[] = {{"window closed", false}, {"window open", true}};
    Watch watch;
    watch.clock.start();
    watch.timer = form.tmPoll;
    form.tmPoll->installEventFilter(&watch);
    QObject::connect(&form, &TForm1::polled, [&](const PollOutcome&) {
        if (!watch.current || watch.tickAt < 0)
            return;
        watch.current->pollMs += (watch.clock.nsecsElapsed() - watch.tickAt) / 1e6;
        ++watch.current->polls;
        watch.tickAt = -1; // a poll from the button would not count
    });
    // A few lost and damaged replies, so that the figures keep changing the
    // way they do on a poor line; an unanswered poll switches polling off,
    // which is switched on again.
    QObject::connect(&form, &TForm1::polled, [&](const PollOutcome& o) {
        const int n = watch.current ? watch.current->polls : 0;
        if (n % 97 == 0)
            link.module().corruptCrcNext(1);
        else if (n % 89 == 0)
            link.module().dropNext(1);
        link.module().setInput(static_cast<uint16_t>(12000 + o.value % 7));
    });
    boxes.onMessage = [&](const ShownMessage&) {
        Control<QCheckBox>(form, "chbPoll")->setChecked(true);
    };

    auto* edPoll = Control<QLineEdit>(form, "edPoll");
    edPoll->setText("20");
    QTest::keyClick(edPoll, Qt::Key_Return);
    Control<QCheckBox>(form, "chbPoll")->setChecked(true);

    const int rounds = (seconds + round - 1) / round;
    std::printf("poll period 20 ms; %d s per case in %d rounds of %d s\n", seconds, rounds, round);
    std::fflush(stdout);
    for (int r = 0; r < rounds; ++r) {
        for (Case& c : cases) {
            if (c.windowOpen)
                window->open();
            else
                window->hide();
            watch.current = &c;
            watch.lastTick = -1;
            const int polls = c.polls;
            const double pollMs = c.pollMs;
            QEventLoop loop; // as the program's own loop waits: for the next event
            QTimer::singleShot(round * 1000, &loop, &QEventLoop::quit);
            loop.exec();
            watch.current = nullptr;
            if (c.polls > polls)
                c.roundMeans.push_back((c.pollMs - pollMs) / (c.polls - polls));
        }
    }
    Control<QCheckBox>(form, "chbPoll")->setChecked(false);

    std::printf("%-16s %7s %12s %12s\n", "", "polls", "ms per poll", "tick to tick");
    for (const Case& c : cases)
        std::printf("%-16s %7d %12.4f %12.3f\n", c.name, c.polls, c.polls ? c.pollMs / c.polls : 0,
                    c.periods ? c.periodMs / c.periods : 0.0);
    const Case& closed = cases[0];
    const Case& open = cases[1];
    if (closed.polls && open.polls) {
        std::printf("poll with the window open / closed: %.4f overall (goal: at most 1.02)\n",
                    (open.pollMs / open.polls) / (closed.pollMs / closed.polls));
        // Each round against the round with the window closed just before it:
        // the machine's other load changes slowly, so the pairs are fairer.
        std::vector<double> ratio;
        for (std::size_t r = 0; r < open.roundMeans.size() && r < closed.roundMeans.size(); ++r)
            ratio.push_back(open.roundMeans[r] / closed.roundMeans[r]);
        std::sort(ratio.begin(), ratio.end());
        if (!ratio.empty())
            std::printf("    round by round: median %.4f, middle half %.4f to %.4f (%zu rounds)\n",
                        Median(ratio), ratio[ratio.size() / 4],
                        ratio[std::min(ratio.size() * 3 / 4, ratio.size() - 1)], ratio.size());
    }
    const LinkCounts& c = LinkStats::global().counts();
    std::printf("counted: %llu exchanges, %llu attempts, mean call %.3f ms\n",
                static_cast<unsigned long long>(c.exchanges),
                static_cast<unsigned long long>(c.attempts), c.meanMs());
    return 0;
}
