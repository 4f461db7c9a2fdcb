// The register operations through the real communication library against
// the simulated module.
#include <QtTest>

#include <QComboBox>
#include <QLineEdit>

#include "Controls.h"
#include "Func.h"
#include "Modulparams.h"
#include "RecorderUi.h"
#include "SimLink.h"

class TestRegisters : public QObject {
    Q_OBJECT

  private slots:
    void roundTripsAndTheUnlockRule() {
        RecorderUi rec;
        SimLink link;
        QVERIFY(link.opened());
        auto& m = link.module();

        m.setReg(reg::FlagsA, 0x001D);
        m.setInput(32768);
        m.setReg(reg::FlagsB, 0x0003);
        uint16_t block[3] = {};
        ReadRegisters(reg::FlagsA, 3, block);
        QCOMPARE(block[0], 0x001D);
        QCOMPARE(block[1], 32768);
        QCOMPARE(block[2], 0x0003);

        const uint16_t params[2] = {2, 250};
        WriteRegisters(reg::Mode, 2, params);
        WriteRegister(reg::Apply, UnlockKey);
        uint16_t time = 0;
        ReadRegister(reg::IntegrationTime, time);
        QCOMPARE(time, 250);

        // A protected register takes a write only right after the unlock.
        QVERIFY_THROWS_EXCEPTION(ECommError, WriteRegister(reg::SerialNumber, 4219));
        QVERIFY(m.reg(reg::SerialNumber) != 4219);
        m.clearRequests();
        WriteRegisterUnlocked(reg::SerialNumber, 4219);
        QCOMPARE(m.reg(reg::SerialNumber), 4219);
        const auto requests = m.requests();
        QCOMPARE(requests.size(), 2u);
        QCOMPARE(requests[0].first, reg::Unlock);
        QCOMPARE(requests[0].values, std::vector<uint16_t>{reg::UnlockKey});
        QCOMPARE(requests[1].first, reg::SerialNumber);

        const uint16_t gain[2] = {0x08A7, 0x009A};
        WriteRegistersUnlocked(reg::GainCurrent, 2, gain);
        QCOMPARE(reg::JoinWords(m.reg(8), m.reg(9)), reg::DefaultGainCurrent);
        QVERIFY(rec.messages.isEmpty());
    }

    void failuresAfterThreeAttempts() {
        RecorderUi rec;
        SimLink link;
        auto& m = link.module();
        uint16_t value = 0;

        // One lost reply is made good by the next attempt.
        m.dropNext(1);
        m.clearRequests();
        ReadRegister(reg::RestartCounter, value);
        QCOMPARE(m.requests().size(), 2u);

        m.dropNext(3);
        m.clearRequests();
        try {
            ReadRegister(reg::RestartCounter, value);
            QFAIL("no exception");
        } catch (const ECommError& e) {
            QCOMPARE(e.message(), QStringLiteral("Нет ответа!"));
        }
        QCOMPARE(m.requests().size(), 3u);

        m.corruptCrcNext(3);
        try {
            ReadRegister(reg::RestartCounter, value);
            QFAIL("no exception");
        } catch (const ECommError& e) {
            QCOMPARE(e.message(), QStringLiteral("Ошибка CRC!"));
        }

        m.exceptionNext(4, 3);
        try {
            WriteRegister(reg::RestartCounter, 0);
            QFAIL("no exception");
        } catch (const ECommError& e) {
            QCOMPARE(e.message(), QStringLiteral("Сбой устройства"));
        }

        // A register outside the module's map.
        try {
            ReadRegister(300, value);
            QFAIL("no exception");
        } catch (const ECommError& e) {
            QCOMPARE(e.message(), QStringLiteral("Недопустимый адрес данных"));
        }

        // Nothing answers the unlock: the data register is never asked for.
        m.dropNext(3);
        m.clearRequests();
        QVERIFY_THROWS_EXCEPTION(ECommError, WriteRegisterUnlocked(reg::ManufactureDate, 26863));
        const auto requests = m.requests();
        QCOMPARE(requests.size(), 3u);
        for (const auto& r : requests)
            QCOMPARE(r.first, reg::Unlock);
        QVERIFY(rec.messages.isEmpty());
    }

