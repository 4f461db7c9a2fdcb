// What the link statistics say: the rules on given counts, and the counter
// fed by the register operations through a scripted library.
#include <QtTest>
#include <functional>
#include <vector>

#include "FrameLog.h"
#include "Func.h"
#include "LinkStats.h"
#ifdef QS_HAS_SIM
#include "SimLink.h"
#endif

Q_DECLARE_METATYPE(LinkCounts)

namespace {

// A healthy session: the port open, `n` exchanges all through at the first
// attempt since the port was opened.
LinkCounts Healthy(uint64_t n = 1000) {
    LinkCounts c;
    c.portOpen = true;
    c.exchanges = c.attempts = c.succeededAt[0] = n;
    c.exchangesSinceOpen = c.attemptsSinceOpen = c.succeededSinceOpen = c.answeredSinceOpen = n;
    return c;
}

// Adds `n` failed attempts with `code` to the totals and since the open.
void FailedAttempts(LinkCounts& c, int code, uint64_t n) {
    c.attempts += n;
    c.attemptsSinceOpen += n;
    c.attemptsFailedWith[LinkCounts::slot(code)] += n;
    c.silentAttemptsSinceOpen += code == COMM_NO_REPLY ? n : 0;
    c.answeredSinceOpen += code >= 1 && code <= 8 ? n : 0;
}

// Adds `n` exchanges that failed three times with `code`.
void FailedExchanges(LinkCounts& c, int code, uint64_t n, int first = 1024) {
    FailedAttempts(c, code, 3 * n);
    c.exchanges += n;
    c.exchangesSinceOpen += n;
    c.failedWith[LinkCounts::slot(code)] += n;
    if (code >= 1 && code <= 8)
        c.exceptionRegister[static_cast<std::size_t>(code)] = first;
    c.silentRun = code == COMM_NO_REPLY ? c.silentRun + n : 0;
}

// Adds `n` looks of the bus scan at addresses without a module: one attempt
// each, no reply, nothing of the tool's own link.
void SilentLooks(LinkCounts& c, uint64_t n) {
    c.exchanges += n;
    c.attempts += n;
    c.failedWith[COMM_NO_REPLY] += n;
    c.attemptsFailedWith[COMM_NO_REPLY] += n;
    c.silentLooks += n;
}

// The port reopened with new settings.
void Reopened(LinkCounts& c) {
    c.exchangesSinceOpen = c.attemptsSinceOpen = c.silentAttemptsSinceOpen = 0;
    c.succeededSinceOpen = c.answeredSinceOpen = c.silentRun = 0;
}

LinkCounts With(std::function<void(LinkCounts&)> change, LinkCounts c = Healthy()) {
    change(c);
    return c;
}

// A scripted library: each call takes the next code (0 once used up).
std::vector<int32_t> script;
int32_t ScriptedInvoke(uint8_t, uint8_t, uint16_t, uint16_t, uint16_t*) {
    if (script.empty())
        return 0;
    const int32_t code = script.front();
    script.erase(script.begin());
    return code;
}
int32_t OpenOk(const char*, int32_t, uint8_t) {
    return 0;
}
int32_t ScriptedScan(uint8_t, uint16_t, uint16_t, uint16_t* words, uint8_t, uint8_t* other) {
    *other = 0;
    return ScriptedInvoke(0, 3, 0, 0, words);
}

} // namespace

class TestLinkStats : public QObject {
    Q_OBJECT

