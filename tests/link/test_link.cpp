// The link layer without a module: conversions, register formats, error
// messages and the retry rule of the register operations.
#include <QtTest>
#include <vector>

#include "Convert.h"
#include "FakeModule.h"
#include "Func.h"
#include "RecorderUi.h"
#include "Registers.h"
#include "Seam.h"

namespace {

FakeModule Module;
std::vector<int32_t>& script = Module.results;
std::vector<FakeModule::Call>& calls = Module.calls;

QString ThrownMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.message();
    }
    return QStringLiteral("<nothing thrown>");
}

// A window's handlers as the guarded slots reach them.
struct Handlers {
    virtual ~Handlers() = default;
    virtual void close() { log << QStringLiteral("base close"); }
    void fail() { throw ECommError(14); }
    void work() { log << QStringLiteral("work"); }
    QStringList log;
};
struct Window : Handlers {
    void close() override { log << QStringLiteral("window close"); }
};

} // namespace

class TestLink : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        Module.reset();
        ModuleAddress = 7;
    }

    void parseWordKinds_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("value"); // -1: throws
        QTest::newRow("empty is 0") << "" << 1 << 0;
        QTest::newRow("no number is 0") << "abc" << 1 << 0;
        QTest::newRow("rest ignored") << "12abc" << 1 << 12;
        QTest::newRow("leading blanks") << "  42" << 1 << 42;
        QTest::newRow("unsigned top") << "65535" << 1 << 65535;
        QTest::newRow("unsigned over") << "65536" << 1 << -1;
        QTest::newRow("unsigned 70000") << "70000" << 1 << -1;
        QTest::newRow("unsigned negative") << "-1" << 1 << -1;
        QTest::newRow("signed -1") << "-1" << 2 << 0xFFFF;
        QTest::newRow("signed low") << "-32768" << 2 << 0x8000;
        QTest::newRow("signed below") << "-32769" << 2 << -1;
        QTest::newRow("signed over") << "32768" << 2 << -1;
        QTest::newRow("hex ff") << "ff" << 3 << 255;
        QTest::newRow("hex FFFF") << "FFFF" << 3 << 0xFFFF;
        QTest::newRow("hex over") << "10000" << 3 << -1;
        QTest::newRow("huge number") << "99999999999999999999999" << 1 << -1;
        QTest::newRow("other kinds unsigned") << "-5" << 0 << -1;
    }
    void parseWordKinds() {
        QFETCH(QString, text);
        QFETCH(int, kind);
        QFETCH(int, value);
        if (value < 0) {
            QVERIFY_THROWS_EXCEPTION(Exception, ParseWord(text, static_cast<uint8_t>(kind)));
        } else {
            QCOMPARE(ParseWord(text, static_cast<uint8_t>(kind)), value);
        }
    }

    void parseWordRangeMessages() {
        QCOMPARE(ThrownMessage([] { ParseWord(QStringLiteral("70000"), 1); }),
                 QStringLiteral("Значение 70000 выходит за пределы 0 - 65535!"));
        QCOMPARE(ThrownMessage([] { ParseWord(QStringLiteral(" 40000x"), 2); }),
                 QStringLiteral("Значение  40000x выходит за пределы -32768 - 32767!"));
    }

    void strToIntLikeTheToolkit() {
        QCOMPARE(StrToInt(QStringLiteral("  -17")), -17);
        QCOMPARE(StrToInt(QStringLiteral("$FF")), 255);
        QCOMPARE(StrToInt(QStringLiteral("0x10")), 16);
        QCOMPARE(StrToInt(QStringLiteral("2147483647")), 2147483647);
        QCOMPARE(StrToInt(QStringLiteral("-2147483648")), INT32_MIN);
        for (const char* bad : {"", " ", "12 ", "abc", "1.5", "2147483648", "$", "0x", "--1"})
            QVERIFY2(!TryStrToInt(QString::fromLatin1(bad)), bad);
        QCOMPARE(ThrownMessage([] { StrToInt(QStringLiteral("abc")); }),
                 QStringLiteral("'abc' is not a valid integer value"));
    }

    void strToDate() {
        auto d = StrToDate(QStringLiteral("15.03.26"));
        QCOMPARE(d.day, 15);
        QCOMPARE(d.month, 3);
        QCOMPARE(d.year, 26);
        QVERIFY(TryStrToDate(QStringLiteral("29.02.24")));
        QVERIFY(!TryStrToDate(QStringLiteral("29.02.25")));
        QVERIFY(!TryStrToDate(QStringLiteral("31.04.26")));
        QVERIFY(!TryStrToDate(QStringLiteral("15.13.26")));
        QCOMPARE(ThrownMessage([] { StrToDate(QStringLiteral("  .  .  ")); }),
                 QStringLiteral("'  .  .  ' is not a valid date"));
    }

    void registerFormats() {
        // serial-number word
        QCOMPARE(reg::EncodeSerial(1, 123), 4219);
        QCOMPARE(reg::SerialNumberPart(4219), 123);
        QCOMPARE(reg::SerialLetterIndex(4219), 1);
        QCOMPARE(reg::SerialLetterIndex(0), -1);
        QCOMPARE(reg::EncodeSerial(0, 3000), reg::EncodeSerial(1, 952));
        // PackedDate, both layouts
        QCOMPARE(reg::PackDate(15, 3, 2024), 0x60EF);
        QCOMPARE(reg::PackDate(15, 3, 26), 26863);
        const auto a = reg::UnpackDate(0x3C0F);
        QCOMPARE(a.day, 15);
        QCOMPARE(a.month, 12);
        QCOMPARE(a.year, 3);
        QCOMPARE(QString::fromStdString(reg::DateText(reg::UnpackDate(0x9507))),
                 QStringLiteral("07.05.09"));
        QVERIFY(!reg::IsValidDate(reg::UnpackDate(0)));
        QVERIFY(!reg::IsValidDate(reg::UnpackDate(0xFFFF)));
        QVERIFY(reg::IsValidDate({29, 2, 24}));
        QVERIFY(!reg::IsValidDate({29, 2, 25}));
        QVERIFY(!reg::IsValidDate({1, 1, 0}));
        // speed code and version word
        QCOMPARE(reg::SpeedIndexOfCode(96), 2);
        QCOMPARE(reg::SpeedIndexOfCode(100), -1);
        QCOMPARE(reg::SpeedCode(115200), 1152);
        QCOMPARE(QString::fromStdString(reg::VersionText(0x0203)), QStringLiteral("02.03"));
        // coefficients
        QCOMPARE(reg::JoinWords(0x08A7, 0x009A), 10094759u);
        QCOMPARE(reg::SplitWords(10094759u)[0], 0x08A7);
    }

    void errorMessages() {
        QCOMPARE(ECommError::messageFor(1), QStringLiteral("Недопустимая функция"));
        QCOMPARE(ECommError::messageFor(2), QStringLiteral("Недопустимый адрес данных"));
        QCOMPARE(ECommError::messageFor(6), QStringLiteral("Устойство занято"));
        QCOMPARE(ECommError::messageFor(8), QStringLiteral("Ошибка памяти"));
        QCOMPARE(ECommError::messageFor(14), QStringLiteral("Нет ответа!"));
        QCOMPARE(ECommError::messageFor(15),
                 QStringLiteral("Функция не поддерживается библиотекой!"));
        QCOMPARE(ECommError::messageFor(16), QStringLiteral("Не хватает буфера данных!"));
        QCOMPARE(ECommError::messageFor(17), QStringLiteral("Ошибка CRC!"));
        // A gateway's own exceptions.
        QCOMPARE(ECommError::messageFor(10), QStringLiteral("Шлюз не нашёл путь к модулю"));
        QCOMPARE(ECommError::messageFor(11), QStringLiteral("Модуль за шлюзом не ответил"));
        for (int code : {9, 12, 13, 18, 20, 1000})
            QCOMPARE(ECommError::messageFor(code), QStringLiteral("Неизвестная ошибка связи!"));
        QVERIFY(ECommError::messageFor(-3).contains(QStringLiteral("-3")));
    }

    // Why a gateway's connection was not made names the host and port; a
    // serial port's reasons stay as they are.
    void networkOpenFailureReasons() {
        struct Case {
            int error;
            const char* port;
            QString reason;
        };
        const Case cases[] = {
            {ECONNREFUSED, "tcp:10.0.0.5",
             QStringLiteral("Не удалось соединиться с 10.0.0.5:502: соединение отвергнуто.")},
            {ETIMEDOUT, "rtu-tcp:gw1:4001",
             QStringLiteral("Не удалось соединиться с gw1:4001: шлюз не ответил вовремя.")},
            {EHOSTUNREACH, "tcp:10.0.0.5:1502",
             QStringLiteral("Не удалось соединиться с 10.0.0.5:1502: узел недоступен.")},
            {ENOENT, "tcp:gw-cabinet-3",
             QStringLiteral("Не удалось соединиться с gw-cabinet-3:502: узел «gw-cabinet-3» не "
                            "найден.")},
            {EINVAL, "tcp:my gw",
             QStringLiteral("Сетевой порт записан неверно: tcp:my gw. Пишите tcp:УЗЕЛ[:ПОРТ] или "
                            "rtu-tcp:УЗЕЛ:ПОРТ, без пробелов, порт от 1 до 65535.")},
            {EPROTONOSUPPORT, "tcp:10.0.0.5",
             QStringLiteral("Шлюз Modbus TCP передаёт только ответы на свои запросы: прослушать "
                            "линию можно через прозрачный сервер (rtu-tcp:).")},
            {0, "tcp:10.0.0.5", QString()},
            {EBUSY, "COM1", QStringLiteral("Порт занят другой программой.")},
        };
        for (const Case& c : cases)
            QCOMPARE(OpenFailureReason(c.error, QString::fromLatin1(c.port)), c.reason);
        QVERIFY(OpenFailureReason(EPIPE, QStringLiteral("tcp:10.0.0.5"))
                    .startsWith(QStringLiteral("Не удалось соединиться с 10.0.0.5:502 (ошибка ")));
    }

    void errorBoxFullStopRule() {
        QCOMPARE(seam::ErrorBoxText(QStringLiteral("Нет ответа!")), QStringLiteral("Нет ответа!"));
        QCOMPARE(seam::ErrorBoxText(QStringLiteral("Недопустимая функция")),
                 QStringLiteral("Недопустимая функция."));
        QCOMPARE(seam::ErrorBoxText(QStringLiteral("done.")), QStringLiteral("done."));
        QCOMPARE(seam::ErrorBoxText(QStringLiteral("1/2")), QStringLiteral("1/2."));
        QCOMPARE(seam::ErrorBoxText(QString()), QString());

        RecorderUi rec;
        seam::Guard([] { throw ECommError(1); });
        QCOMPARE(rec.messages.size(), 1);
        QCOMPARE(rec.messages[0].text, QStringLiteral("Недопустимая функция."));
        QCOMPARE(rec.messages[0].caption, QStringLiteral("QS730_View"));
        QVERIFY(rec.messages[0].icon == seam::Icon::Error);
    }

    // A guarded slot runs its handler on the window it was made for, the
    // override of a virtual one, and shows what the handler throws in the
    // error box instead of letting it out.
    void guardedSlots_data() {
        QTest::addColumn<int>("handler");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("a handler that does its work") << 0 << QStringList{"work"} << QStringList{};
        QTest::newRow("a virtual one: the window's override")
            << 1 << QStringList{"window close"} << QStringList{};
        QTest::newRow("a handler that throws: one error box")
            << 2 << QStringList{} << QStringList{"Нет ответа!"};
    }
    void guardedSlots() {
        QFETCH(int, handler);
        QFETCH(QStringList, log);
        QFETCH(QStringList, boxes);
        RecorderUi rec;
        Window window;
        const std::function<void()> slot =
            handler == 0   ? std::function<void()>(seam::Guarded(&window, &Handlers::work))
            : handler == 1 ? std::function<void()>(seam::Guarded(&window, &Handlers::close))
                           : std::function<void()>(seam::Guarded(&window, &Window::fail));
        slot();
        QCOMPARE(window.log, log);
        QStringList shown;
        for (const auto& m : rec.messages)
            shown << m.text;
        QCOMPARE(shown, boxes);
    }

    void retryThenSuccessShowsNothing() {
        script = {17, 0};
        Module.regs[1025] = 500;
        uint16_t value = 0;
        ReadRegister(1025, value);
        QCOMPARE(value, 500);
        QCOMPARE(calls.size(), 2u);
        QCOMPARE(calls[0].address, 7);
        QCOMPARE(calls[0].function, 3);
        QCOMPARE(calls[1].first, 1025);
    }

    void threeFailuresRaiseTheLastCode() {
        script = {14, 14, 14};
        uint16_t buf[3] = {1, 2, 3};
        QCOMPARE(ThrownMessage([&] { ReadRegisters(1024, 3, buf); }),
                 QStringLiteral("Нет ответа!"));
        QCOMPARE(calls.size(), 3u);

        calls.clear();
        script = {14, 17, 2};
        QCOMPARE(ThrownMessage([] { WriteRegister(260, 0); }),
                 QStringLiteral("Недопустимый адрес данных"));
        QCOMPARE(calls.size(), 3u);

        calls.clear();
        script = {12, 12, 12};
        QCOMPARE(ThrownMessage([] { WriteRegister(260, 0); }),
                 QStringLiteral("Неизвестная ошибка связи!"));
    }

    void failedReadLeavesThePlaceUntouched() {
        script = {14, 14, 14};
        uint16_t value = 4242;
        QVERIFY_THROWS_EXCEPTION(ECommError, ReadRegister(260, value));
        QCOMPARE(value, 4242);
    }

    void singleWritesUseFunction16AndLowBits() {
        WriteRegister(265, 0x12345);
        QCOMPARE(calls.size(), 1u);
        QCOMPARE(calls[0].function, 16);
        QCOMPARE(calls[0].count, 1);
        QCOMPARE(calls[0].values[0], 0x2345);
    }

    void unlockedWrites() {
        const uint16_t words[2] = {0x1111, 0x2222};
        WriteRegistersUnlocked(8, 2, words);
        QCOMPARE(calls.size(), 2u);
        QCOMPARE(calls[0].first, reg::Unlock);
        QCOMPARE(calls[0].values[0], reg::UnlockKey);
        QCOMPARE(calls[1].first, 8);
        QCOMPARE(calls[1].values, (std::vector<uint16_t>{0x1111, 0x2222}));

        // Nothing answers: three attempts at the unlock, none at the data.
        calls.clear();
        script = {14, 14, 14};
        QVERIFY_THROWS_EXCEPTION(ECommError, WriteRegisterUnlocked(0, 4219));
        QCOMPARE(calls.size(), 3u);
        for (const auto& c : calls)
            QCOMPARE(c.first, reg::Unlock);
    }

    // Every attempt of a protected write has an unlock of its own: the
    // module uses the unlock up with every write, also one whose reply is
    // lost on the way back.
    void protectedWriteUnlocksEveryAttempt_data() {
        QTest::addColumn<QList<int>>("results"); // of the calls in turn
        QTest::addColumn<int>("lost");           // replies of writes to 8 lost
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QString>("message"); // "": written
        QTest::addColumn<bool>("sent");
        QTest::addColumn<bool>("held"); // the module holds the new words
        const QString u = QStringLiteral("W1912=%1").arg(reg::UnlockKey);
        const QString w = QStringLiteral("W8x2");
        QTest::newRow("answered at once")
            << QList<int>{} << 0 << QStringList{u, w} << "" << true << true;
        QTest::newRow("reply lost once: unlocked again")
            << QList<int>{} << 1 << QStringList{u, w, u, w} << "" << true << true;
        QTest::newRow("reply lost twice")
            << QList<int>{} << 2 << QStringList{u, w, u, w, u, w} << "" << true << true;
        QTest::newRow("reply lost every time")
            << QList<int>{} << 3 << QStringList{u, w, u, w, u, w} << "Нет ответа!" << true << true;
        QTest::newRow("module silent: three unlocks, no write")
            << QList<int>{14, 14, 14} << 0 << QStringList{u, u, u} << "Нет ответа!" << false
            << false;
        QTest::newRow("unlock fails after a lost reply")
            << QList<int>{0, 0, 14, 14, 14} << 1 << QStringList{u, w, u, u, u} << "Нет ответа!"
            << true << true;
        QTest::newRow("refused every time")
            << QList<int>{0, 4, 0, 4, 0, 4} << 0 << QStringList{u, w, u, w, u, w}
            << "Сбой устройства" << true << false;
        QTest::newRow("a damaged reply to the unlock")
            << QList<int>{17} << 0 << QStringList{u, u, w} << "" << true << true;
    }
    void protectedWriteUnlocksEveryAttempt() {
        QFETCH(QList<int>, results);
        QFETCH(int, lost);
        QFETCH(QString, message);
        QFETCH(bool, sent);
        QFETCH(bool, held);
        script.assign(results.begin(), results.end());
        Module.repliesLost[8] = lost;
        const uint16_t words[2] = {0x1234, 0x5678};
        bool wentOut = !sent; // set either way
        const QString thrown =
            ThrownMessage([&] { WriteRegistersUnlocked(8, 2, words, &wentOut); });
        QCOMPARE(thrown, message.isEmpty() ? QStringLiteral("<nothing thrown>") : message);
        QTEST(Module.log, "log");
        QCOMPARE(wentOut, sent);
        QCOMPARE(Module.regs[8] == 0x1234 && Module.regs[9] == 0x5678, held);
    }

    void noLibraryBoundIsACommError() {
        Comm = {};
        QVERIFY_THROWS_EXCEPTION(ECommError, WriteRegister(260, 0));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
