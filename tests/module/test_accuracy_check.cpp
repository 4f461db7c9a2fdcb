// The accuracy check's arithmetic, its point lists as typed and as stored,
// and the as-found record a calibration's own readings make.
#include <QTemporaryDir>
#include <QtTest>

#include "AccuracyCheck.h"
#include "Errors.h"
#include "Profile.h"
#include "Protocol.h"

using Samples = std::vector<uint16_t>;
using Points = std::vector<int>;
Q_DECLARE_METATYPE(Samples)
Q_DECLARE_METATYPE(Points)
Q_DECLARE_METATYPE(Range)

class TestAccuracyCheck : public QObject {
    Q_OBJECT
  private slots:
    void evaluate_data();
    void evaluate();
    void parsePoints_data();
    void parsePoints();
    void settingsInTheirOwnSection();
    void calibrationReadingsAsFound();
    void csvRecord();
};

void TestAccuracyCheck::evaluate_data() {
    QTest::addColumn<Range>("range");
    QTest::addColumn<int>("nominal");
    QTest::addColumn<Samples>("samples");
    QTest::addColumn<double>("tolerance");
    QTest::addColumn<double>("mean");
    QTest::addColumn<double>("spread");
    QTest::addColumn<double>("percent");
    QTest::addColumn<bool>("pass");
    // 0.25 % of 20 mA is 50 uA, of 10 V 25 mV: at the tolerance it passes.
    QTest::newRow("current at +tolerance")
        << Range::Current << 20000 << Samples(5, 20050) << 0.25 << 20050.0 << 0.0 << 0.25 << true;
    QTest::newRow("current just past")
        << Range::Current << 20000 << Samples{20051, 20051, 20050, 20052} << 0.25 << 20051.0 << 2.0
        << 0.255 << false;
    QTest::newRow("current at -tolerance")
        << Range::Current << 2000 << Samples{1950} << 0.25 << 1950.0 << 0.0 << -0.25 << true;
    QTest::newRow("current just below") << Range::Current << 2000 << Samples{1949, 1950} << 0.25
                                        << 1949.5 << 1.0 << -0.2525 << false;
    QTest::newRow("voltage at tolerance")
        << Range::Voltage << 5500 << Samples{5525} << 0.25 << 5525.0 << 0.0 << 0.25 << true;
    QTest::newRow("voltage just past")
        << Range::Voltage << 10000 << Samples{9974} << 0.25 << 9974.0 << 0.0 << -0.26 << false;
    QTest::newRow("mean and spread") << Range::Current << 11000 << Samples{10990, 11010, 11003}
                                     << 0.1 << 11001.0 << 20.0 << 0.005 << true;
    QTest::newRow("wider tolerance")
        << Range::Voltage << 1000 << Samples{1090} << 1.0 << 1090.0 << 0.0 << 0.9 << true;
}

void TestAccuracyCheck::evaluate() {
    QFETCH(Range, range);
    QFETCH(int, nominal);
    QFETCH(Samples, samples);
    QFETCH(double, tolerance);
    const PointResult r = EvaluatePoint({range, nominal}, samples, tolerance);
    QTEST(r.mean, "mean");
    QTEST(r.spread, "spread");
    QCOMPARE(r.error, r.mean - nominal);
    QTEST(r.errorPercent, "percent");
    QTEST(r.pass, "pass");
}

void TestAccuracyCheck::parsePoints_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<Range>("range");
    QTest::addColumn<Points>("points"); // empty with "error" set: refused
    QTest::addColumn<bool>("error");
    QTest::newRow("current defaults")
        << "2; 11; 20" << Range::Current << Points{2000, 11000, 20000} << false;
    QTest::newRow("voltage comma")
        << "1; 5,5; 10" << Range::Voltage << Points{1000, 5500, 10000} << false;
    QTest::newRow("edited, point and blanks")
        << " 4  12.5;16 " << Range::Current << Points{4000, 12500, 16000} << false;
    QTest::newRow("blank: range left out") << "  " << Range::Voltage << Points{} << false;
    QTest::newRow("zero and the limit") << "0; 10" << Range::Voltage << Points{0, 10000} << false;
    QTest::newRow("past the limit") << "20,001" << Range::Current << Points{} << true;
    QTest::newRow("volt limit") << "11" << Range::Voltage << Points{} << true;
    QTest::newRow("negative") << "-1" << Range::Current << Points{} << true;
    QTest::newRow("not a number") << "2; два" << Range::Current << Points{} << true;
    QTest::newRow("eleven points")
        << "1;2;3;4;5;6;7;8;9;10;11" << Range::Current << Points{} << true;
}

void TestAccuracyCheck::parsePoints() {
    QFETCH(QString, text);
    QFETCH(Range, range);
    QFETCH(bool, error);
    try {
        const Points got = ParsePoints(text, range);
        QVERIFY2(!error, "accepted");
        QTEST(got, "points");
        // What is shown is read back the same.
        QCOMPARE(ParsePoints(PointsText(got), range), got);
    } catch (const Exception& e) {
        QVERIFY2(error, qPrintable(e.message()));
        QVERIFY(e.message().endsWith(QLatin1Char('!')));
    }
}

