// Prints what the monitor of the line costs. Not a test: the numbers depend
// on the machine.
//
// 1. One poll through the library with the capture against the same
//    library built without it (libcomm_mb_plain.so beside the program), on
//    the same pseudo-terminal, in alternating rounds (goal: at most 1.02).
// 2. Polls per second of the main window polling every 20 ms with the window
//    "Монитор обмена" open against closed, in alternating rounds (goal: at
//    least 0.98).
// 3. The program's memory with the window open over many polls, made as fast
//    as the simulated module answers: flat once the store of frames is full.
//
//   bench_monitor [--seconds N]  N seconds for each case of 2 (60 unless given)
//                 [--polls N]    polls of 3 (100000 unless given)
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <vector>

#include "Controls.h"
#include "FrameLog.h"
#include "Func.h"
#include "Main.h"
#include "Monitor.h"
#include "RecorderUi.h"
#include "SimLink.h"

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

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 60;
    long polls = 100000;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--polls") && i + 1 < argc)
            polls = std::max(1L, std::atol(argv[++i]));
        else {
            std::fprintf(stderr, "usage: bench_monitor [--seconds N] [--polls N]\n");
            return 2;
        }
    }

    RecorderUi boxes; // an error box would only be recorded
    SimLink link;
    if (!link.opened()) {
        std::fprintf(stderr, "cannot open the simulated module\n");
        return 1;
    }
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
    auto* edPoll = Control<QLineEdit>(form, "edPoll");
    edPoll->setText("20");
    QTest::keyClick(edPoll, Qt::Key_Return);
    Control<QCheckBox>(form, "chbPoll")->setChecked(true);
    constexpr int RoundS = 5;
    const int rounds = std::max(1, seconds / RoundS);
    int count[2] = {0, 0};
    std::vector<double> ratio;
    for (int r = 0; r < rounds; ++r) {
        int round[2] = {0, 0};
        for (int open = 0; open < 2; ++open) {
            if (open)
                monitor->open();
            else
                monitor->hide();
            const int before = polled;
            RunFor(RoundS * 1000);
            round[open] = polled - before;
            count[open] += round[open];
        }
        if (round[0] > 0)
            ratio.push_back(double(round[1]) / round[0]);
    }
    Control<QCheckBox>(form, "chbPoll")->setChecked(false);
    std::printf("2. polls every 20 ms, %d s per case: %d with the monitor closed, %d open; "
                "open / closed %.4f overall, median of rounds %.4f (goal: at least 0.98)\n",
                rounds * RoundS, count[0], count[1], count[0] ? double(count[1]) / count[0] : 0,
                Median(ratio));
    std::fflush(stdout);

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
            RunFor(250); // the window takes its rows in
            std::printf("   %8ld %10ld %8zu %8d\n", p, RssKb(), FrameLog::global().size(),
                        monitor->model().rowCount());
            std::fflush(stdout);
        }
    }
    std::printf("   %.1f s for %ld polls\n",
                std::chrono::duration<double>(Clock::now() - start).count(), polls);
    return 0;
}
