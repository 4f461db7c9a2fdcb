// A module's configuration without a line: what a file must hold before
// anything is written from it, what may be written where, and the registers
// a read and a write touch.
#include <QTemporaryDir>
#include <QtTest>

#include "Configuration.h"
#include "Errors.h"
#include "FakeModule.h"
#include "RecorderUi.h"

using config::Configuration;
using config::Param;

namespace {

// A QS-730 as the simulated module starts: A0042, firmware 02.03, made and
// calibrated 15.03.2026, the default coefficients.
Configuration Sample() {
    Configuration c;
    c.read = QDateTime(QDate(2026, 3, 15), QTime(14, 3, 12), Qt::OffsetFromUTC, 10800);
    c.program = QStringLiteral("QS730_View 1.0.0.0");
    c.values = {1u,      100u,    1u,        19200u,   2u,       17u,      0x082Au,
                0x68EFu, 0x0203u, 10094759u, 1769246u, 8085460u, 1770476u, 0x68EFu};
    return c;
}

QByteArray Good() {
    return config::ConfigurationJson(Sample());
}

QByteArray Edited(const char* from, const char* to) {
    QByteArray text = Good();
    if (!text.contains(from))
        qFatal("no %s in the sample file", from);
    return text.replace(from, to);
}

// The sample file made exactly `size` bytes long with spaces before its last brace.
QByteArray Padded(qsizetype size) {
    QByteArray text = Good();
    const qsizetype brace = text.lastIndexOf('}');
    return text.insert(brace, QByteArray(size - text.size(), ' '));
}

} // namespace

class TestConfiguration : public QObject {
    Q_OBJECT
  private slots:
    void filesInResultsOut_data();
    void filesInResultsOut();
    void hostileFiles_data();
    void hostileFiles();
    void whatMayBeWritten_data();
    void whatMayBeWritten();
    void readsTheModule();
    void writesInTheirOrder();
};

