// What the monitor says of a frame: reads and writes of the registers the
// tool uses, the replies to them, exceptions and every kind of damage; the
// registration number as the passport and the messages spell it.
#include <QtTest>

#include "Calibration.h"
#include "FrameMeaning.h"
#include "ServiceParams.h"

namespace {

// A record of `kind` holding `bytes`, with their CRC unless `raw`.
comm_frame Frame(uint8_t kind, QByteArray bytes, int32_t code = COMM_OK, bool raw = false) {
    comm_frame f{};
    f.kind = kind;
    f.code = code;
    f.baud = 19200;
    f.parity = 2;
    f.reply_us = -1;
    if (!raw) {
        const uint16_t crc =
            ModbusCrc(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
        bytes.append(char(crc & 0xFF)).append(char(crc >> 8));
    }
    f.length = static_cast<uint16_t>(std::min<qsizetype>(bytes.size(), COMM_FRAME_BYTES));
    f.dropped = static_cast<uint32_t>(bytes.size() - f.length);
    memcpy(f.data, bytes.constData(), f.length);
    return f;
}

} // namespace

Q_DECLARE_METATYPE(comm_frame)
Q_DECLARE_METATYPE(RequestShape)

class TestFrameMeaning : public QObject {
    Q_OBJECT

  private slots:
    void meaning_data() {
        QTest::addColumn<comm_frame>("frame");
        QTest::addColumn<RequestShape>("request");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("failed");
        const RequestShape poll{true, 3, 1024, 3};
        const auto req = COMM_FRAME_REQUEST;
        const auto rep = COMM_FRAME_REPLY;
        QTest::newRow("poll request")
            << Frame(req, QByteArray::fromHex("010304000003")) << RequestShape{}
            << "Чтение 1024-1026 (флаги, значение, флаги)" << false;
        QTest::newRow("unlock") << Frame(req, QByteArray::fromHex("01100778000102"
                                                                  "5A3C"))
                                << RequestShape{} << "Запись 1912 = ключ (разблокировка)" << false;
        QTest::newRow("measurement parameters")
            << Frame(req, QByteArray::fromHex("0110010800020400020064")) << RequestShape{}
            << "Запись 264-265 = напряжение, 100 мс (режим, время интегрирования)" << false;
        comm_frame retry = Frame(req, QByteArray::fromHex("010304000003"));
        retry.attempt = 3;
        QTest::newRow("retry") << retry << RequestShape{}
                               << "Чтение 1024-1026 (флаги, значение, флаги), попытка 3" << false;
        QTest::newRow("register outside the map")
            << Frame(req, QByteArray::fromHex("010300050001")) << RequestShape{}
            << "Чтение 5 (нет в карте)" << false;
        comm_frame search = Frame(req, QByteArray::fromHex("010303000001"));
        search.flags = COMM_FRAME_SEARCH;
        search.baud = 9600;
        search.parity = 1;
        QTest::newRow("search") << search << RequestShape{}
                                << "поиск: 9600 бод Odd — Чтение 768 (тип модуля)" << false;
        QTest::newRow("poll reply") << Frame(rep, QByteArray::fromHex("01030600002EE30000")) << poll
                                    << "значение 12003, флаги: нет" << false;
        QTest::newRow("poll reply, flags raised")
            << Frame(rep, QByteArray::fromHex("010306001000050001")) << poll
            << "значение 5, флаги: Ошибка чтения АЦП, Выход за диапазон" << false;
        QTest::newRow("type and version")
            << Frame(rep, QByteArray::fromHex("01030400110203")) << RequestShape{true, 3, 768, 2}
            << "тип модуля 17, версия 02.03" << false;
        QTest::newRow("serial number")
            << Frame(rep, QByteArray::fromHex("010302082A")) << RequestShape{true, 3, 0, 1}
            << "серийный номер A0042" << false;
        QTest::newRow("serial number without a letter")
            << Frame(rep, QByteArray::fromHex("010302002A")) << RequestShape{true, 3, 0, 1}
            << "серийный номер ?0042" << false;
        QTest::newRow("serial number, letter beyond Z")
            << Frame(rep, QByteArray::fromHex("010302F02A")) << RequestShape{true, 3, 0, 1}
            << "серийный номер ?0042" << false;
        QTest::newRow("write confirmed")
            << Frame(rep, QByteArray::fromHex("011007780001")) << RequestShape{true, 16, 1912, 1}
            << "запись подтверждена" << false;
        QTest::newRow("exception") << Frame(rep, QByteArray::fromHex("018302"), 2) << poll
                                   << "исключение 2: Недопустимый адрес данных" << true;
        QTest::newRow("bad crc") << Frame(rep, QByteArray::fromHex("01030600002EE300000000"),
                                          COMM_BAD_CRC, true)
                                 << poll << "CRC неверна" << true;
        QTest::newRow("cut short")
            << Frame(rep, QByteArray::fromHex("0103060000"), COMM_NO_REPLY, true) << poll
            << "ответ оборван: 5 из 11 байт" << true;
        QTest::newRow("foreign address")
            << Frame(rep, QByteArray::fromHex("02030600002EE30000"), COMM_WRONG_SLAVE) << poll
            << "ответ с чужого адреса 2" << true;
        comm_frame silence = Frame(COMM_FRAME_SILENCE, {}, COMM_NO_REPLY, true);
        silence.end_us = 257'200;
        QTest::newRow("no reply") << silence << RequestShape{} << "нет ответа за 257 мс" << true;
        QTest::newRow("late") << Frame(COMM_FRAME_LATE, QByteArray::fromHex("0103020011"))
                              << RequestShape{} << "запоздавший ответ отброшен" << true;
        QTest::newRow("noise") << Frame(COMM_FRAME_STRAY, QByteArray::fromHex("FF00A5"), 0, true)
                               << RequestShape{} << "байты без запроса отброшены (не кадр Modbus)"
                               << true;
        QTest::newRow("longer than any frame")
            << Frame(COMM_FRAME_STRAY, QByteArray(300, '\x55'), 0, true) << RequestShape{}
            << "байты без запроса отброшены (не кадр Modbus); длиннее любого кадра: ещё 44 "
               "байт не показаны"
            << true;
        // Through a Modbus TCP gateway: the header read out, then the frame.
        const auto mbap = [](uint8_t kind, const char* hex, int32_t code = COMM_OK) {
            comm_frame f = Frame(kind, QByteArray::fromHex(hex), code, true);
            f.flags = COMM_FRAME_MBAP;
            return f;
        };
        QTest::newRow("mbap request")
            << mbap(req, "000500000006010303000002") << RequestShape{}
            << "MBAP: транзакция 5, протокол 0, длина 6, устройство 1 — Чтение 768-769 (тип "
               "модуля, версия)"
            << false;
        QTest::newRow("mbap reply")
            << mbap(rep, "00050000000701030400110203") << RequestShape{true, 3, 768, 2}
            << "MBAP: транзакция 5, протокол 0, длина 7, устройство 1 — тип модуля 17, версия "
               "02.03"
            << false;
        QTest::newRow("gateway: no path")
            << mbap(rep, "00060000000301830A", 10) << poll
            << "MBAP: транзакция 6, протокол 0, длина 3, устройство 1 — исключение 10: Шлюз не "
               "нашёл путь к модулю"
            << true;
        QTest::newRow("gateway: module did not answer")
            << mbap(rep, "00070000000301830B", 11) << poll
            << "MBAP: транзакция 7, протокол 0, длина 3, устройство 1 — исключение 11: Модуль за "
               "шлюзом не ответил"
            << true;
        QTest::newRow("mbap: another transaction")
            << mbap(COMM_FRAME_STRAY, "00040000000701030400110203", COMM_WRONG_SLAVE)
            << RequestShape{}
            << "MBAP: транзакция 4, протокол 0, длина 7, устройство 1 — ответ не на этот запрос "
               "(чужая транзакция или протокол) отброшен"
            << true;
        QTest::newRow("mbap: short length")
            << mbap(COMM_FRAME_STRAY, "000500000006010304001102", COMM_BAD_REPLY) << RequestShape{}
            << "MBAP: транзакция 5, протокол 0, длина 6, устройство 1 — ответ отброшен: длина "
               "MBAP не сходится с байтами"
            << true;
        QTest::newRow("mbap: header cut short")
            << mbap(rep, "000500", COMM_NO_REPLY) << RequestShape{}
            << "MBAP: заголовок оборван (3 байт) — ответ оборван: 0 байт" << true;
        comm_frame wait = Frame(COMM_FRAME_WAIT, {}, 0, true);
        wait.end_us = 812'000;
        QTest::newRow("wait") << wait << RequestShape{} << "ожидание запоздавших ответов 812 мс"
                              << false;
    }
    void meaning() {
        QFETCH(comm_frame, frame);
        QFETCH(RequestShape, request);
        QFETCH(QString, text);
        QFETCH(bool, failed);
        const FrameMeaning m = MeaningOf(frame, request);
        QCOMPARE(m.text, text);
        QCOMPARE(m.failed, failed);
        QCOMPARE(FrameFailed(frame), failed); // the monitor's rows stand out without the text
    }

