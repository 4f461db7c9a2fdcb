// What a line listened to says: frames paired as request and reply, what
// each means for whatever address, and the counts per address, from
// sequences of frames heard, healthy and spoilt.
#include <QtTest>

#include "FrameMeaning.h"
#include "ListenStats.h"

namespace {

struct H {
    QByteArray bytes; // without the CRC, which is put on unless the code says otherwise
    int32_t code = COMM_HEARD_FRAME;
    int64_t at = 0; // ms
    bool joined = false;
};

comm_heard Heard(const H& h, uint64_t number) {
    comm_heard f{};
    f.number = number;
    QByteArray bytes = h.bytes;
    if (h.code == COMM_HEARD_FRAME) {
        const uint16_t crc =
            ModbusCrc(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
        bytes.append(char(crc & 0xFF)).append(char(crc >> 8));
    }
    f.code = h.code;
    f.length = static_cast<uint16_t>(bytes.size());
    memcpy(f.data, bytes.constData(), f.length);
    f.time_us = h.at * 1000;
    f.end_us = f.time_us + 1000 * (f.length > 0 ? 1 : 0);
    f.baud = 19200;
    f.parity = 2;
    f.flags = h.joined ? COMM_HEARD_JOINED : 0;
    return f;
}

const QByteArray ReadPoll = QByteArray::fromHex("0303040000 03");
const QByteArray PollReply = QByteArray::fromHex("030306 0000 2EE3 0000");
const QByteArray ReadSerial = QByteArray::fromHex("0703000000 01");
const QByteArray SerialReply = QByteArray::fromHex("070302 082A");
const QByteArray Refused = QByteArray::fromHex("079002");
const QByteArray WriteAddress = QByteArray::fromHex("071001010001 02 0007");
const QByteArray WriteReply = QByteArray::fromHex("071001010001");
const QByteArray Broadcast = QByteArray::fromHex("001001010001 02 0005");

using Rows = QList<H>;

} // namespace

Q_DECLARE_METATYPE(Rows)

class TestListenStats : public QObject {
    Q_OBJECT