void TestConfiguration::filesInResultsOut_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("refusal"); // empty: read as Sample() holds it
    QTest::newRow("good") << Good() << "";
    QTest::newRow("saved again with a byte-order mark") << "\xEF\xBB\xBF" + Good() << "";
    QTest::newRow("numbers written as 1.0") << Edited("\"mode\": 1,", "\"mode\": 1.0,") << "";
    const QString notOurs = QStringLiteral("Файл «f.json» не является конфигурацией модуля");
    QTest::newRow("empty") << QByteArray() << notOurs;
    QTest::newRow("a picture") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << notOurs;
    QTest::newRow("other JSON") << QByteArray("{\"format\": \"other\", \"version\": 1}") << notOurs;
    QTest::newRow("a list") << QByteArray("[1, 2]") << notOurs;
    const QString cut = QStringLiteral("Файл «f.json»: файл повреждён или обрезан");
    for (const int keep : {1, 40, 200, 400})
        QTest::newRow(qPrintable(QStringLiteral("truncated to %1 bytes").arg(keep)))
            << Good().left(keep) << cut;
    QTest::newRow("truncated by its last brace") << Good().left(Good().lastIndexOf('}')) << cut;
    QTest::newRow("newer format") << Edited("\"version\": 1,", "\"version\": 2,")
                                  << "формат конфигурации 2 не поддерживается";
    QTest::newRow("no read time") << Edited("2026-03-15T14:03:12+03:00", "вчера")
                                  << "нет времени чтения модуля «read»";
    QTest::newRow("no settings") << Edited("\"settings\"", "\"setting\"")
                                 << "нет группы параметров «settings»";
    QTest::newRow("address missing")
        << Edited("\"address\"", "\"adress\"") << "нет параметра «Адрес» (settings.address)";
    const auto bad = [](const char* from, const char* to, const char* says) {
        QTest::newRow(to) << Edited(from, to) << QString::fromUtf8(says);
    };
    bad("\"mode\": 1", "\"mode\": 7",
        "недопустимое значение параметра «Режим измерения» (settings.mode): 7. Допустимо 1 (Ток) "
        "или 2 (Напряжение)");
    bad("\"mode\": 1", "\"mode\": \"Ток\"", "(settings.mode): \"Ток\"");
    bad("\"integrationTime\": 100", "\"integrationTime\": 65536",
        "(settings.integrationTime): 65536");
    bad("\"integrationTime\": 100", "\"integrationTime\": 100.5",
        "(settings.integrationTime): 100.5");
    bad("\"address\": 1", "\"address\": 0", "«Адрес» (settings.address): 0");
    bad("\"address\": 1", "\"address\": 248", "«Адрес» (settings.address): 248");
    bad("\"baud\": 19200", "\"baud\": 100", "«Скорость, бод» (settings.baud): 100. Допустимо 2400");
    bad("\"baud\": 19200", "\"baud\": 19201", "(settings.baud): 19201");
    bad("\"parity\": 2", "\"parity\": 3", "«Паритет» (settings.parity): 3");
    bad("\"parity\": 2", "\"parity\": true", "(settings.parity): true");
    bad("\"type\": 17", "\"type\": -1", "«Тип модуля» (unit.type): -1");
    bad("\"registrationNumber\": \"A0042\"", "\"registrationNumber\": \"A2048\"",
        "«Регистрационный номер» (unit.registrationNumber): \"A2048\"");
    bad("\"registrationNumber\": \"A0042\"", "\"registrationNumber\": \"a0042\"",
        "(unit.registrationNumber): \"a0042\"");
    bad("\"manufactured\": \"15.03.2026\"", "\"manufactured\": \"29.02.2027\"",
        "«Дата изготовления» (unit.manufactured): \"29.02.2027\"");
    bad("\"calibrated\": \"15.03.2026\"", "\"calibrated\": \"15.03.2064\"",
        "«Дата калибровки» (unit.calibrated): \"15.03.2064\"");
    bad("\"firmware\": \"02.03\"", "\"firmware\": \"2.256\"", "«Версия ПО» (unit.firmware)");
    bad("\"gainCurrent\": 10094759", "\"gainCurrent\": 4294967296",
        "«Усиление, ток (рег. 8-9)» (unit.gainCurrent): 4294967296. Допустимо целое число от 0 "
        "до 4294967295");
    bad("\"offsetVoltage\": 1770476", "\"offsetVoltage\": -1", "(unit.offsetVoltage): -1");
}

void TestConfiguration::filesInResultsOut() {
    QFETCH(QByteArray, file);
    QFETCH(QString, refusal);
    try {
        const Configuration c = config::ParseConfiguration(file, QStringLiteral("f.json"));
        QVERIFY2(refusal.isEmpty(), "accepted");
        QCOMPARE(c.values, Sample().values);
        QCOMPARE(c.read, Sample().read);
        QCOMPARE(c.program, Sample().program);
    } catch (const Exception& e) {
        QVERIFY2(!refusal.isEmpty() && e.message().contains(refusal), qPrintable(e.message()));
    }
}

