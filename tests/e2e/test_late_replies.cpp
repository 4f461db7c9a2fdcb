// A slow module that answers in order, as a real one does, each reply up to
// 1 s late, read through the register operations and the real library: every
// read returns what the module held in the register asked for during that
// very read, or fails. Never another register's value, never an earlier
// read's.
#include <QtTest>

#include <chrono>
#include <thread>

#include "Func.h"
#include "RecorderUi.h"
#include "SimLink.h"

class TestLateReplies : public QObject {
    Q_OBJECT

  private slots:
    // Spells of a few late replies, while different registers are read in
    // turn: each late reply queues up behind the one before. (950 ms rather
    // than 1 s leaves a busy test machine's scheduling some room.)
    void spellsNeverAnswerAnotherRegister_data() {
        QTest::addColumn<int>("replies");
        QTest::addColumn<int>("delay");
        QTest::newRow("two, 600 ms late") << 2 << 600;
        QTest::newRow("two, 950 ms late") << 2 << 950;
        QTest::newRow("three, 520 ms late") << 3 << 520;
        QTest::newRow("three, 950 ms late") << 3 << 950;
    }
    void spellsNeverAnswerAnotherRegister() {
        QFETCH(int, replies);
        QFETCH(int, delay);
        RecorderUi rec;
        SimLink link(sim::Options{.calibrationDate = 0x60EF});
        QVERIFY(link.opened());
        auto& m = link.module();
        m.answerInOrder(true);

        const std::pair<uint16_t, uint16_t> registers[] = {
            {reg::SerialNumber, 0x082A}, {reg::TypeCode, 17},  {reg::ManufactureDate, 0x68EF},
            {reg::Version, 0x0203},      {reg::OwnSpeed, 192}, {reg::CalibrationDate, 0x60EF}};
        constexpr int Spells = 2;
        int answered = 0;
        for (int spell = 0; spell < Spells; ++spell) {
            m.delayNext(delay, replies);
            for (const auto& [number, expected] : registers) {
                uint16_t value = 0xFFFF;
                try {
                    ReadRegister(number, value);
                } catch (const ECommError&) {
                    continue;
                }
                ++answered;
                QVERIFY2(value == expected,
                         qPrintable(QStringLiteral("register %1 read %2").arg(number).arg(value)));
            }
        }
        // A spell costs at most the read it begins in.
        QVERIFY(answered >= Spells * (int(std::size(registers)) - 1));
    }

    // Periodic polling through spells of two late replies: the value changes
    // before every poll, so a poll that shows an earlier poll's reply shows.
    void periodicPollNeverShowsAnEarlierPoll_data() {
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("delay");
        QTest::newRow("every 500 ms, 280 ms late") << 500 << 280;
        QTest::newRow("every 200 ms, 270 ms late") << 200 << 270;
        QTest::newRow("every 300 ms, 600 ms late") << 300 << 600;
        QTest::newRow("every 400 ms, 450 ms late") << 400 << 450;
        QTest::newRow("every 300 ms, 950 ms late: a poll fails") << 300 << 950;
    }
    void periodicPollNeverShowsAnEarlierPoll() {
        QFETCH(int, period);
        QFETCH(int, delay);
        RecorderUi rec;
        SimLink link;
        QVERIFY(link.opened());
        auto& m = link.module();
        m.answerInOrder(true);

        constexpr uint16_t Polls = 12;
        int answered = 0;
        QList<uint16_t> stale;
        for (uint16_t poll = 1; poll <= Polls; ++poll) {
            if (poll % 4 == 1)
                m.delayNext(delay, 2);
            m.setInput(poll);
            uint16_t block[3] = {};
            try {
                ReadRegisters(reg::FlagsA, 3, block);
                ++answered;
                if (block[1] != poll)
                    stale.append(poll);
            } catch (const ECommError&) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(period));
        }
        QCOMPARE(stale, QList<uint16_t>());
        QVERIFY(answered >= Polls - 3);
    }
};

QTEST_MAIN(TestLateReplies)
#include "test_late_replies.moc"
