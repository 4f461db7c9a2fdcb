// Protected writes through the real communication library to the simulated
// module, when the module carries out a write but its reply is lost on the
// way back: the unlock is used up, so every retry is unlocked anew, and the
// passport and the calibration coefficients end up written whole.
#include <QtTest>

#include "Calibration.h"
#include "Func.h"
#include "RecorderUi.h"
#include "ServiceParams.h"
#include "SimLink.h"

namespace {

// What the module received: "R<first>" for reads, "W<first>" for writes.
QStringList Received(const sim::SimModule& m) {
    QStringList r;
    for (const sim::Request& q : m.requests())
        r << (q.function == 3 ? QStringLiteral("R%1") : QStringLiteral("W%1")).arg(q.first);
    return r;
}

const uint16_t NewSerial = reg::EncodeSerial(1, 7); // B0007
const uint16_t NewDate = reg::PackDate(7, 5, 9);
const CoefficientSet NewCoefficients = {0x08A80000, 0x00001234, 0x0F000000, 0x00000042};

} // namespace

class TestProtectedWrites : public QObject {
    Q_OBJECT

  private slots:
    void lostRepliesAreWrittenAgain_data() {
        QTest::addColumn<QString>("what"); // "passport" or "coefficients"
        QTest::addColumn<int>("reg");      // whose write replies go missing
        QTest::addColumn<int>("lost");     // how many of them
        QTest::addColumn<QStringList>("received");
        QTest::addColumn<QString>("error"); // "": written whole
        const QStringList link = {"W257", "W258", "W259"};
        QTest::newRow("passport, register 0 once")
            << "passport" << 0 << 1
            << QStringList{"W1912", "W0", "W1912", "W0", "W1912", "W1"} + link << "";
        QTest::newRow("passport, register 1 twice")
            << "passport" << 1 << 2
            << QStringList{"W1912", "W0", "W1912", "W1", "W1912", "W1", "W1912", "W1"} + link << "";
        QTest::newRow("coefficients, register 10 once")
            << "coefficients" << 10 << 1 << QStringList{"W1912", "W8",    "W1912", "W10",   "W1912",
                                                        "W10",   "W1912", "W12",   "W1912", "W14"}
            << "";
        // Taken three times without an answer: the box says so, and what the
        // module holds, read back.
        QTest::newRow("passport, register 0 every time")
            << "passport" << 0 << 3
            << QStringList{"W1912", "W0", "W1912", "W0", "W1912", "W0", "R0", "R1"}
            << "Паспорт записан не полностью: при записи рег. номера — «Нет ответа!».\n"
               "Сейчас в модуле:\n"
               "рег. номер (регистр 0) — B0007, новый;\n"
               "дата изготовления (регистр 1) — 15.03.26, прежняя.\n"
               "Адрес, скорость и паритет не записывались";
    }
    void lostRepliesAreWrittenAgain() {
        QFETCH(QString, what);
        QFETCH(int, reg);
        QFETCH(int, lost);
        QFETCH(QString, error);
        RecorderUi rec;
        SimLink link;
        QVERIFY(link.opened());
        auto& m = link.module();
        m.loseWriteReplies(static_cast<uint16_t>(reg), lost);
        m.clearRequests();

        QString thrown;
        try {
            if (what == QStringLiteral("passport")) {
                module::ServiceWrite w;
                w.link = module::CurrentLink();
                w.passport = module::ServiceWrite::Passport{NewSerial, reg::Date{7, 5, 9}};
                const module::ModuleLinkOutcome o = module::WriteServiceParams(w);
                QVERIFY(o.complete());
            } else {
                WriteCoefficients(NewCoefficients);
            }
        } catch (const Exception& e) {
            thrown = e.message();
        }
        QCOMPARE(thrown, error);
        QTEST(Received(m), "received");
        if (what == QStringLiteral("passport")) {
            QCOMPARE(m.reg(reg::SerialNumber), NewSerial);
            QCOMPARE(m.reg(reg::ManufactureDate), error.isEmpty() ? NewDate : uint16_t(0x68EF));
        } else {
            for (std::size_t i = 0; i < NewCoefficients.size(); ++i) {
                const auto first = static_cast<uint16_t>(reg::GainCurrent + 2 * i);
                QCOMPARE(reg::JoinWords(m.reg(first), m.reg(uint16_t(first + 1))),
                         NewCoefficients[i]);
            }
        }
        QCOMPARE(m.reg(reg::OwnAddress), uint16_t(1));
    }
};

QTEST_MAIN(TestProtectedWrites)
#include "test_protected_writes.moc"
