// The calibration protocol as a PDF file, read back as text with pdftotext
// (poppler-utils), as an auditor's tools would read it.
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "CalibrationProtocol.h"
#include "ModuleFlags.h"
#include "Registers.h"

using Samples = std::vector<uint16_t>;
Q_DECLARE_METATYPE(ProtocolData)

namespace {

CheckResult Check(std::vector<std::pair<Range, Samples>> points, const QDateTime& when) {
    CheckResult c;
    c.when = when;
    for (auto& [range, samples] : points) {
        const int nominal = static_cast<int>(samples.back());
        samples.pop_back();
        c.points.push_back(EvaluatePoint({range, nominal}, samples, 0.25));
    }
    return c;
}

// The module of the pictures: A0042, type 17, firmware 02.03.
ProtocolData Base(bool expired) {
    ProtocolData d;
    d.made = QDateTime(QDate::currentDate(), QTime(9, 5, 0));
    d.module = {17, 0x082A, 0x0203, 0x68EF, 0x68EF};
    d.people.technician = QStringLiteral("Иванов И. И.");
    d.people.reference = QStringLiteral("Калибратор КП-2");
    d.people.referenceSerial = QStringLiteral("7731");
    d.people.referenceValidUntil = QDate::currentDate().addDays(expired ? -1 : 0);
    return d;
}

QString PdfText(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();
}

} // namespace

class TestProtocolPdf : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
    }
    void content_data();
    void content();
};

void TestProtocolPdf::content_data() {
    QTest::addColumn<QVariant>("protocol");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");

    const QDateTime when = QDateTime::currentDateTime();
    {
        ProtocolData d = Base(false);
        CalibrationResult c;
        c.readings = {2027, 20135, 983, 9938};
        c.asRead = {10094759, 1769246, 8300000, 1770476};
        c.reset = {false, false, true, false};
        c.held = DefaultCoefficients();
        c.written = {10034520, 1768990, 8126100, 1771011};
        c.dateWritten = 0x6929; // 09.04.26
        c.complete = true;
        d.adjustment = c;
        d.asFound = CheckFromCalibration(c, 0.25);
        d.asLeft =
            Check({{Range::Current, {2001, 2000, 2000}}, {Range::Voltage, {10001, 10000}}}, when);
        QTest::newRow("adjusted, reference valid today")
            << QVariant::fromValue(d)
            << QStringList{"Протокол калибровки", "№ A0042-", "A0042", "02.03", "15.03.2026",
                           "09.04.2026", "Иванов И. И.", "Калибратор КП-2", "7731",
                           "QS-730 (код 17)", "Дата калибровки после", "2 раза",
                           "Калибровку выполнил",
                           // the wizard's readings, the coefficients before and after
                           "2027", "20135", "983", "9938", "10094759", "10034520", "1769246",
                           "1768990", "8085460", "8126100", "1770476", "1771011",
                           "прочитано 8300000", "Не годен", "Заключение: Годен", "Стр. 1 из 2",
                           "Стр. 2 из 2", "QS730_View"}
            << QStringList{"ИСТЁК"};
    }
    {
        ProtocolData d = Base(true);
        d.asFound = Check({{Range::Current, {2060, 2060, 2060, 2000}},
                           {Range::Voltage, {1000, 1000, 1000, 1000}}},
                          when);
        d.asFound->points[1] = EvaluatePoint({Range::Voltage, 1000}, {1000, 1000, 1000}, 0.25,
                                             FlagBits(reg::FlagADC, 0));
        QTest::newRow("check alone, reference expired yesterday")
            << QVariant::fromValue(d)
            << QStringList{"Протокол проверки",
                           "СРОК ДЕЙСТВИЯ ИСТЁК",
                           "Исполнитель и средства проверки",
                           "Результаты проверки",
                           "2060,0",
                           "+60,0",
                           "3 раза",
                           "Точка 1 В не годна: при отсчётах поднят флаг "
                           "«Ошибка чтения АЦП».",
                           "Заключение: Не годен",
                           "Проверку выполнил",
                           "QS-730 (код 17)",
                           "Дата калибровки 15.03.2026"}
            << QStringList{"Подстройка",          "после калибровки",      "Протокол калибровки",
                           "Калибровку выполнил", "Дата калибровки после", "калибровки до"};
    }
    {
        // Enough points for a second page: each page numbered of the whole.
        ProtocolData d = Base(false);
        std::vector<std::pair<Range, Samples>> many;
        for (int i = 0; i < 40; ++i)
            many.push_back({Range::Current, {uint16_t(500 * i), uint16_t(500 * i)}});
        d.asFound = Check(many, when);
        QTest::newRow("two pages") << QVariant::fromValue(d)
                                   << QStringList{"Стр. 1 из 2", "Стр. 2 из 2", "Заключение: Годен"}
                                   << QStringList{"из 1", "Стр. 3"};
    }
}

void TestProtocolPdf::content() {
    QFETCH(QVariant, protocol);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Протокол.pdf"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ProtocolPdf(protocol.value<ProtocolData>()));
    file.close();
    const QString text = PdfText(path);
    QVERIFY2(!text.isEmpty(), "no text in the PDF");
    for (const QString& s : present)
        QVERIFY2(text.contains(s),
                 qPrintable(s + QStringLiteral(" missing in: ") + text.left(3000)));
    for (const QString& s : absent)
        QVERIFY2(!text.contains(s), qPrintable(s + QStringLiteral(" should not be there")));
}

QTEST_MAIN(TestProtocolPdf)
#include "test_protocol_pdf.moc"