  private slots:
    // One case per rule, and the two that must not be mistaken for one
    // another. Each sentence expected holds the fragment given.
    void rules_data() {
        QTest::addColumn<LinkCounts>("counts");
        QTest::addColumn<QStringList>("said");
        LinkCounts none;
        none.portOpen = true;
        QTest::newRow("idle") << none << QStringList{"пока не было"};
        QTest::newRow("fine") << Healthy() << QStringList{"Явных неполадок"};
        QTest::newRow("sporadic: one lost exchange in a thousand")
            << With([](LinkCounts& c) { FailedExchanges(c, COMM_NO_REPLY, 1); })
            << QStringList{"Отдельные обмены"};
        QTest::newRow("closed") << With([](LinkCounts& c) {
            c.portOpen = false;
            FailedExchanges(c, COMM_NOT_OPEN, 1);
        }) << QStringList{"Порт не открыт"};
        QTest::newRow("port fault: adapter pulled")
            << With([](LinkCounts& c) { FailedExchanges(c, COMM_IO_ERROR, 1); })
            << QStringList{"Порт отказывал"};
        // The module answered before the settings changed, and not since.
        QTest::newRow("silent since new settings")
            << With([](LinkCounts& c) {
                   Reopened(c);
                   FailedExchanges(c, COMM_NO_REPLY, 1);
               })
            << QStringList{"неверны скорость, чётность или адрес, либо модуля нет",
                           "«Порт» → «Настройки...» → «Автоматически»"};
        QTest::newRow("garbled since new settings: one damaged reply is not silence")
            << With([](LinkCounts& c) {
                   Reopened(c);
                   FailedExchanges(c, COMM_NO_REPLY, 1);
                   FailedAttempts(c, COMM_BAD_CRC, 1);
               })
            << QStringList{"ни одного верного ответа", "«Автоматически»"};
        QTest::newRow("stopped answering after it did")
            << With([](LinkCounts& c) { FailedExchanges(c, COMM_NO_REPLY, 2); })
            << QStringList{"перестал отвечать", "задайте те же"};
        QTest::newRow("refused: commonest exception and its register") << With([](LinkCounts& c) {
            FailedExchanges(c, 4, 1, 1911);
            FailedExchanges(c, 2, 2, 300);
        }) << QStringList{"к регистру 300: «Недопустимый адрес данных» (код 2)"};
        // 12 of 1012 attempts, though every exchange went through in the end.
        QTest::newRow("crc share") << With([](LinkCounts& c) {
            FailedAttempts(c, COMM_BAD_CRC, 12);
            c.succeededAt[0] -= 12;
            c.succeededAt[1] += 12;
        }) << QStringList{"ошибка CRC", "терминатор, экран и длину кабеля"};
        QTest::newRow("crc below its share is no pattern")
            << With(
                   [](LinkCounts& c) {
                       FailedAttempts(c, COMM_BAD_CRC, 9);
                       c.succeededAt[0] -= 9;
                       c.succeededAt[1] += 9;
                   },
                   Healthy(10000))
            << QStringList{"Явных неполадок"};
        QTest::newRow("marginal: saved by later attempts") << With([](LinkCounts& c) {
            FailedAttempts(c, COMM_NO_REPLY, 80);
            c.succeededAt[0] -= 60;
            c.succeededAt[1] += 40;
            c.succeededAt[2] += 20;
        }) << QStringList{"со 2-й или 3-й попытки"};
        QTest::newRow("foreign replies") << With([](LinkCounts& c) {
            FailedAttempts(c, COMM_WRONG_SLAVE, 1);
            c.succeededAt[0] -= 1;
            c.succeededAt[1] += 1;
        }) << QStringList{"второй ведущий"};
        // The weightiest first; the second rule gives its first sentence only.
        QTest::newRow("two rules in two sentences") << With([](LinkCounts& c) {
            FailedExchanges(c, 3, 1, 1912);
            FailedAttempts(c, COMM_BAD_CRC, 50);
            c.succeededAt[0] -= 50;
            c.succeededAt[1] += 50;
        }) << QStringList{"к регистру 1912", "ошибка CRC"};
        // Each sentence says what its figures show: three of seven lost
        // outright, none saved by a retry, is no "2nd or 3rd attempt".
        QTest::newRow("lost outright, none saved by a retry")
            << With(
                   [](LinkCounts& c) {
                       FailedExchanges(c, COMM_NO_REPLY, 3);
                       c.silentRun = 0;
                   },
                   Healthy(4))
            << QStringList{"не удаётся и с трёх попыток"};
        // The scan of the line looks at 247 addresses, most of them empty:
        // that says nothing of the link, nor of the module's own run.
        QTest::newRow("a scan's empty addresses are no fault")
            << With([](LinkCounts& c) { SilentLooks(c, 240); }, Healthy(20))
            << QStringList{"Явных неполадок"};
        QTest::newRow("a scan between two lost polls breaks no run")
            << With(
                   [](LinkCounts& c) {
                       FailedExchanges(c, COMM_NO_REPLY, 1);
                       SilentLooks(c, 240);
                   },
                   Healthy(20))
            << QStringList{"Отдельные обмены"};
        QTest::newRow("lost outright, a scan's looks beside")
            << With(
                   [](LinkCounts& c) {
                       FailedExchanges(c, COMM_NO_REPLY, 3);
                       c.silentRun = 0;
                       SilentLooks(c, 240);
                   },
                   Healthy(4))
            << QStringList{"не удаётся и с трёх попыток"};
        // A refused OK leaves the port closed: nothing about speed and parity.
        QTest::newRow("closed after a refused OK") << With([](LinkCounts& c) {
            Reopened(c);
            c.portOpen = false;
            FailedExchanges(c, COMM_NOT_OPEN, 2);
        }) << QStringList{"Порт не открыт"};
    }
    void rules() {
        QFETCH(LinkCounts, counts);
        QFETCH(QStringList, said);
        const QStringList advice = LinkAdvice(counts);
        QVERIFY2(advice.size() == said.size(), qPrintable(advice.join(QLatin1Char('|'))));
        for (int i = 0; i < said.size(); ++i)
            QVERIFY2(advice[i].contains(said[i]), qPrintable(advice[i]));
    }