void TestAccuracyCheck::settingsInTheirOwnSection() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QS730_View.ini"));
    const QByteArray before = "[Port]\r\nName=COM3\r\n; a comment\r\n[Alpha]\r\nAlpha=B\r\n";
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    ProfileFile file(path);
    const CheckSettings defaults = LoadCheckSettings(file);
    QCOMPARE(defaults.current, (Points{2000, 11000, 20000}));
    QCOMPARE(defaults.voltage, (Points{1000, 5500, 10000}));
    QCOMPARE(defaults.tolerancePercent, 0.25);
    QCOMPARE(defaults.samples, 5);

    CheckSettings edited;
    edited.current = {4000, 12000};
    edited.voltage = {};
    edited.tolerancePercent = 0.1;
    edited.samples = 8;
    SaveCheckSettings(file, edited);
    const CheckSettings back = LoadCheckSettings(file);
    QCOMPARE(back.current, edited.current);
    QCOMPARE(back.voltage, Points{});
    QCOMPARE(back.tolerancePercent, 0.1);
    QCOMPARE(back.samples, 8);
    QCOMPARE(back.points().size(), 2u);
    {
        // Closed again before the next save: Windows replaces no file that is open.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY2(f.readAll().startsWith(before), "the other sections stay as they were");
    }

    // Damaged values give the defaults, each on its own.
    file.write({{"Check", "Current", "2000,99999"},
                {"Check", "Tolerance", "-1"},
                {"Check", "Samples", "0"}});
    const CheckSettings damaged = LoadCheckSettings(file);
    QCOMPARE(damaged.current, defaults.current);
    QCOMPARE(damaged.voltage, Points{});
    QCOMPARE(damaged.tolerancePercent, 0.25);
    QCOMPARE(damaged.samples, 5);
}

void TestAccuracyCheck::calibrationReadingsAsFound() {
    CalibrationResult c;
    c.readings = {2027, 20135, 983, 9938};
    const CheckResult r = CheckFromCalibration(c, 0.25);
    QVERIFY(r.fromCalibration);
    QCOMPARE(r.points.size(), 4u);
    const std::vector<std::pair<Range, int>> expected = {{Range::Current, 2000},
                                                         {Range::Current, 20000},
                                                         {Range::Voltage, 1000},
                                                         {Range::Voltage, 10000}};
    const std::vector<bool> pass = {true, false, true, false}; // 27 and 135 uA, 17 and 62 mV
    for (std::size_t i = 0; i < 4; ++i) {
        QCOMPARE(r.points[i].point.range, expected[i].first);
        QCOMPARE(r.points[i].point.nominal, expected[i].second);
        QCOMPARE(r.points[i].pass, pass[i]);
    }
    QVERIFY(!r.pass());
    QVERIFY(!CheckResult{}.pass()); // no point checked is no verdict "fit"
}

void TestAccuracyCheck::csvRecord() {
    ProtocolData d;
    d.made = QDateTime(QDate(2026, 12, 9), QTime(8, 15, 30));
    d.module.serial = 0x082A;
    d.people.technician = QStringLiteral("Петров; П. П.");
    CalibrationResult c;
    c.readings = {2027, 20135, 983, 9938};
    c.held = DefaultCoefficients();
    c.written = {10034520, 1769000, 8126100, 1771000};
    c.complete = true;
    c.dateWritten = 0x68EF;
    d.adjustment = c;
    d.asFound = CheckFromCalibration(c, 0.25);
    QCOMPARE(d.number(), QStringLiteral("A0042-20261209-081530"));
    QCOMPARE(d.fileBaseName(), QStringLiteral("Протокол_A0042_20261209_0815"));
    QVERIFY2(!d.pass(), "adjusted but not checked as left");
    const QByteArray csv = ProtocolCsv(d);
    QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
    QVERIFY(lines.contains(QStringLiteral("Регистрационный номер;A0042")));
    // 0x68EF is 15.03.2026: the interval counts from the date written.
    QVERIFY(
        lines.contains(QStringLiteral("Следующая калибровка;до 15.03.2027 (интервал 12 мес.)")));
    d.intervalMonths = 6;
    QVERIFY(QString::fromUtf8(ProtocolCsv(d))
                .contains(QStringLiteral("Следующая калибровка;до 15.09.2026 (интервал 6 мес.)")));
    QVERIFY(lines.contains(QStringLiteral("Исполнитель;\"Петров; П. П.\"")));
    QVERIFY(lines.contains(QStringLiteral("Усиление, ток (8-9);10094759;10034520;")));
    QVERIFY(lines.contains(
        QStringLiteral("До калибровки;Ток;20 мА;20000;20135,0;0;135,0;0,675;50,0;мкА;Не годен;")));
    QVERIFY(lines.contains(QStringLiteral("После калибровки;не проводилась")));
    QVERIFY(lines.contains(
        QStringLiteral("Заключение;не вынесено: проверка после калибровки не проводилась")));
}

QTEST_APPLESS_MAIN(TestAccuracyCheck)
#include "test_accuracy_check.moc"
