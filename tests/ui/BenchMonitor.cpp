// Prints what the monitor of the line costs. Not a test: the numbers depend
// on the machine.
//
// 1. One poll through the library with the capture against the same
//    library built without it (libcomm_mb_plain.so beside the program), on
//    the same pseudo-terminal, in alternating rounds (goal: at most 1.02).
// 2. Polls per second of the main window polling with the window "Монитор
//    обмена" open against closed, in alternating rounds: every 20 ms (goal:
//    at least 0.98) and at the shortest period the main window takes, 1 ms,
//    where the polls follow each other as fast as the module answers and
//    every moment the window takes is a moment the line stands idle (goal:
//    at least 0.99). Also the CPU time per poll of the windows' thread in
//    each case, and the rate it leads to: what the window adds to each poll
//    delays the next one when the polls follow each other, and this is less
//    disturbed by other work on the machine than the rates themselves.
// 3. The program's memory with the window open over many polls, made as fast
//    as the simulated module answers: flat once the store of frames is full.
// 4. One look of the open window at the fastest polling: the rows of the
//    polls since the last look taken in and those in sight drawn, in CPU
//    time of the windows' thread; and the share of a second the window takes
//    at its rate, which is what it takes from polls that follow each other
//    without a pause (the goal of 2 at 1 ms: at most 1 %).
//
//   bench_monitor [--seconds N]  N seconds for each case of 2 (60 unless given)
//                 [--polls N]    polls of 3 (100000 unless given)
//                 [--only F]     figure F alone (1 to 4)
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <vector>

#include "Controls.h"
#include "FrameLog.h"
#include "Func.h"
#include "Main.h"
#include "Monitor.h"
#include "RecorderUi.h"
#include "SimLink.h"

// Under callgrind (valgrind --tool=callgrind --collect-atstart=no) each case
// of figure 2 and the looks of figure 4 are dumped on their own, to count
// instructions where the times are too noisy.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#define CALLGRIND_DUMP_STATS_AT(name) (void)(name)
#endif

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

long RssKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

struct Library {
    init_comm_fn init = nullptr;
    invoke_modb_fn invoke = nullptr;
    explicit Library(const QString& path) {
        void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return;
        init = reinterpret_cast<init_comm_fn>(dlsym(handle, "init_comm"));
        invoke = reinterpret_cast<invoke_modb_fn>(dlsym(handle, "invoke_modb"));
    }
};

// Figure 1.
void CaptureCost(sim::SimModule& module) {
    const QDir folder = QFileInfo(CommLibraryPath()).absoluteDir();
    Library with(CommLibraryPath());
    Library without(folder.filePath(QStringLiteral("libcomm_mb_plain.so")));
    if (!with.invoke || !without.invoke) {
        std::printf("1. capture on/off: libcomm_mb_plain.so not found beside the program\n");
        return;
    }
    const std::string device = module.devicePath();
    constexpr int Rounds = 40, PollsPerRound = 250;
    std::vector<double> ratio;
    double sum[2] = {0, 0};
    for (int r = 0; r < Rounds; ++r) {
        double mean[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            Library& lib = i == 0 ? with : without;
            if (lib.init(device.c_str(), 19200, 2) != 0)
                return;
            uint16_t words[3] = {};
            const auto start = Clock::now();
            for (int p = 0; p < PollsPerRound; ++p)
                lib.invoke(1, 3, 1024, 3, words);
            mean[i] = std::chrono::duration<double, std::milli>(Clock::now() - start).count() /
                      PollsPerRound;
            sum[i] += mean[i];
            lib.init("", 19200, 2); // lets go of the port for the other library
        }
        ratio.push_back(mean[0] / mean[1]);
    }
    std::printf("1. poll through the library: %.4f ms with capture, %.4f ms without "
                "(%d x %d polls each); ratio %.4f overall, median of rounds %.4f (goal: at most "
                "1.02)\n",
                sum[0] / Rounds, sum[1] / Rounds, Rounds, PollsPerRound, sum[0] / sum[1],
                Median(ratio));
}