    void registration_data() {
        QTest::addColumn<int>("word");
        QTest::addColumn<QString>("text");
        QTest::newRow("A0042") << int(reg::EncodeSerial(0, 42)) << "A0042";
        QTest::newRow("Z2047") << int(reg::EncodeSerial(25, 2047)) << "Z2047";
        QTest::newRow("no letter: the number alone") << 0x002A << "0042";
        QTest::newRow("letter beyond Z: the number alone") << 0xF02A << "0042";
    }
    void registration() {
        QFETCH(int, word);
        QFETCH(QString, text);
        const auto w = static_cast<uint16_t>(word);
        QCOMPARE(RegistrationText(w), text);
        QCOMPARE(module::SerialText(w), text);
    }

    // A reply is read against the request it answers, as the request went out.
    void shapeOfRequest() {
        const RequestShape s =
            ShapeOfRequest(Frame(COMM_FRAME_REQUEST, QByteArray::fromHex("010304000003")));
        QVERIFY(s.known);
        QCOMPARE(s.first, 1024);
        QCOMPARE(s.count, 3);
        QVERIFY(
            !ShapeOfRequest(Frame(COMM_FRAME_REQUEST, QByteArray::fromHex("010304000003"), 0, true))
                 .known);
        // A Modbus TCP request has no CRC: its shape is that of its PDU.
        comm_frame mbap =
            Frame(COMM_FRAME_REQUEST, QByteArray::fromHex("000100000006010304000003"), 0, true);
        mbap.flags = COMM_FRAME_MBAP;
        const RequestShape t = ShapeOfRequest(mbap);
        QVERIFY(t.known);
        QCOMPARE(t.function, 3);
        QCOMPARE(t.first, 1024);
        QCOMPARE(t.count, 3);
    }
};

QTEST_GUILESS_MAIN(TestFrameMeaning)
#include "test_frame_meaning.moc"
