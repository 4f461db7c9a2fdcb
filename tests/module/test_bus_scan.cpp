// What the bus scan makes of each result: the state of an address, the
// messages that end a scan, the rows as shown and saved, and the order of
// the line settings "Все скорости" tries.
#include <QtTest>

#include "BusScan.h"
#include "Csv.h"
#include "Registers.h"
#include "comm_mb.h"

using bus::State;
Q_DECLARE_METATYPE(std::optional<State>)

class TestBusScan : public QObject {
    Q_OBJECT
  private slots:
    void states_data();
    void states();
    void rows_data();
    void rows();
    void settingsOrder();
    void csvFile();
};

void TestBusScan::states_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("type");
    QTest::addColumn<std::optional<State>>("state");
    QTest::addColumn<QString>("stopper"); // the start of the message that ends the scan
    const auto row = [](const char* name, int code, int type, std::optional<State> state,
                        const char* stopper = "") {
        QTest::newRow(name) << code << type << state << QString::fromUtf8(stopper);
    };
    row("the tool's type", COMM_OK, 17, State::Answers);
    row("another type", COMM_OK, 12, State::OtherType);
    row("no type at all", COMM_OK, 0, State::OtherType);
    row("exception 2", 2, 17, State::Exception);
    row("gateway exception 11", 11, 0, State::Exception);
    row("silence", COMM_NO_REPLY, 0, std::nullopt);
    row("CRC error", COMM_BAD_CRC, 0, State::Garbled);
    row("another slave", COMM_WRONG_SLAVE, 0, State::Garbled);
    row("malformed", COMM_BAD_REPLY, 0, State::Garbled);
    row("port not open", COMM_NOT_OPEN, 0, std::nullopt,
        "Порт COM3 не открыт: поиск модулей невозможен");
    row("port failed", COMM_IO_ERROR, 0, std::nullopt,
        "Связь с портом COM3 потеряна: поиск модулей остановлен");
    row("unknown code", 30, 0, std::nullopt, "Неизвестная ошибка связи!");
}

void TestBusScan::states() {
    QFETCH(int, code);
    QFETCH(int, type);
    QFETCH(std::optional<State>, state);
    QFETCH(QString, stopper);
    QCOMPARE(bus::StateOf(code, static_cast<uint16_t>(type)), state);
    const QString message = bus::ScanStopper(code, QStringLiteral("COM3"));
    QCOMPARE(message.left(stopper.size()), stopper);
    QCOMPARE(message.isEmpty(), stopper.isEmpty());
}

void TestBusScan::rows_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("exception");
    QTest::addColumn<bool>("identified"); // serial, type, version and own link read
    QTest::addColumn<int>("ownSpeedCode");
    QTest::addColumn<QStringList>("fields");
    const auto row = [](QStringList tail) { return QStringList{"5", "9600", "None"} + tail; };
    QTest::newRow("answers") << int(State::Answers) << 0 << true << 96
                             << row({"A0042", "QS-730 (17)", "02.03", "5", "9600", "None",
                                     "отвечает"});
    QTest::newRow("answers, own link moved")
        << int(State::Answers) << 0 << true << 192
        << row({"A0042", "QS-730 (17)", "02.03", "5", "19200", "None",
                "отвечает; в модуле записаны другие параметры связи"});
    QTest::newRow("own speed no speed")
        << int(State::OtherType) << 0 << true << 100
        << row({"A0042", "QS-730 (17)", "02.03", "5", "код 100", "None",
                "модуль другого типа; в модуле записаны другие параметры связи"});
    QTest::newRow("exception") << int(State::Exception) << 2 << false << 0
                               << row({"—", "—", "—", "—", "—", "—",
                                       "отвечает исключением 2: Недопустимый адрес данных"});
    QTest::newRow("garbled") << int(State::Garbled) << 0 << false << 0
                             << row({"—", "—", "—", "—", "—", "—",
                                     "искажённые ответы (возможно, два модуля с одним адресом "
                                     "или помехи)"});
}

void TestBusScan::rows() {
    QFETCH(int, state);
    QFETCH(int, exception);
    QFETCH(bool, identified);
    QFETCH(int, ownSpeedCode);
    QFETCH(QStringList, fields);
    bus::Found f;
    f.address = 5;
    f.at = {9600, 0};
    f.state = static_cast<State>(state);
    f.exception = exception;
    if (identified) {
        f.serial = reg::EncodeSerial(0, 42);
        f.typeCode = reg::TypeQS730;
        f.version = 0x0203;
        f.ownAddress = 5;
        f.ownSpeedCode = static_cast<uint16_t>(ownSpeedCode);
        f.ownParity = 0x0100; // only the low byte counts
    }
    QCOMPARE(f.fields(), fields);
    QCOMPARE(f.fields().size(), bus::FoundColumns().size());
}

void TestBusScan::settingsOrder() {
    // Factory first, then the tool's own, then the rest by likelihood, each once.
    const auto nine = bus::AllSettings({9600, 0});
    QCOMPARE(nine.size(), size_t(24));
    QVERIFY((nine[0] == bus::LineSetting{19200, 2}));
    QVERIFY((nine[1] == bus::LineSetting{9600, 0}));
    QVERIFY((nine[2] == bus::LineSetting{19200, 0}));
    QVERIFY((nine.back() == bus::LineSetting{28800, 1}));
    for (size_t i = 0; i < nine.size(); ++i)
        for (size_t j = i + 1; j < nine.size(); ++j)
            QVERIFY(!(nine[i] == nine[j]));
    // A speed of a hand-edited settings file is tried as well; a parity
    // that does not exist is not.
    QCOMPARE(bus::AllSettings({1200, 2}).size(), size_t(25));
    QCOMPARE(bus::AllSettings({1200, 2})[1].baud, 1200);
    QCOMPARE(bus::AllSettings({19200, 7}).size(), size_t(24));
}

void TestBusScan::csvFile() {
    bus::Found f;
    f.address = 1;
    f.at = {19200, 2};
    f.state = State::Garbled;
    const QByteArray csv = bus::FoundCsv({f, f});
    QVERIFY(csv.startsWith(csv::Bom + "Адрес;Скорость;Четность;Рег. номер;"));
    QCOMPARE(csv.count("\r\n"), 3);
    QVERIFY(csv.contains("\r\n1;19200;Even;—;—;—;—;—;—;искажённые ответы (возможно, два "
                         "модуля с одним адресом или помехи)\r\n"));
    const QString text = bus::FoundText({f}, QStringLiteral("Линия"));
    QVERIFY(text.startsWith(QStringLiteral("Линия\nАдрес\tСкорость\t")));
    QCOMPARE(text.count(QLatin1Char('\n')), 3);
}

QTEST_GUILESS_MAIN(TestBusScan)
#include "test_bus_scan.moc"