    // A slow module: its replies come after the time-out. Every value read,
    // by the register operations and by the service dialog's read sequence,
    // is the one of the register asked for, or the read fails.
    void lateRepliesNeverAnswerAnotherRegister_data() {
        QTest::addColumn<int>("delay");
        QTest::newRow("just after the time-out") << 290;
        QTest::newRow("twice the time-out") << 560;
    }
    void lateRepliesNeverAnswerAnotherRegister() {
        QFETCH(int, delay);
        RecorderUi rec;
        SimLink link(sim::Options{.address = 5, .calibrationDate = 0x60EF});
        QVERIFY(link.opened());
        link.module().delayAll(delay);

        const std::pair<uint16_t, uint16_t> registers[] = {{reg::OwnAddress, 5},
                                                           {reg::OwnSpeed, 192},
                                                           {reg::TypeCode, 17},
                                                           {reg::SerialNumber, 0x082A},
                                                           {reg::Version, 0x0203}};
        int answered = 0;
        for (const auto& [number, expected] : registers) {
            uint16_t value = 0xFFFF;
            try {
                ReadRegister(number, value);
            } catch (const ECommError&) {
                continue;
            }
            ++answered;
            QCOMPARE(value, expected);
        }
        QVERIFY(answered > 0);

        TModPars dialog(nullptr, nullptr);
        const char* const edits[] = {"edAdress", "edName",  "edNumber",
                                     "edVer",    "edManuf", "edCheck"};
        const char* const lists[] = {"cbSpeed", "cbParity", "cbAlpha"};
        QMap<QString, QString> before;
        for (const char* name : edits)
            before[name] = Control<QLineEdit>(dialog, name)->displayText();
        for (const char* name : lists)
            before[name] = QString::number(Control<QComboBox>(dialog, name)->currentIndex());
        seam::Guard([&] { dialog.btReadClick(); });
        // A field the read did not reach keeps what it showed; one it reached
        // shows the module's value.
        const QMap<QString, QString> expected = {
            {"edAdress", "5"},  {"edName", "QS-730"},    {"edNumber", "0042"},
            {"edVer", "02.03"}, {"edManuf", "15.03.26"}, {"edCheck", "15.03.24"},
            {"cbSpeed", "3"},   {"cbParity", "2"},       {"cbAlpha", "0"}};
        int filled = 0;
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            const QString name = it.key();
            const QString now =
                name.startsWith(QLatin1String("cb"))
                    ? QString::number(Control<QComboBox>(dialog, qPrintable(name))->currentIndex())
                    : Control<QLineEdit>(dialog, qPrintable(name))->displayText().trimmed();
            QVERIFY2(now == it.value() || now == before[name].trimmed(),
                     qPrintable(name + QStringLiteral(": ") + now));
            filled += now == it.value() ? 1 : 0;
        }
        QVERIFY(filled > 0);
        for (const auto& m : rec.messages)
            QVERIFY2(m.text.startsWith(QStringLiteral("Нет ответа")), qPrintable(m.text));
    }

    void wrongLineSettingsGetNoAnswer() {
        RecorderUi rec;
        SimLink link(sim::Options{.baud = 9600, .parity = 1});
        uint16_t value = 0;
        ReadRegister(reg::TypeCode, value);
        QCOMPARE(value, 17);

        QVERIFY(OpenPort(link.port(), 9600, 2));
        QVERIFY_THROWS_EXCEPTION(ECommError, ReadRegister(reg::TypeCode, value));
        QVERIFY(OpenPort(link.port(), 19200, 1));
        QVERIFY_THROWS_EXCEPTION(ECommError, ReadRegister(reg::TypeCode, value));
        ModuleAddress = 2;
        QVERIFY(OpenPort(link.port(), 9600, 1));
        QVERIFY_THROWS_EXCEPTION(ECommError, ReadRegister(reg::TypeCode, value));
        QVERIFY(rec.messages.isEmpty());
    }
};

QTEST_MAIN(TestRegisters)
#include "test_registers.moc"