    // The top line says what is true of the port.
    void stateLine_data() {
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("lost");
        QTest::addColumn<QString>("line");
        const QString settings = QStringLiteral("COM1  19200 бод Even Адрес 1");
        QTest::newRow("open") << true << false << "Открыт " + settings;
        QTest::newRow("adapter pulled")
            << true << true << "Закрыт " + settings + "  (порт отказал во время обмена)";
        QTest::newRow("refused OK") << false << false << "Закрыт " + settings;
    }
    void stateLine() {
        QFETCH(bool, open);
        QFETCH(bool, lost);
        QFETCH(QString, line);
        PortName = QStringLiteral("COM1");
        BaudRate = 19200;
        ParityIndex = 2;
        ModuleAddress = 1;
        LinkCounts c = Healthy();
        c.portOpen = open;
        c.portLost = lost;
        QCOMPARE(LinkStateLine(c), line);
    }

    // Every row that counts part of a whole gives its share, and the copy
    // heads the sentences as the window does.
    void shares() {
        LinkCounts c = With([](LinkCounts& c) {
            FailedExchanges(c, 2, 1, 300);
            FailedExchanges(c, COMM_WRONG_SLAVE, 1);
            c.timed = c.timeClasses[0] = c.waits = 10;
            c.waitsKnown = true;
        });
        const QStringList bases = {"Обменов", "Попыток", "Без ответа подряд"};
        for (const LinkFigureGroup& g : LinkFigures(c))
            for (const LinkFigure& f : g.figures) {
                const bool count = f.value.front().isDigit() && !f.value.contains("мс");
                if (count && !bases.contains(f.name))
                    QVERIFY2(f.value.contains('%'), qPrintable(g.title + ": " + f.name));
            }
        const QString report = LinkReport(c, "Открыт COM1", "01.01.2026 00:00:00");
        QVERIFY(report.contains("\nЧто это значит\n"));
        QVERIFY(!report.contains("Вывод"));
    }

#ifdef QS_HAS_SIM
    // The call times are the exchange alone; the wait for a reply owed to a
    // lost request is a figure of its own. A library that cannot tell keeps
    // the whole call, and the window says so.
    void exchangeTimeApartFromTheWait() {
        SimLink link;
        QVERIFY(link.opened());
        for (const bool told : {true, false}) {
            FrameLog::global().bind(nullptr);
            if (told)
                QVERIFY(LoadCommLibrary());
            LinkStats::global().reset();
            uint16_t word = 0;
            link.module().dropNext(1);
            ReadRegister(1025, word); // the second attempt answers at once
            ReadRegister(768, word);  // first waits for the lost reply
            const LinkCounts& c = LinkStats::global().counts();
            QCOMPARE(c.timesFromLibrary, told);
            QCOMPARE(c.waitsKnown, told);
            if (told) {
                QVERIFY2(c.maxMs < 200, qPrintable(QString::number(c.maxMs)));
                QVERIFY2(c.waitMaxMs > 500, qPrintable(QString::number(c.waitMaxMs)));
                QCOMPARE(c.waits, 1u);
            } else {
                QVERIFY2(c.maxMs > 500, qPrintable(QString::number(c.maxMs)));
            }
            const QString shown = LinkFigures(c)[2].figures[0].value;
            QCOMPARE(shown, told ? "от запроса до конца ответа" : "весь вызов, с ожиданием");
        }
        QVERIFY(LoadCommLibrary());
    }
#endif

