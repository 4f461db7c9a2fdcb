// The bus scan through the real communication library against a simulated
// line of several modules: who is found with which identity, the collision,
// a slow module, "Стоп", a port that is not open or goes away, today's
// exchanges where the library has no scan_read, the link as it was, and
// scans far longer than the library's ring of frames, every look counted and
// its frames kept.
#include <QtTest>

#include "BusScan.h"
#include "Errors.h"
#include "FrameLog.h"
#include "Func.h"
#include "Gateway.h"
#include "LinkStats.h"
#include "RecorderUi.h"
#include "SimBus.h"

namespace {

// Five modules of this type, of which two share address 5, one at 9600 bit/s
// without parity, and one module of another type.
std::vector<sim::Options> MixedLine() {
    return {LineModule(1, "A0042"),
            LineModule(5, "A0043"),
            LineModule(5, "A0044"),
            LineModule(9, "B0101", 9600, 0),
            LineModule(12, "C0007", 19200, 2, 12),
            LineModule(30, "A0100"),
            LineModule(247, "A2047")};
}

// Steps the scan to its end; the message of a failure, if one ended it.
QString Run(bus::BusScan& scan) {
    try {
        while (scan.step()) {
        }
    } catch (const Exception& e) {
        return e.message();
    }
    return QString();
}

// A module at every address but each tenth, at 115200 bit/s: looks that
// answer are quick, and the silent ones are there too.
std::vector<sim::Options> CrowdedLine() {
    std::vector<sim::Options> modules;
    for (int address = 1; address <= 247; ++address) {
        if (address % 10 == 0)
            continue;
        const QByteArray serial = "A" + QByteArray::number(address);
        modules.push_back(LineModule(static_cast<uint8_t>(address), serial.constData(), 115200));
    }
    return modules;
}

QStringList Rows(const std::vector<bus::Found>& found) {
    QStringList rows;
    for (const bus::Found& f : found)
        rows << f.fields().join(QLatin1Char('|'));
    return rows;
}

} // namespace

class TestBusScanSim : public QObject {
    Q_OBJECT

    QStringList statusLines;

  private slots:
    void init() {
        statusLines.clear();
        LinkStateSink = [this](const QString& text) { statusLines << text; };
    }
    void cleanup() { LinkStateSink = nullptr; }

    void everyModuleWithItsIdentity() {
        RecorderUi rec;
        SimBus bus(MixedLine());
        QVERIFY(bus.opened());
        QVERIFY(bus::BusScan::Fast());
        statusLines.clear();
        bus::BusScan scan({});
        QCOMPARE(Run(scan), QString());
        QVERIFY(!scan.stoppedEarly());
        const QString moduleAt = QStringLiteral("%1|19200|Even|%2|%3|02.03|%1|19200|Even|%4");
        QCOMPARE(Rows(scan.found()),
                 QStringList({moduleAt.arg("1", "A0042", "QS-730 (17)", "отвечает"),
                              "5|19200|Even|—|—|—|—|—|—|искажённые ответы (возможно, два модуля "
                              "с одним адресом или помехи)",
                              moduleAt.arg("12", "C0007", "LN-A1X (12)", "модуль другого типа"),
                              moduleAt.arg("30", "A0100", "QS-730 (17)", "отвечает"),
                              moduleAt.arg("247", "A2047", "QS-730 (17)", "отвечает")}));
        QCOMPARE(scan.answered(), 4);
        QVERIFY(!bus.anyWrite());
        QVERIFY(bus.line().collisions() > 0);
        // The link is as before: never reopened, the tool's module answers.
        QCOMPARE(statusLines, QStringList());
        QCOMPARE(SerialAtTheToolsLink(), reg::EncodeSerial(0, 42));
        QCOMPARE(rec.texts(), QStringList());
    }

    // Its replies come long after the quick look: heard during the looks
    // that follow, it is looked at again, patiently.
    void slowModuleFoundByItsLateReply() {
        SimBus bus({LineModule(7, "A0007"), LineModule(20, "A0020")});
        bus.line().module(0).delayAll(90);
        bus::BusScan scan({});
        QCOMPARE(Run(scan), QString());
        QCOMPARE(scan.found().size(), size_t(2));
        QCOMPARE(scan.found()[0].address, 7);
        QCOMPARE(scan.found()[0].serial, std::optional<uint16_t>(reg::EncodeSerial(0, 7)));
        QCOMPARE(scan.found()[0].ownAddress, std::optional<uint16_t>(7));
    }

    // Every speed and parity, the tool's own second: each module where it
    // answers; then the port is back at the tool's settings.
    void allSettingsThenTheLinkAsBefore() {
        SimBus bus({LineModule(1, "A0001"), LineModule(2, "A0002", 9600, 0)}, 9600, 0);
        ModuleAddress = 2;
        statusLines.clear();
        bus::BusScan scan({true, 2});
        QCOMPARE(Run(scan), QString());
        QVERIFY(scan.stoppedEarly()); // both found before the third setting
        QCOMPARE(scan.settingIndex(), 1);
        QCOMPARE(scan.found().size(), size_t(2));
        QVERIFY((scan.found()[0].at == bus::LineSetting{19200, 2}));
        QVERIFY((scan.found()[1].at == bus::LineSetting{9600, 0}));
        QCOMPARE(scan.found()[1].address, 2);
        QCOMPARE(statusLines,
                 QStringList(QStringLiteral("Открыт %1  9600 бод None Адрес 2").arg(bus.port())));
        QCOMPARE(SerialAtTheToolsLink(), reg::EncodeSerial(0, 2));
        QVERIFY(!bus.anyWrite());
    }