// Files made to mislead or to stall: markup, values and files far larger than
// any configuration. A value is quoted short, a large file is refused by its
// size; what the file holds is kept as it is.
void TestConfiguration::hostileFiles_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("device");  // read instead of a file holding `file`
    QTest::addColumn<QString>("refusal"); // after "Файл «…»: "; empty: read
    QTest::addColumn<QString>("program"); // as read
    const QString sample = Sample().program;
    const QString mode = QStringLiteral(
        "недопустимое значение параметра «Режим измерения» (settings.mode): %1. Допустимо 1 (Ток) "
        "или 2 (Напряжение)");
    const QString tooLarge = QStringLiteral(
        "файл слишком велик для конфигурации модуля (%1 байт). Допустимо не более 65536 байт");

    QTest::newRow("markup in a setting")
        << Edited("\"mode\": 1,", "\"mode\": \"<h1><font color=green>Файл и модуль "
                                  "совпадают</font></h1><img src='/nonexistent.png' width=2000 "
                                  "height=2000>\",")
        << QString() << mode.arg(QStringLiteral("\"<h1><font color=green>Файл и модуль сов…"))
        << sample;
    QTest::newRow("markup in the program")
        << Edited("\"program\": \"QS730_View 1.0.0.0\"", "\"program\": \"<b>BOLD</b><br><br><br>\"")
        << QString() << QString() << QStringLiteral("<b>BOLD</b><br><br><br>");
    QTest::newRow("a long value") << Edited("\"mode\": 1,",
                                            "\"mode\": \"" + QByteArray(60000, 'A') + "\",")
                                  << QString()
                                  << mode.arg(QLatin1Char('"') + QString(39, u'A') + u'…')
                                  << sample;
    // 😀 is two UTF-16 units: the quote would end in half of one.
    QTest::newRow("a long value of characters beyond 16 bits")
        << Edited("\"mode\": 1,",
                  "\"mode\": \"" + QString(30, u'x').replace(u'x', QStringLiteral("😀")).toUtf8() +
                      "\",")
        << QString() << mode.arg(QLatin1Char('"') + QStringLiteral("😀").repeated(19) + u'…')
        << sample;
    const QByteArray mib =
        Edited("\"mode\": 1,", "\"mode\": \"" + QByteArray(1 << 20, 'A') + "\",");
    QTest::newRow("a value of 1 MiB") << mib << QString() << tooLarge.arg(mib.size()) << sample;
    QTest::newRow("64 KiB and one byte")
        << Padded(65537) << QString() << tooLarge.arg(65537) << sample;
    QTest::newRow("64 KiB") << Padded(65536) << QString() << QString() << sample;
#ifdef Q_OS_LINUX
    // No size to go by, and no end.
    QTest::newRow("a device") << QByteArray() << QStringLiteral("/dev/zero")
                              << tooLarge.arg(QStringLiteral("более 65536")) << sample;
#endif
}

