// The trend's points without a window: the ring, the statistics, the unit,
// the flags and how the points fall on the plot's columns.
#include <QtTest>
#include <algorithm>
#include <cmath>

#include "Registers.h"
#include "TrendModel.h"

namespace {

PollOutcome Ok(qint64 msecs, uint16_t value, uint16_t mode = 1, uint16_t flagsA = 0,
               uint16_t flagsB = 0) {
    PollOutcome o;
    o.msecs = msecs;
    o.elapsed = msecs;
    o.mode = mode;
    o.ok = true;
    o.value = value;
    o.flagsA = flagsA;
    o.flagsB = flagsB;
    return o;
}

PollOutcome Failed(qint64 msecs, uint16_t mode = 1) {
    PollOutcome o;
    o.msecs = msecs;
    o.elapsed = msecs;
    o.mode = mode;
    o.error = QStringLiteral("Нет ответа!");
    return o;
}

QList<int> Values(const TrendModel& m) {
    QList<int> v;
    for (int i = 0; i < m.size(); ++i)
        v << m.at(i).value;
    return v;
}

} // namespace

class TestTrendModel : public QObject {
    Q_OBJECT

  private slots:
    void holdsADayAtOneSecondOrAHundredThousandPoints() {
        QVERIFY(TrendModel().capacity() >= std::max(24 * 3600, 100000));
    }

    void ringDropsTheOldestPoints() {
        TrendModel m(4);
        for (int i = 1; i <= 3; ++i)
            m.add(Ok(i, static_cast<uint16_t>(i * 10)));
        QCOMPARE(Values(m), QList<int>({10, 20, 30}));
        for (int i = 4; i <= 9; ++i)
            m.add(Ok(i, static_cast<uint16_t>(i * 10)));
        QCOMPARE(Values(m), QList<int>({60, 70, 80, 90}));
        QCOMPARE(m.at(0).msecs, qint64(6));
        QCOMPARE(m.stats().min, uint16_t(60)); // the dropped points no longer count
        m.add(Failed(10));                     // takes no place
        QCOMPARE(m.size(), 4);
        m.clear();
        m.add(Ok(11, 5));
        QCOMPARE(Values(m), QList<int>({5}));
    }

    void stats_data() {
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<double>("mean");
        QTest::addColumn<double>("stdDev"); // NaN where it is not defined
        QTest::newRow("one") << QList<int>({12000}) << 12000 << 12000 << 12000.0 << qQNaN();
        QTest::newRow("textbook") << QList<int>({2, 4, 4, 4, 5, 5, 7, 9}) << 2 << 9 << 5.0
                                  << std::sqrt(32.0 / 7);
        QTest::newRow("full range")
            << QList<int>({65535, 0}) << 0 << 65535 << 32767.5 << 65535 / std::sqrt(2.0);
        // A small spread on a large value is not lost to rounding.
        QTest::newRow("steady") << QList<int>({60001, 60003, 60001, 60003}) << 60001 << 60003
                                << 60002.0 << std::sqrt(4.0 / 3);
    }
    void stats() {
        QFETCH(QList<int>, values);
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(double, mean);
        QFETCH(double, stdDev);
        TrendModel m;
        QCOMPARE(m.stats().count, 0);
        for (int i = 0; i < values.size(); ++i) {
            m.add(Ok(i * 1000, static_cast<uint16_t>(values[i])));
            m.add(Failed(i * 1000 + 500)); // failed polls do not count
        }
        const TrendStats s = m.stats();
        QCOMPARE(s.count, values.size());
        QCOMPARE(int(s.min), min);
        QCOMPARE(int(s.max), max);
        QCOMPARE(s.mean, mean);
        if (std::isnan(stdDev))
            QVERIFY(std::isnan(s.stdDev));
        else
            QVERIFY2(std::abs(s.stdDev - stdDev) < 1e-9 * std::max(1.0, stdDev),
                     qPrintable(QString::number(s.stdDev, 'g', 17)));
    }

    void unit_data() {
        QTest::addColumn<QList<int>>("pointModes");
        QTest::addColumn<int>("lastMode"); // of a failed poll after the points, -1 none
        QTest::addColumn<QString>("unit");
        QTest::newRow("nothing known") << QList<int>() << -1 << QStringLiteral("мВ/мкА");
        QTest::newRow("current") << QList<int>({1, 1}) << -1 << QStringLiteral("мкА");
        QTest::newRow("voltage") << QList<int>({2}) << -1 << QStringLiteral("мВ");
        // Polls before the mode was read take the unit read afterwards.
        QTest::newRow("read later") << QList<int>({0, 0, 2}) << -1 << QStringLiteral("мВ");
        QTest::newRow("both modes") << QList<int>({1, 2}) << -1 << QStringLiteral("мВ/мкА");
        QTest::newRow("mode 7 is not known") << QList<int>({7}) << -1 << QStringLiteral("мВ/мкА");
        // No point yet, or none with a known mode: the mode last handed over.
        QTest::newRow("no points, voltage") << QList<int>() << 2 << QStringLiteral("мВ");
        QTest::newRow("unknown points, current") << QList<int>({0}) << 1 << QStringLiteral("мкА");
        QTest::newRow("points win") << QList<int>({1}) << 2 << QStringLiteral("мкА");
    }
    void unit() {
        QFETCH(QList<int>, pointModes);
        QFETCH(int, lastMode);
        QFETCH(QString, unit);
        TrendModel m;
        for (int i = 0; i < pointModes.size(); ++i)
            m.add(Ok(i, 100, static_cast<uint16_t>(pointModes[i])));
        if (lastMode >= 0)
            m.add(Failed(99, static_cast<uint16_t>(lastMode)));
        QCOMPARE(m.unit(), unit);
    }

