// Prints how long the scan of the modules on the line takes through the real
// library against the simulated line: 247 addresses without a module at
// 19200 and at 115200 bit/s, and a line of five modules (found with their
// identities), each with the library's scan_read ("after") and with today's
// exchanges, invoke_modb with three attempts and the full time-out
// ("before"). Not a test: the figures depend on the machine.
//
//   bench_bus_scan [--before-addresses N]
//
// "before" takes about 1.8 s per address without a module; with N below 247
// its empty scans stop after N addresses and the figure for 247 is worked
// out from them.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstring>

#include "BusScan.h"
#include "Errors.h"
#include "Func.h"
#include "RecorderUi.h"
#include "SimBus.h"

namespace {

struct Run {
    double seconds = 0;
    int addresses = 0; // looked at in the quick pass
    std::vector<bus::Found> found;
};

// Steps a scan of the link's setting until it ends or has passed `upTo`.
Run Scan(int upTo = 247) {
    Run r;
    QElapsedTimer t;
    t.start();
    bus::BusScan scan({});
    try {
        while (scan.step()) {
            r.addresses = std::min(std::max(r.addresses, scan.address() - 1), 247);
            if (r.addresses >= upTo)
                break;
        }
    } catch (const Exception& e) {
        std::printf("    scan failed: %s\n", qUtf8Printable(e.message()));
    }
    r.seconds = t.elapsed() / 1000.0;
    if (!scan.running() && !scan.stoppedEarly())
        r.addresses = 247;
    r.found = scan.found();
    return r;
}

void Empty(int32_t baud, bool fast, int upTo) {
    SimBus bus({LineModule(1, "A0001", baud == 19200 ? 9600 : 19200)}, baud, 2); // deaf here
    const scan_read_fn saved = Comm.scan_read;
    if (!fast)
        Comm.scan_read = nullptr;
    const Run r = Scan(fast ? 247 : upTo);
    Comm.scan_read = saved;
    const double per = r.seconds / std::max(r.addresses, 1);
    std::printf("  %-6s %6d bit/s: %6.1f s for %3d addresses, %5.1f ms each",
                fast ? "after" : "before", baud, r.seconds, r.addresses, per * 1000);
    if (r.addresses < 247)
        std::printf(" -> %6.1f s for 247", per * 247);
    std::printf("\n");
}

void Five(bool fast) {
    SimBus bus({LineModule(1, "A0001"), LineModule(17, "A0017"), LineModule(64, "B0064"),
                LineModule(130, "C0130"), LineModule(247, "A2047")});
    const scan_read_fn saved = Comm.scan_read;
    if (!fast)
        Comm.scan_read = nullptr;
    const Run r = Scan();
    Comm.scan_read = saved;
    std::printf("  %-6s %6.1f s, %zu found:\n", fast ? "after" : "before", r.seconds,
                r.found.size());
    for (const bus::Found& f : r.found)
        std::printf("    %s\n", qUtf8Printable(f.fields().join(QStringLiteral(" | "))));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int beforeAddresses = 247;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--before-addresses") == 0)
            beforeAddresses = std::clamp(std::atoi(argv[i + 1]), 1, 247);
    RecorderUi boxes;
    std::printf("247 addresses, no module answering:\n");
    for (const int32_t baud : {19200, 115200}) {
        Empty(baud, true, 247);
        Empty(baud, false, beforeAddresses);
    }
    std::printf("five modules at 19200 bit/s, even parity (addresses 1, 17, 64, 130, 247):\n");
    Five(true);
    if (beforeAddresses == 247)
        Five(false);
    else
        std::printf("  before: with --before-addresses 247 only\n");
    return 0;
}
