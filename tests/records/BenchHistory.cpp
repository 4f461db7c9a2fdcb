// Prints how long the history takes with a fleet of 1,000 modules and ten
// years of entries each (about 50,000 in all): the fleet's lines, and one
// module's history, from a local SQLite file and from a PostgreSQL server
// started for the run; and the poll rate against the simulated module while
// entries are being recorded, against the rate without. Not a test: the
// figures depend on the machine.
//
//   bench_history [--modules N] [--no-server]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

#include "Func.h"
#include "HistoryServer.h"
#include "HistoryStore.h"
#include "HistoryWriter.h"
#include "SimLink.h"

using namespace History;

namespace {

// Ten years of one module: a calibration, a check, two connections and a
// configuration saved a year: 50 entries.
QList<Entry> TenYears(int module) {
    QList<Entry> out;
    const QString reg = QStringLiteral("A%1").arg(module, 4, 10, QLatin1Char('0'));
    const QDateTime start(QDate(2016, 1, 1).addDays(module % 300), QTime(9, 0), Qt::UTC);
    for (int year = 0; year < 10; ++year) {
        const QDateTime t = start.addYears(year);
        auto add = [&](Kind k, int day) {
            Entry e = NewEntry(k, reg, 17, QStringLiteral("Иванов И. И."));
            e.made = t.addDays(day);
            e.summary = KindText(k);
            if (k == Kind::Calibration) {
                QJsonArray points;
                for (int nominal : {2000, 11000, 20000, 1000, 5500, 10000})
                    points.append(QJsonObject{{QStringLiteral("nominal"), nominal},
                                              {QStringLiteral("error"), (year % 5) - 2.0}});
                e.details[QStringLiteral("asFound")] = points;
                e.details[QStringLiteral("asLeft")] = points;
            }
            if (k == Kind::Seen)
                e.details[QStringLiteral("firmware")] = QStringLiteral("1.07");
            out.append(e);
        };
        add(Kind::Calibration, 0);
        add(Kind::Check, 180);
        add(Kind::Seen, 0);
        add(Kind::Seen, 180);
        add(Kind::ConfigSaved, 1);
    }
    return out;
}

void Measure(const char* name, const Target& target, int modules) {
    Store store(target);
    store.open();
    QElapsedTimer t;
    t.start();
    QList<Entry> batch;
    for (int m = 0; m < modules; ++m) {
        batch += TenYears(m);
        if (batch.size() >= 5000) {
            store.add(batch);
            batch.clear();
        }
    }
    store.add(batch);
    const double fill = t.elapsed() / 1000.0;
    const int count = store.count();
    store.close();

    // As the window does: a fresh connection, then the query.
    Store reader(target);
    t.restart();
    reader.open();
    const auto fleet = reader.fleet(QDate::currentDate());
    const double fleetSeconds = t.nsecsElapsed() / 1e9;
    t.restart();
    const auto one = reader.moduleHistory(QStringLiteral("A0500"));
    const double oneSeconds = t.nsecsElapsed() / 1e9;
    std::printf("%-10s %6d entries of %4lld modules (filled in %.1f s): fleet %.3f s (goal 1 s),"
                " one module's %lld entries %.4f s (goal 0.3 s)\n",
                name, count, static_cast<long long>(fleet.size()), fill, fleetSeconds,
                static_cast<long long>(one.size()), oneSeconds);
}

// Polls of the measured value (registers 1024-1026) in `seconds`.
double PollRate(double seconds, Writer* writer) {
    QElapsedTimer t;
    t.start();
    int polls = 0;
    uint16_t words[3];
    while (t.elapsed() < seconds * 1000) {
        ReadRegisters(1024, 3, words);
        ++polls;
        // A record every tenth poll: far more than the tool ever makes.
        if (writer && polls % 10 == 0)
            writer->add(NewEntry(Kind::Restarts, QStringLiteral("A0001"), 17));
    }
    return polls / (t.elapsed() / 1000.0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int modules = 1000;
    bool server = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--modules") && i + 1 < argc)
            modules = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--no-server"))
            server = false;
    }
    QTemporaryDir dir;
    Target local;
    local.file = dir.filePath(QStringLiteral("bench.sqlite"));
    Measure("SQLite", local, modules);

    if (server) {
        PgServer pg;
        if (!HistoryServer::Prepare(pg))
            std::printf("PostgreSQL: not started: %s\n", qPrintable(pg.why()));
        else
            Measure("PostgreSQL", HistoryServer::Target(pg, PgServer::superUser()), modules);
    }

    if (!LoadCommLibrary()) {
        std::printf("poll rate: the communication library is not beside the program\n");
        return 0;
    }
    SimLink link;
    if (!link.opened()) {
        std::printf("poll rate: the simulated module did not open\n");
        return 0;
    }
    Target rec;
    rec.file = dir.filePath(QStringLiteral("poll.sqlite"));
    double without = 0;
    double with = 0;
    {
        Writer writer(rec, dir.filePath(QStringLiteral("poll.jsonl")));
        // Taken in turns, so that the machine's other work weighs on both.
        PollRate(1, nullptr);
        for (int round = 0; round < 4; ++round) {
            without += PollRate(2, nullptr);
            with += PollRate(2, &writer);
        }
        writer.settle(30000);
    }
    std::printf("poll rate at %d bit/s: %.1f polls/s without recording, %.1f with a record "
                "every tenth poll: %.3f× (goal 0.98×)\n",
                BaudRate, without, with, with / without);
    return 0;
}