// Runs the event loop for `ms`, as the program's own loop waits.
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU time of the calling thread (the windows' thread: not the simulated
// module's), in milliseconds.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Figure 2 for one period: alternating rounds of five seconds, the
// monitor closed and then open.
void PollRate(TForm1& form, TMonitor& monitor, const int& polled, int periodMs, int seconds,
              double goal) {
    auto* edPoll = Control<QLineEdit>(form, "edPoll");
    edPoll->setText(QString::number(periodMs));
    QTest::keyClick(edPoll, Qt::Key_Return);
    Control<QCheckBox>(form, "chbPoll")->setChecked(true);
    constexpr int RoundS = 5;
    const int rounds = std::max(1, seconds / RoundS);
    int count[2] = {0, 0};
    double cpu[2] = {0, 0};
    std::vector<double> ratio;
    for (int r = 0; r < rounds; ++r) {
        int round[2] = {0, 0};
        for (int open = 0; open < 2; ++open) {
            if (open)
                monitor.open();
            else
                monitor.hide();
            const int before = polled;
            const double cpuBefore = CpuMs();
            CALLGRIND_TOGGLE_COLLECT;
            RunFor(RoundS * 1000);
            CALLGRIND_TOGGLE_COLLECT;
            round[open] = polled - before;
            count[open] += round[open];
            cpu[open] += CpuMs() - cpuBefore;
            const QByteArray name =
                QStringLiteral("%1 ms, round %2, %3, %4 polls")
                    .arg(periodMs)
                    .arg(r + 1)
                    .arg(open ? QStringLiteral("open") : QStringLiteral("closed"))
                    .arg(round[open])
                    .toUtf8();
            CALLGRIND_DUMP_STATS_AT(name.constData());
        }
        if (round[0] > 0)
            ratio.push_back(double(round[1]) / round[0]);
    }
    Control<QCheckBox>(form, "chbPoll")->setChecked(false);
    monitor.hide();
    if (count[0] == 0 || count[1] == 0 || ratio.empty()) {
        std::printf("2. polls every %d ms: no polls\n", periodMs);
        return;
    }
    const auto [low, high] = std::minmax_element(ratio.begin(), ratio.end());
    const double cpuClosed = cpu[0] / count[0], cpuOpen = cpu[1] / count[1];
    const double pollMs = rounds * RoundS * 1000.0 / count[0]; // the time of a poll, closed
    std::printf("2. polls every %d ms, %d s per case: %d with the monitor closed, %d open; "
                "open / closed %.4f overall, median of %zu rounds %.4f, rounds %.4f to %.4f "
                "(goal: at least %.2f); CPU of the windows' thread per poll %.4f ms closed, "
                "%.4f ms open, whose difference against the time of a poll gives open / closed "
                "%.4f\n",
                periodMs, rounds * RoundS, count[0], count[1], double(count[1]) / count[0],
                ratio.size(), Median(ratio), *low, *high, goal, cpuClosed, cpuOpen,
                pollMs / (pollMs + std::max(0.0, cpuOpen - cpuClosed)));
    std::fflush(stdout);
}

// Figure 4.
void LookCost(TMonitor& monitor) {
    monitor.open();
    RunFor(2 * TMonitor::StreamLookMs);
    auto* view = monitor.view();
    // The polls between two looks at the fastest polling, as figure 2 sees
    // it on a simulated module: about 750 a second.
    constexpr int Looks = 20, PollsPerLook = 750 * TMonitor::StreamLookMs / 1000;
    uint16_t words[3] = {};
    double cpu = 0;
    int rows = 0, interval = 0;
    for (int look = 0; look < Looks; ++look) {
        monitor.btPauseClick(); // the polls while the window does not look
        for (int p = 0; p < PollsPerLook; ++p) {
            try {
                ReadRegisters(1024, 3, words);
            } catch (const std::exception&) {
            }
        }
        const double before = CpuMs();
        CALLGRIND_TOGGLE_COLLECT;
        monitor.btPauseClick(); // a look, as the window's timer makes it, and its drawing
        QCoreApplication::processEvents();
        CALLGRIND_TOGGLE_COLLECT;
        cpu += CpuMs() - before;
        rows = view->rowAt(view->viewport()->height() - 1) - view->rowAt(0) + 1;
        interval = monitor.lookInterval();
    }
    CALLGRIND_DUMP_STATS_AT("looks");
    const double look = cpu / Looks;
    std::printf("4. one look of the monitor at the fastest polling (%d polls since the last, %d "
                "rows in sight): %.2f ms; the next look after %d ms, so %.2f %% of the time "
                "(goal: at most 1 %%)\n",
                PollsPerLook, rows, look, interval, 100 * look / std::max(interval, 1));
    monitor.hide();
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 60;
    long polls = 100000;
    int only = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--polls") && i + 1 < argc)
            polls = std::max(1L, std::atol(argv[++i]));
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
            only = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: bench_monitor [--seconds N] [--polls N] [--only F]\n");
            return 2;
        }
    }

    RecorderUi boxes; // an error box would only be recorded
    SimLink link;
    if (!link.opened()) {
        std::fprintf(stderr, "cannot open the simulated module\n");
        return 1;
    }
    if (only == 0 || only == 1)
        CaptureCost(link.module());
    std::fflush(stdout);
    if (!OpenPort(link.port(), 19200, 2))
        return 1;

    // Figure 2.
    link.writeSettingsFile(SettingsFilePath());
    TForm1 form;
    QFile::remove(SettingsFilePath());
    form.show();
    Control<QAction>(form, "miMonitor")->trigger();
    auto* monitor = form.findChild<TMonitor*>();
    if (!monitor) {
        std::fprintf(stderr, "no monitor window\n");
        return 1;
    }
    int polled = 0;
    QObject::connect(&form, &TForm1::polled, [&](const PollOutcome&) { ++polled; });
    boxes.onMessage = [&](const ShownMessage&) {
        Control<QCheckBox>(form, "chbPoll")->setChecked(true);
    };
    if (only == 0 || only == 2) {
        PollRate(form, *monitor, polled, 20, seconds, 0.98);
        PollRate(form, *monitor, polled, 1, seconds, 0.99);
    }
    if (only == 0 || only == 4)
        LookCost(*monitor);
    if (only != 0 && only != 3)
        return 0;

    // Figure 3.
    monitor->open();
    uint16_t words[3] = {};
    const long step = std::max(1L, polls / 10);
    std::printf("3. memory with the monitor open (store of %zu frames):\n", FrameLog::Capacity);
    std::printf("   %8s %10s %8s %8s\n", "polls", "RSS, kB", "frames", "rows");
    const auto start = Clock::now();
    for (long p = 1; p <= polls; ++p) {
        try {
            ReadRegisters(1024, 3, words);
        } catch (const std::exception&) {
        }
        if (p % 50 == 0)
            QCoreApplication::processEvents();
        if (p % step == 0) {
            RunFor(TMonitor::StreamLookMs + 250); // the window takes its rows in
            std::printf("   %8ld %10ld %8zu %8d\n", p, RssKb(), FrameLog::global().size(),
                        monitor->model().rowCount());
            std::fflush(stdout);
        }
    }
    std::printf("   %.1f s for %ld polls\n",
                std::chrono::duration<double>(Clock::now() - start).count(), polls);
    return 0;
}