void TestConfiguration::hostileFiles() {
    QFETCH(QByteArray, file);
    QFETCH(QString, device);
    QFETCH(QString, refusal);
    QFETCH(QString, program);
    QTemporaryDir dir;
    QString path = device;
    if (path.isEmpty()) {
        path = dir.filePath(QStringLiteral("f.json"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(file), file.size());
    }
    try {
        const Configuration c = config::LoadConfiguration(path);
        QVERIFY2(refusal.isEmpty(), "accepted");
        QCOMPARE(c.values, Sample().values);
        QCOMPARE(c.program, program);
    } catch (const Exception& e) {
        QCOMPARE(e.message(), QStringLiteral("Файл %1: %2").arg(QuotedPath(path), refusal));
    }
    // The text as it came, without the file's name.
    if (!device.isEmpty())
        return;
    try {
        const Configuration c = config::ParseConfiguration(file, QStringLiteral("f.json"));
        QVERIFY2(refusal.isEmpty(), "accepted");
        QCOMPARE(c.program, program);
    } catch (const Exception& e) {
        QCOMPARE(e.message(), QStringLiteral("Файл «f.json»: ") + refusal);
    }
}

void TestConfiguration::whatMayBeWritten_data() {
    QTest::addColumn<Param>("param");
    QTest::addColumn<int>("inFile"); // -1: null
    QTest::addColumn<bool>("calibration");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<bool>("otherFirmware");
    QTest::addColumn<bool>("link");
    QTest::newRow("the same") << Param::Mode << 1 << true << "" << false << false;
    QTest::newRow("another link") << Param::Baud << 9600 << false << "" << false << true;
    QTest::newRow("another firmware: a warning")
        << Param::Version << 0x0202 << true << "" << true << false;
    QTest::newRow("another type") << Param::Type << 18 << false
                                  << "файл сохранён с модуля другого типа (QS-740), подключён "
                                     "QS-730"
                                  << false << false;
    QTest::newRow("another unit: its settings")
        << Param::Serial << 0x082B << false << "" << false << false;
    QTest::newRow("another unit's coefficients")
        << Param::Serial << 0x082B << true
        << "коэффициенты калибровки модуля A0043 записываются только в этот модуль, а подключён "
           "A0042"
        << false << false;
    QTest::newRow("a setting the module did not hold")
        << Param::Parity << -1 << false << "в файле нет значения параметра «Паритет»" << false
        << true;
    QTest::newRow("coefficients behind a bad checksum")
        << Param::OffsetCurrent << -1 << true
        << "в файле нет значения параметра «Смещение, ток (рег. 10-11)»" << false << false;
    QTest::newRow("never calibrated: no date")
        << Param::Calibrated << -1 << true << "" << false << false;
}

void TestConfiguration::whatMayBeWritten() {
    QFETCH(Param, param);
    QFETCH(int, inFile);
    QFETCH(bool, calibration);
    QFETCH(QString, refusal);
    QFETCH(bool, otherFirmware);
    QFETCH(bool, link);
    Configuration file = Sample();
    file[param] = inFile < 0 ? config::Value() : config::Value(inFile);
    try {
        const config::WritePlan plan = config::PlanWrite(file, Sample(), calibration);
        QVERIFY2(refusal.isEmpty(), "allowed");
        QCOMPARE(plan.calibration, calibration);
        QCOMPARE(plan.otherFirmware, otherFirmware);
        QCOMPARE(plan.link, link);
    } catch (const Exception& e) {
        QCOMPARE(e.message(), QStringLiteral("Конфигурация не записана: ") + refusal +
                                  (refusal.contains(QStringLiteral("только в этот"))
                                       ? QStringLiteral(". Чтобы записать только настройки, "
                                                        "снимите отметку записи коэффициентов")
                                       : QString()));
    }
}

// Values no module may hold are not known; a date is kept in the layout the
// tool writes; the coefficients are not read while their checksum is bad.
void TestConfiguration::readsTheModule() {
    FakeModule m;
    m.regs = {{264, 7},      {265, 65535}, {257, 5},    {258, 100}, {259, 0x0102},  {768, 17},
              {769, 0x0203}, {0, 0xF82A},  {1, 0x9507}, {256, 0},   {1024, 0x0008}, {8, 1}};
    Configuration c;
    config::ReadConfiguration(c);
    QCOMPARE(m.log, QStringList({"R264x2", "R257x3", "R768x2", "R0x2", "R256", "R1024"}));
    const config::Values expected = {
        std::nullopt, 65535u,       5u,           std::nullopt,
        2u,           17u,          std::nullopt, reg::PackDate(7, 5, 9),
        0x0203u,      std::nullopt, std::nullopt, std::nullopt,
        std::nullopt, std::nullopt};
    QCOMPARE(c.values, expected);

    m.reset();
    m.regs = {{264, 2}, {258, 96}, {1024, 0}, {8, 0x1234}, {9, 0x5678}, {15, 0xFFFF}};
    m.failing = {12};
    Configuration partial;
    QVERIFY_THROWS_EXCEPTION(ECommError, config::ReadConfiguration(partial));
    QCOMPARE(partial[Param::Mode], config::Value(2));
    QCOMPARE(partial[Param::Baud], config::Value(9600));
    QCOMPARE(partial[Param::GainCurrent], config::Value()); // the coefficients come whole or not
}

void TestConfiguration::writesInTheirOrder() {
    FakeModule m;
    RecorderUi rec; // no pause waits
    Configuration file = Sample();
    file[Param::Mode] = 2;
    file[Param::IntegrationTime] = 250;
    file[Param::GainCurrent] = 0x12345678;
    config::WriteMeasurement(file);
    config::WriteCalibration(file);
    const QString unlock = QStringLiteral("W1912=%1").arg(reg::UnlockKey);
    QCOMPARE(m.log, QStringList({"W264x2", QStringLiteral("W1911=%1").arg(reg::UnlockKey), unlock,
                                 "W8x2", unlock, "W10x2", unlock, "W12x2", unlock, "W14x2", unlock,
                                 "W256=26863"}));
    QCOMPARE((std::vector<uint16_t>{m.regs[264], m.regs[265], m.regs[8], m.regs[9]}),
             (std::vector<uint16_t>{2, 250, 0x5678, 0x1234}));
    // A module never calibrated: its coefficients go back with no date.
    file[Param::Calibrated].reset();
    config::WriteCalibration(file);
    QCOMPARE(m.log.last(), "W256=0");
}

QTEST_GUILESS_MAIN(TestConfiguration)
#include "test_configuration.moc"