    void flags_data() {
        QTest::addColumn<uint>("flagsA");
        QTest::addColumn<uint>("flagsB");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("none") << 0u << 0u << QStringList();
        QTest::newRow("A bit 1 only") << 0x0002u << 0u << QStringList();
        QTest::newRow("A 0x001D") << 0x001Du << 0u
                                  << QStringList({"Ошибка внутреннего ОЗУ", "Ошибка КС FLASH",
                                                  "Ошибка КС параметров", "Ошибка чтения АЦП"});
        QTest::newRow("A 0xFFE2") << 0xFFE2u << 0u << QStringList();
        QTest::newRow("B 0x0003") << 0u << 0x0003u
                                  << QStringList({"Выход за диапазон", "Данные некорректны"});
        QTest::newRow("B 0xFFFC") << 0u << 0xFFFCu << QStringList();
        QTest::newRow("FLASH and out of range")
            << 0x0004u << 0x0001u << QStringList({"Ошибка КС FLASH", "Выход за диапазон"});
    }
    void flags() {
        QFETCH(uint, flagsA);
        QFETCH(uint, flagsB);
        QFETCH(QStringList, names);
        TrendModel m;
        m.add(Ok(0, 1, 1, static_cast<uint16_t>(flagsA), static_cast<uint16_t>(flagsB)));
        QCOMPARE(FlagNames(m.at(0).flags), names);
        // A column carries a mark exactly when a flag was raised in it.
        const std::vector<TrendColumn> columns = m.columns(100);
        QCOMPARE(columns.size(), std::size_t(1));
        QCOMPARE(FlagNames(columns[0].flags), names);
    }

    // Many points on few pixel columns: each column holds the lowest and the
    // highest value of its points, and the flags raised among them; the line
    // breaks where polls failed.
    void columnsKeepExtremesFlagsAndGaps() {
        TrendModel m;
        const int n = m.capacity() + 1000; // the ring has wrapped
        const int width = 500;
        for (int i = 0; i < n; ++i) {
            const auto value = static_cast<uint16_t>((i * 7919) % 60000);
            const uint16_t flagsB = i == n - 500 ? reg::FlagDataInvalid : 0;
            m.add(Ok(qint64(i) * 20, value, 1, 0, flagsB));
            if (i == n - 300)
                m.add(Failed(qint64(i) * 20 + 10));
        }
        const std::vector<TrendColumn> columns = m.columns(width);
        QCOMPARE(int(columns.size()), width);
        QCOMPARE(columns.front().x, 0);
        QCOMPARE(columns.back().x, width - 1);
        QCOMPARE(columns.front().firstIndex, 0);
        QCOMPARE(columns.back().lastIndex, m.size() - 1);
        int flagged = 0;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const TrendColumn& col = columns[c];
            if (c > 0)
                QCOMPARE(col.firstIndex, columns[c - 1].lastIndex + 1);
            uint16_t lo = 0xFFFF;
            uint16_t hi = 0;
            uint8_t flags = 0;
            for (int i = col.firstIndex; i <= col.lastIndex; ++i) {
                lo = std::min(lo, m.at(i).value);
                hi = std::max(hi, m.at(i).value);
                flags |= m.at(i).flags;
            }
            QCOMPARE(col.min, lo);
            QCOMPARE(col.max, hi);
            QCOMPARE(col.first, m.at(col.firstIndex).value);
            QCOMPARE(col.last, m.at(col.lastIndex).value);
            QCOMPARE(col.flags, flags);
            QCOMPARE(col.joined, c > 0 && !m.at(col.firstIndex).afterFailure);
            flagged += col.flags ? 1 : 0;
        }
        QCOMPARE(flagged, 1);
        const auto marked = std::find_if(columns.begin(), columns.end(),
                                         [](const TrendColumn& c) { return c.flags != 0; });
        QVERIFY(marked->firstIndex <= m.size() - 500 && m.size() - 500 <= marked->lastIndex);
        QCOMPARE(FlagNames(marked->flags), QStringList("Данные некорректны"));

        // Few points: one column each, the line broken after the failed poll.
        TrendModel few;
        for (int i = 0; i < 5; ++i) {
            few.add(Ok(i * 1000, 10));
            if (i == 2)
                few.add(Failed(i * 1000 + 500));
        }
        QList<int> xs;
        QList<bool> joined;
        for (const TrendColumn& c : few.columns(101)) {
            xs << c.x;
            joined << c.joined;
        }
        QCOMPARE(xs, QList<int>({0, 25, 50, 75, 100}));
        QCOMPARE(joined, QList<bool>({false, true, true, false, true}));
    }
};

QTEST_APPLESS_MAIN(TestTrendModel)
#include "test_trend_model.moc"
