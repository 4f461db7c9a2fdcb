// The link statistics of the register operations through the real
// communication library, against the simulated module with lost and
// damaged replies.
#include <QtTest>
#include <numeric>

#include "Func.h"
#include "LinkStats.h"
#include "RecorderUi.h"
#include "SimLink.h"

class TestLinkStatsSim : public QObject {
    Q_OBJECT

  private slots:
    void countsWhatTheLineDid() {
        RecorderUi rec;
        SimLink link;
        QVERIFY(link.opened());
        auto& m = link.module();
        LinkStats& stats = LinkStats::global();
        stats.reset();
        m.clearRequests();
        uint16_t block[3] = {};
        uint16_t word = 0;

        ReadRegisters(reg::FlagsA, 3, block); // at the first attempt
        m.corruptCrcNext(1);
        ReadRegisters(reg::FlagsA, 3, block); // at the second
        m.dropNext(2);
        ReadRegisters(reg::FlagsA, 3, block); // at the third
        m.dropNext(3);
        QVERIFY_THROWS_EXCEPTION(ECommError, ReadRegisters(reg::FlagsA, 3, block));
        m.corruptCrcNext(3);
        QVERIFY_THROWS_EXCEPTION(ECommError, WriteRegister(reg::RestartCounter, 0));
        QVERIFY_THROWS_EXCEPTION(ECommError, ReadRegister(300, word)); // outside the map

        const LinkCounts c = stats.counts();
        QCOMPARE(c.exchanges, uint64_t(6));
        QCOMPARE(c.attempts, uint64_t(15));
        QCOMPARE(c.attempts, uint64_t(m.requests().size())); // what went out on the line
        QCOMPARE(c.succeededAt, (std::array<uint64_t, 3>{1, 1, 1}));
        QCOMPARE(c.failedWith[COMM_NO_REPLY], uint64_t(1));
        QCOMPARE(c.failedWith[COMM_BAD_CRC], uint64_t(1));
        QCOMPARE(c.failedWith[2], uint64_t(1));
        QCOMPARE(c.exceptions(), uint64_t(1));
        QCOMPARE(c.exceptionRegister[2], 300);
        QCOMPARE(c.otherFailures(), uint64_t(0));
        QCOMPARE(c.attemptsFailedWith[COMM_NO_REPLY], uint64_t(5));
        QCOMPARE(c.attemptsFailedWith[COMM_BAD_CRC], uint64_t(4));
        QCOMPARE(c.attemptsFailedWith[2], uint64_t(3));

        // Three answered calls, timed from request to reply (a pseudo-terminal
        // takes no time per character) and sorted into the classes; then a
        // module that answers 60 ms late.
        QCOMPARE(c.timed, uint64_t(3));
        QCOMPARE(std::accumulate(c.timeClasses.begin(), c.timeClasses.end(), uint64_t(0)),
                 uint64_t(3));
        QVERIFY2(c.minMs > 0 && c.maxMs < 250, qPrintable(QString::number(c.maxMs)));
        QVERIFY(c.minMs <= c.lastMs && c.lastMs <= c.maxMs);
        m.delayNext(60, 1);
        ReadRegister(reg::RestartCounter, word);
        QVERIFY2(stats.counts().lastMs >= 60, qPrintable(QString::number(stats.counts().lastMs)));
        QCOMPARE(stats.counts().maxMs, stats.counts().lastMs);
        const auto& classes = stats.counts().timeClasses;
        QCOMPARE(classes[2] + classes[3] + classes[4], uint64_t(1)); // above 50 ms

        // A wrong address: only silence since the change of settings.
        ModuleAddress = 2;
        QVERIFY(OpenPort(link.port(), m.baud(), static_cast<uint8_t>(m.parity())));
        QVERIFY_THROWS_EXCEPTION(ECommError, ReadRegisters(reg::FlagsA, 3, block));
        const QStringList advice = LinkAdvice(stats.counts());
        QCOMPARE(advice.size(), 2);
        QVERIFY2(advice[0].contains(QStringLiteral("неверны скорость, чётность или адрес")),
                 qPrintable(advice[0]));
        QVERIFY(rec.messages.isEmpty());
    }
};

QTEST_MAIN(TestLinkStatsSim)
#include "test_link_stats_sim.moc"