    // The counter as the register operations feed it.
    void counting() {
        Comm = {};
        Comm.init_comm = &OpenOk;
        Comm.invoke_modb = &ScriptedInvoke;
        ModuleAddress = 1;
        LinkStats& stats = LinkStats::global();
        stats.reset();
        uint16_t word = 0;

        // At the first, second and third attempt, then three times no reply,
        // then a refusal of register 300; an unlocked write is two exchanges.
        script = {};
        ReadRegister(1025, word);
        script = {COMM_BAD_CRC};
        ReadRegister(1025, word);
        script = {COMM_NO_REPLY, COMM_BAD_CRC};
        ReadRegister(1025, word);
        script = {COMM_NO_REPLY, COMM_NO_REPLY, COMM_NO_REPLY};
        QVERIFY_THROWS_EXCEPTION(ECommError, ReadRegister(1025, word));
        script = {2, 2, 2};
        QVERIFY_THROWS_EXCEPTION(ECommError, ReadRegister(300, word));
        script = {};
        WriteRegisterUnlocked(8, 1);

        const LinkCounts& c = stats.counts();
        QCOMPARE(c.exchanges, 7u);
        QCOMPARE(c.attempts, 14u);
        QCOMPARE(c.succeededAt, (std::array<uint64_t, 3>{3, 1, 1}));
        QCOMPARE(c.failedWith[COMM_NO_REPLY], 1u);
        QCOMPARE(c.failedWith[2], 1u);
        QCOMPARE(c.exceptionRegister[2], 300);
        QCOMPARE(c.attemptsFailedWith[COMM_BAD_CRC], 2u);
        QCOMPARE(c.attemptsFailedWith[COMM_NO_REPLY], 4u);
        QCOMPARE(c.timed, 5u);
        QVERIFY(c.minMs <= c.meanMs() && c.meanMs() <= c.maxMs);

        // A reset clears the figures but not what is known of the present
        // settings; a reopening clears that.
        QVERIFY(OpenPort(QStringLiteral("COM1"), 19200, 2));
        script = {COMM_NO_REPLY, COMM_NO_REPLY, COMM_NO_REPLY};
        QVERIFY_THROWS_EXCEPTION(ECommError, ReadRegister(1025, word));
        stats.reset();
        QCOMPARE(stats.counts().exchanges, 0u);
        QVERIFY(LinkAdvice(stats.counts()).join(' ').contains("Автоматически"));
        QVERIFY(OpenPort(QStringLiteral("COM1"), 19200, 2));
        QVERIFY(LinkAdvice(stats.counts()).join(' ').contains("пока не было"));

        // Without a bound library: one exchange that failed without an attempt.
        Comm.invoke_modb = nullptr;
        QVERIFY_THROWS_EXCEPTION(ECommError, ReadRegister(1025, word));
        QCOMPARE(stats.counts().exchanges, 1u);
        QCOMPARE(stats.counts().attempts, 0u);
        QCOMPARE(stats.counts().failedWith[COMM_NOT_OPEN], 1u);
        Comm = {};
    }

    // The bus scan's looks are exchanges of the statistics, with scan_read
    // or without it (three attempts of invoke_modb), apart from the figures of
    // the tool's own link.
    void scanLooks_data() {
        QTest::addColumn<bool>("quick");
        QTest::newRow("scan_read") << true;
        QTest::newRow("invoke_modb") << false;
    }
    void scanLooks() {
        QFETCH(bool, quick);
        Comm = {};
        Comm.init_comm = &OpenOk;
        Comm.invoke_modb = &ScriptedInvoke;
        Comm.scan_read = quick ? &ScriptedScan : nullptr;
        ModuleAddress = 1;
        LinkStats& stats = LinkStats::global();
        QVERIFY(OpenPort(QStringLiteral("COM1"), 19200, 2));
        stats.reset();
        uint16_t words[2] = {};
        uint8_t other = 0;
        script = {};
        ReadRegister(1025, words[0]); // the tool's module answers
        QCOMPARE(QuickLooks(), quick);

        script = {};
        QCOMPARE(ScanLook(1, 768, 2, words, false, &other), COMM_OK);
        script = std::vector<int32_t>(quick ? 1 : 3, COMM_NO_REPLY);
        QCOMPARE(ScanLook(2, 768, 2, words, false, &other), COMM_NO_REPLY);
        script = std::vector<int32_t>(quick ? 1 : 3, 2);
        QCOMPARE(ScanLook(3, 768, 2, words, true, &other), 2);
        script = {};

        const LinkCounts& c = stats.counts();
        QCOMPARE(c.exchanges, 4u);
        QCOMPARE(c.attempts, quick ? 4u : 8u);
        QCOMPARE(c.succeededAt[0], 2u);
        QCOMPARE(c.failedWith[COMM_NO_REPLY], 1u);
        QCOMPARE(c.silentLooks, 1u);
        QCOMPARE(c.exceptionRegister[2], 768);
        // Since the link was opened: the module's read alone.
        QCOMPARE(c.exchangesSinceOpen, 1u);
        QCOMPARE(c.attemptsSinceOpen, 1u);
        QCOMPARE(c.succeededSinceOpen, 1u);
        QCOMPARE(c.answeredSinceOpen, 1u);
        QCOMPARE(c.silentAttemptsSinceOpen, 0u);
        QCOMPARE(c.silentRun, 0u);
        stats.reset();
        QCOMPARE(stats.counts().silentLooks, 0u);
        Comm = {};
    }
};

QTEST_GUILESS_MAIN(TestLinkStats)
#include "test_link_stats.moc"