    // Behind a gateway, either kind: the modules found at their addresses;
    // "Все скорости" looks at the one setting, since the gateway runs the
    // line at its own.
    void throughAGateway() {
        for (const auto kind : {sim::GatewayKind::ModbusTcp, sim::GatewayKind::RtuTcp}) {
            SimBus bus({LineModule(1, "A0001")}); // binds the library
            sim::Gateway gateway(kind, {LineModule(3, "A0003"), LineModule(7, "A0007")});
            const QString name = QString::fromStdString(gateway.portName());
            PortName = name;
            QVERIFY(OpenPort(name, 19200, 2));
            bus::BusScan scan({true, 2});
            QCOMPARE(scan.settingCount(), 1);
            QCOMPARE(Run(scan), QString());
            QCOMPARE(scan.found().size(), size_t(2));
            QCOMPARE(scan.found()[0].address, 3);
            QCOMPARE(scan.found()[1].address, 7);
            QCOMPARE(scan.found()[1].serial, std::optional<uint16_t>(reg::EncodeSerial(0, 7)));
            PortName = bus.port();
        }
    }

    // "Стоп" at once; after "Все скорости" the port is back at the tool's
    // settings as after a scan that ends by itself (above).
    void stopLeavesTheLinkAsItWas() {
        SimBus bus(MixedLine());
        statusLines.clear();
        bus::BusScan scan({});
        while (scan.address() < 10)
            QVERIFY(scan.step());
        scan.stop();
        QVERIFY(!scan.running());
        QVERIFY(scan.stoppedEarly());
        QVERIFY(!scan.step());
        QCOMPARE(scan.address(), 10);
        QCOMPARE(scan.found().size(), size_t(1)); // 5, damaged, was still to be looked at again
        QCOMPARE(statusLines, QStringList());
        QCOMPARE(SerialAtTheToolsLink(), reg::EncodeSerial(0, 42));
    }

    // Today's exchanges, three attempts with the full time-out each; the
    // expected number found ends the scan early.
    void withoutTheLibrarysScan() {
        SimBus bus({LineModule(1, "A0001"), LineModule(2, "A0002")});
        const scan_read_fn saved = Comm.scan_read;
        Comm.scan_read = nullptr;
        bus::BusScan scan({false, 2});
        const QString failure = Run(scan);
        Comm.scan_read = saved;
        QCOMPARE(failure, QString());
        QVERIFY(!bus::BusScan::Fast() || saved);
        QVERIFY(scan.stoppedEarly());
        QCOMPARE(scan.answered(), 2);
        QCOMPARE(scan.found()[1].serial, std::optional<uint16_t>(reg::EncodeSerial(0, 2)));
        QCOMPARE(scan.found()[1].ownParity, std::optional<uint16_t>(2));
        QVERIFY(!bus.anyWrite());
    }

    // Scans with no window reading the frames (the monitor hidden), one after
    // the other, 2,500 looks and more: several times what the library's ring
    // of 4096 records holds. Not a record is lost, and every look is an
    // exchange of the statistics with its request among the frames.
    void longScansLoseNoFrame() {
        SimBus bus(CrowdedLine(), 115200, 2);
        QVERIFY(bus.opened());
        QVERIFY(FrameLog::global().available());
        FrameLog& frames = FrameLog::global();
        frames.pull();
        const uint64_t takenBefore = frames.taken();
        const LinkCounts before = LinkStats::global().counts();
        const int scans = 4; // 247 looks and two identity reads of each module found
        for (int i = 0; i < scans; ++i) {
            bus::BusScan scan({});
            QCOMPARE(Run(scan), QString());
            QCOMPARE(scan.answered(), 223);
        }
        const uint64_t taken = frames.taken() - takenBefore;
        QVERIFY(taken > 4096);
        QVERIFY(taken <= FrameLog::Capacity);
        uint64_t requests = 0, lost = 0;
        for (std::size_t i = frames.size() - taken; i < frames.size(); ++i) {
            const FrameRecord& r = frames.at(i);
            lost += r.lost;
            requests += r.frame.kind == COMM_FRAME_REQUEST ? 1 : 0;
        }
        QCOMPARE(lost, uint64_t(0));
        const LinkCounts& after = LinkStats::global().counts();
        const uint64_t looks = after.exchanges - before.exchanges;
        QCOMPARE(looks, uint64_t(scans * (247 + 2 * 223)));
        // One attempt a look; the silent ones are the scan's, not the link's.
        QCOMPARE(after.attempts - before.attempts, looks);
        QCOMPARE(requests, looks);
        QCOMPARE(after.silentLooks - before.silentLooks, uint64_t(24 * scans));
        QCOMPARE(after.exchangesSinceOpen, before.exchangesSinceOpen);
        QVERIFY(!bus.anyWrite());
    }

    void portNotOpenOrPulled() {
        SimBus bus(MixedLine());
        Comm.init_comm("/nonexistent/qs730", 19200, 2);
        {
            bus::BusScan scan({});
            QCOMPARE(Run(scan), QStringLiteral("Порт %1 не открыт: поиск модулей невозможен. "
                                               "Откройте порт в окне «Порт» → «Настройки...»")
                                    .arg(bus.port()));
            QVERIFY(!scan.running());
        }
        QVERIFY(OpenPort(PortName, BaudRate, ParityIndex));
        bus::BusScan scan({});
        while (scan.address() < 20)
            QVERIFY(scan.step());
        bus.pull();
        QCOMPARE(Run(scan), QStringLiteral("Связь с портом %1 потеряна: поиск модулей "
                                           "остановлен.\nПроверьте преобразователь USB–RS-485")
                                .arg(PortName));
        QVERIFY(scan.stoppedEarly());
        QCOMPARE(scan.found().size(), size_t(2)); // 1 and 12, found before
    }
};

QTEST_GUILESS_MAIN(TestBusScanSim)
#include "test_bus_scan_sim.moc"
