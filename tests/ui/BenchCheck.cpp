// Not a test: how long the accuracy check keeps the window from handling
// events, against the simulated module through the real library and with the
// real pauses. It starts a check of one current point and measures it,
// printing the longest time between two events while starting and while the
// point is measured, and how long the point took.
//
//   bench_check [--integration MS] [--samples N]    (1000 ms and 5 by default)
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "Check.h"
#include "Profile.h"
#include "Registers.h"
#include "SimLink.h"

namespace {

int Option(int argc, char** argv, const char* name, int def) {
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], name) == 0)
            return QByteArray(argv[i + 1]).toInt();
    return def;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int integration = Option(argc, argv, "--integration", 1000);
    const int samples = Option(argc, argv, "--samples", 5);

    sim::Options options;
    options.mode = reg::ModeVoltage; // the check switches to current first
    options.integrationTime = static_cast<uint16_t>(integration);
    options.appliedCurrentUa = 2000;
    SimLink link(options);
    if (!link.opened()) {
        std::fprintf(stderr, "the simulated module did not open\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("QS730_View.ini"));
    ProfileFile(ini).write(
        {{QStringLiteral("Check"), QStringLiteral("Current"), "2000"},
         {QStringLiteral("Check"), QStringLiteral("Voltage"), ""},
         {QStringLiteral("Check"), QStringLiteral("Samples"), QString::number(samples)}});

    TCheck check(nullptr, ProfileFile(ini));
    check.show();
    auto* next = check.findChild<QPushButton*>(QStringLiteral("btNext"));
    auto* results = check.findChild<QTableWidget*>(QStringLiteral("tbResults"));

    // The longest gap between two ticks of a 5 ms timer is the longest time
    // the window handled no event.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest[3] = {0, 0, 0};
    int phase = 0; // 1 starting, 2 measuring the point: set before the click
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest[phase] = std::max(longest[phase], now - last);
        last = now;
    });
    tick.start(5);

    qint64 pointStart = 0;
    qint64 pointTime = 0;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (phase == 0 && clock.elapsed() > 200) {
            phase = 1;
            next->click(); // takes the points and shows the first one
        } else if (phase == 1 && next->isEnabled()) {
            phase = 2;
            pointStart = clock.elapsed();
            next->click(); // measures it
        } else if (phase == 2 && results->rowCount() > 0) {
            pointTime = clock.elapsed() - pointStart;
            QCoreApplication::quit();
        }
    });
    driver.start(20);
    QTimer::singleShot(300000, &app, [] { QCoreApplication::exit(1); });
    const int rc = QCoreApplication::exec();
    std::printf("integration time %d ms, %d readings per point\n", integration, samples);
    std::printf("longest freeze while starting (the first press): %lld ms\n",
                static_cast<long long>(longest[1]));
    std::printf("longest freeze while the point was measured: %lld ms\n",
                static_cast<long long>(longest[2]));
    std::printf("the point took %lld ms\n", static_cast<long long>(pointTime));
    check.reject();
    return rc;
}