  private slots:
    void pairing_data() {
        QTest::addColumn<Rows>("heard");
        QTest::addColumn<QString>("roles");     // R request, A answer, O other
        QTest::addColumn<QString>("failed");    // x failed, . not
        QTest::addColumn<QStringList>("texts"); // the meanings, each a regular expression
        QTest::addColumn<QStringList>("stats");

        QTest::newRow("a poll answered")
            << Rows{{ReadPoll, COMM_HEARD_FRAME, 0}, {PollReply, COMM_HEARD_FRAME, 12}} << "RA"
            << ".."
            << QStringList{"^адрес 3: чтение 1024-1026 \\(флаги, значение, флаги\\)$",
                           "^адрес 3: значение 12003, флаги: нет$"}
            << QStringList{"адрес 3: запросов 1, ответов 1, исключений 0, без ответа 0, сбоев 0, "
                           "самый долгий ответ 11,0 мс"};
        QTest::newRow("two addresses, an exception, a write")
            << Rows{{ReadSerial, COMM_HEARD_FRAME, 0},    {SerialReply, COMM_HEARD_FRAME, 5},
                    {WriteAddress, COMM_HEARD_FRAME, 20}, {Refused, COMM_HEARD_FRAME, 30},
                    {WriteAddress, COMM_HEARD_FRAME, 40}, {WriteReply, COMM_HEARD_FRAME, 49},
                    {ReadPoll, COMM_HEARD_FRAME, 60},     {PollReply, COMM_HEARD_FRAME, 63}}
            << "RARARARA"
            << "...x...."
            << QStringList{"^адрес 7: чтение 0 \\(серийный номер\\)$",
                           "^адрес 7: серийный номер",
                           "^адрес 7: запись 257 = 7 \\(адрес\\)$",
                           "^адрес 7: исключение 2",
                           "^адрес 7: запись 257",
                           "^адрес 7: запись подтверждена$",
                           "^адрес 3: чтение",
                           "^адрес 3: значение"}
            << QStringList{"адрес 3: запросов 1, ответов 1, исключений 0, без ответа 0, сбоев 0, "
                           "самый долгий ответ 2,0 мс",
                           "адрес 7: запросов 3, ответов 3, исключений 1, без ответа 0, сбоев 1, "
                           "самый долгий ответ 9,0 мс"};
        QTest::newRow("no answer, then the next request")
            << Rows{{ReadPoll, COMM_HEARD_FRAME, 0},
                    {ReadSerial, COMM_HEARD_FRAME, 100},
                    {SerialReply, COMM_HEARD_FRAME, 104}}
            << "RRA"
            << "..." << QStringList{"^адрес 3: чтение", "^адрес 7: чтение", "^адрес 7: серийный"}
            << QStringList{"адрес 3: запросов 1, ответов 0, исключений 0, без ответа 1, сбоев 0",
                           "адрес 7: запросов 1, ответов 1, исключений 0, без ответа 0, сбоев 0, "
                           "самый долгий ответ 3,0 мс"};
        QTest::newRow("a spoilt reply counts for the address asked")
            << Rows{{ReadPoll, COMM_HEARD_FRAME, 0},
                    {QByteArray::fromHex("0303060000"), COMM_HEARD_CUT, 10}}
            << "RO"
            << ".x" << QStringList{"^адрес 3: чтение", "^адрес 3: кадр оборван: 5 байт$"}
            << QStringList{"адрес 3: запросов 1, ответов 0, исключений 0, без ответа 0, сбоев 1"};
        QTest::newRow("garbage with no request before it")
            << Rows{{QByteArray::fromHex("FF7F41"), COMM_HEARD_NOISE, 0},
                    {QByteArray::fromHex("0503AABBCCDDEEFF"), COMM_HEARD_BAD_CRC, 10},
                    {QByteArray(256, 'x'), COMM_HEARD_LONG, 20}}
            << "OOO"
            << "xxx"
            << QStringList{"^байты, не образующие кадра$", "^адрес 5: CRC неверна$",
                           "^длиннее любого кадра Modbus: ещё 0 байт не показаны$"}
            << QStringList{"адрес неизвестен: запросов 0, ответов 0, исключений 0, без ответа 0, "
                           "сбоев 2",
                           "адрес 5: запросов 0, ответов 0, исключений 0, без ответа 0, сбоев 1"};
        QTest::newRow("the same request twice without silence")
            << Rows{{ReadPoll, COMM_HEARD_FRAME, 0},
                    {ReadPoll, COMM_HEARD_FRAME, 0, true},
                    {PollReply, COMM_HEARD_FRAME, 10}}
            << "RRA"
            << ".x." << QStringList{"^адрес 3: чтение", "без паузы после предыдущего кадра$", ""}
            << QStringList{"адрес 3: запросов 2, ответов 1, исключений 0, без ответа 1, сбоев 1, "
                           "самый долгий ответ 9,0 мс"};
        QTest::newRow("a reply handed on with its request is no fault")
            << Rows{{ReadPoll, COMM_HEARD_FRAME, 0}, {PollReply, COMM_HEARD_FRAME, 0, true}} << "RA"
            << ".." << QStringList{"", ""}
            << QStringList{"адрес 3: запросов 1, ответов 1, исключений 0, без ответа 0, сбоев 0, "
                           "самый долгий ответ 0,0 мс"};
        QTest::newRow("a reply twice, a reply to nothing")
            << Rows{{ReadPoll, COMM_HEARD_FRAME, 0},
                    {PollReply, COMM_HEARD_FRAME, 5},
                    {PollReply, COMM_HEARD_FRAME, 5, true},
                    {SerialReply, COMM_HEARD_FRAME, 50}}
            << "RAOO"
            << "..xx"
            << QStringList{"", "", "^адрес 3: ответ без запроса", "^адрес 7: ответ без запроса$"}
            << QStringList{"адрес 3: запросов 1, ответов 1, исключений 0, без ответа 0, сбоев 1, "
                           "самый долгий ответ 4,0 мс",
                           "адрес 7: запросов 0, ответов 0, исключений 0, без ответа 0, сбоев 1"};
        QTest::newRow("a reply from another address is no answer")
            << Rows{{ReadPoll, COMM_HEARD_FRAME, 0}, {SerialReply, COMM_HEARD_FRAME, 5}} << "RO"
            << ".x" << QStringList{"", "^адрес 7: ответ без запроса$"}
            << QStringList{"адрес 3: запросов 1, ответов 0, исключений 0, без ответа 1, сбоев 0",
                           "адрес 7: запросов 0, ответов 0, исключений 0, без ответа 0, сбоев 1"};
        QTest::newRow("a broadcast waits for no answer")
            << Rows{{Broadcast, COMM_HEARD_FRAME, 0}, {ReadPoll, COMM_HEARD_FRAME, 50}} << "RR"
            << ".." << QStringList{"^всем: запись 257", "^адрес 3: чтение"}
            << QStringList{"всем (адрес 0): запросов 1, ответов 0, исключений 0, без ответа 0, "
                           "сбоев 0",
                           "адрес 3: запросов 1, ответов 0, исключений 0, без ответа 0, сбоев 0"};
        QTest::newRow("the port failed")
            << Rows{{ReadPoll, COMM_HEARD_FRAME, 0}, {QByteArray(), COMM_HEARD_FAILED, 10}} << "RO"
            << ".x" << QStringList{"", "^порт отказал, прослушивание остановлено$"}
            << QStringList{"адрес 3: запросов 1, ответов 0, исключений 0, без ответа 0, сбоев 0"};
    }

    void pairing() {
        QFETCH(Rows, heard);
        QFETCH(QString, roles);
        QFETCH(QString, failed);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, stats);
        ListenPairing pairing;
        QString gotRoles, gotFailed;
        for (int i = 0; i < heard.size(); ++i) {
            const HeardRow row = pairing.take(Heard(heard[i], uint64_t(i + 1)));
            gotRoles += row.role == HeardRow::Role::Request ? 'R'
                        : row.role == HeardRow::Role::Reply ? 'A'
                                                            : 'O';
            gotFailed += row.failed ? 'x' : '.';
            const FrameMeaning m = HeardMeaning(row);
            QCOMPARE(m.failed, row.failed);
            QVERIFY2(QRegularExpression(texts[i]).match(m.text).hasMatch(),
                     qPrintable(QString::number(i) + ": " + m.text));
        }
        QCOMPARE(gotRoles, roles);
        QCOMPARE(gotFailed, failed);
        QCOMPARE(pairing.statsLines(), stats);
    }

    void clearForgetsTheRequestOwed() {
        ListenPairing pairing;
        pairing.take(Heard({ReadPoll, COMM_HEARD_FRAME, 0}, 1));
        pairing.clear();
        QVERIFY(pairing.stats().empty());
        QCOMPARE(int(pairing.take(Heard({PollReply, COMM_HEARD_FRAME, 5}, 2)).role),
                 int(HeardRow::Role::Other));
    }

    void hexOfTheBytes() {
        QCOMPARE(HeardHex(Heard({QByteArray::fromHex("01030400"), COMM_HEARD_CUT, 0}, 1)),
                 QStringLiteral("01 03 04 00"));
    }
};

QTEST_GUILESS_MAIN(TestListenStats)
#include "test_listen_stats.moc"
