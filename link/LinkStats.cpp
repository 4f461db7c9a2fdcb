#include "LinkStats.h"

#include <QLocale>
#include <algorithm>

#include "Errors.h"
#include "Func.h"

namespace {

constexpr int FirstException = 1;
constexpr int LastException = 8;

uint64_t Sum(const std::array<uint64_t, LinkCounts::CodeSlots>& byCode, int from, int to) {
    uint64_t n = 0;
    for (int code = from; code <= to; ++code)
        n += byCode[LinkCounts::slot(code)];
    return n;
}

// Not an exception, no reply or a CRC error: what the library reports of
// its port and of replies that are not the module's (COMM_NOT_OPEN ...).
uint64_t Others(const std::array<uint64_t, LinkCounts::CodeSlots>& byCode) {
    uint64_t n = 0;
    for (int s = 0; s < LinkCounts::CodeSlots; ++s)
        n += byCode[s];
    return n - byCode[0] - Sum(byCode, FirstException, LastException) - byCode[COMM_NO_REPLY] -
           byCode[COMM_BAD_CRC];
}

// The exception code that failed the most exchanges (the lowest of equals); 0 for none.
int CommonestException(const LinkCounts& c) {
    int commonest = 0;
    for (int code = FirstException; code <= LastException; ++code)
        if (c.failedWith[code] > (commonest ? c.failedWith[commonest] : 0))
            commonest = code;
    return commonest;
}

bool AtLeastShare(uint64_t n, uint64_t of, const LinkRule& r) {
    return n >= r.atLeast && static_cast<double>(n) >= r.share * static_cast<double>(of);
}

} // namespace

uint64_t LinkCounts::exceptions() const {
    return Sum(failedWith, FirstException, LastException);
}

uint64_t LinkCounts::otherFailures() const {
    return Others(failedWith);
}

uint64_t LinkCounts::otherFailedAttempts() const {
    return Others(attemptsFailedWith);
}

// ---- The counter

LinkStats& LinkStats::global() {
    static LinkStats stats;
    return stats;
}

void LinkStats::reset() {
    LinkCounts fresh;
    fresh.portOpen = c_.portOpen;
    fresh.portLost = c_.portLost;
    fresh.exchangesSinceOpen = c_.exchangesSinceOpen;
    fresh.attemptsSinceOpen = c_.attemptsSinceOpen;
    fresh.silentAttemptsSinceOpen = c_.silentAttemptsSinceOpen;
    fresh.answeredSinceOpen = c_.answeredSinceOpen;
    fresh.succeededSinceOpen = c_.succeededSinceOpen;
    fresh.silentRun = c_.silentRun;
    c_ = fresh;
    ++changes_;
}

void LinkStats::portOpened(bool opened) {
    c_.portOpen = opened;
    c_.portLost = false;
    c_.exchangesSinceOpen = 0;
    c_.attemptsSinceOpen = 0;
    c_.silentAttemptsSinceOpen = 0;
    c_.answeredSinceOpen = 0;
    c_.succeededSinceOpen = 0;
    c_.silentRun = 0;
    ++changes_;
}

void LinkStats::attempt(int code, Clock::duration took, const CallTiming& timing,
                        ExchangeKind kind) {
    const bool ownLink = kind == ExchangeKind::Module;
    ++c_.attempts;
    c_.attemptsSinceOpen += ownLink ? 1 : 0;
    ++changes_;
    c_.portLost = code == COMM_IO_ERROR;
    if (timing.waitKnown) {
        c_.waitsKnown = true;
        if (timing.waitMs > 0) {
            ++c_.waits;
            c_.waitLastMs = timing.waitMs;
            c_.waitMaxMs = std::max(c_.waitMaxMs, timing.waitMs);
            c_.waitSumMs += timing.waitMs;
        }
    }
    c_.answeredSinceOpen += ownLink && code >= 0 && code <= LastException ? 1 : 0;
    if (code != 0) {
        ++c_.attemptsFailedWith[LinkCounts::slot(code)];
        c_.silentAttemptsSinceOpen += ownLink && code == COMM_NO_REPLY ? 1 : 0;
        return;
    }
    const double ms = timing.exchangeKnown
                          ? timing.exchangeMs
                          : std::chrono::duration<double, std::milli>(took).count();
    c_.timesFromLibrary = timing.exchangeKnown;
    c_.lastMs = ms;
    c_.minMs = c_.timed ? std::min(c_.minMs, ms) : ms;
    c_.maxMs = c_.timed ? std::max(c_.maxMs, ms) : ms;
    c_.sumMs += ms;
    ++c_.timed;
    std::size_t cls = 0;
    while (cls < LinkCounts::TimeBounds.size() && ms > LinkCounts::TimeBounds[cls])
        ++cls;
    ++c_.timeClasses[cls];
}

void LinkStats::exchange(uint16_t first, int attempts, int lastCode, ExchangeKind kind) {
    const bool ownLink = kind == ExchangeKind::Module;
    ++c_.exchanges;
    c_.exchangesSinceOpen += ownLink ? 1 : 0;
    ++changes_;
    if (lastCode == 0 && attempts >= 1) {
        ++c_.succeededAt[static_cast<std::size_t>(std::min(attempts, 3) - 1)];
        if (ownLink) {
            ++c_.succeededSinceOpen;
            c_.silentRun = 0;
        }
        return;
    }
    ++c_.failedWith[LinkCounts::slot(lastCode)];
    if (lastCode >= FirstException && lastCode <= LastException)
        c_.exceptionRegister[static_cast<std::size_t>(lastCode)] = first;
    if (!ownLink)
        c_.silentLooks += lastCode == COMM_NO_REPLY ? 1 : 0;
    else
        c_.silentRun = lastCode == COMM_NO_REPLY ? c_.silentRun + 1 : 0;
}

// ---- The rules

const std::vector<LinkRule>& LinkRules() {
    // name, atLeast, share, holds, sentence, second sentence, fallback
    static const std::vector<LinkRule> rules = {
        {"closed", 0, 0, [](const LinkCounts& c, const LinkRule&) { return !c.portOpen; },
         "Порт не открыт: выберите порт в «Порт» → «Настройки...»."},
        // The port went away during an exchange (a pulled adapter).
        {"port fault", 1, 0,
         [](const LinkCounts& c, const LinkRule& r) {
             return c.attemptsFailedWith[COMM_IO_ERROR] >= r.atLeast;
         },
         "Порт отказывал во время обмена: проверьте, подключён ли преобразователь."},
        // Not a single reply of any kind to the present settings.
        {"silent", 1, 0,
         [](const LinkCounts& c, const LinkRule& r) {
             return c.portOpen && c.exchangesSinceOpen >= r.atLeast && c.attemptsSinceOpen > 0 &&
                    c.succeededSinceOpen == 0 && c.silentAttemptsSinceOpen == c.attemptsSinceOpen;
         },
         "Модуль не ответил ни разу после смены настроек: неверны скорость, чётность или "
         "адрес, либо модуля нет на линии.",
         "Попробуйте автоматический поиск: «Порт» → «Настройки...» → «Автоматически»."},
        // Replies came, but not one of them was the module's own answer. A
        // port that is closed or failed hears nothing at all.
        {"garbled", 1, 0,
         [](const LinkCounts& c, const LinkRule& r) {
             return c.portOpen && !c.portLost && c.exchangesSinceOpen >= r.atLeast &&
                    c.answeredSinceOpen == 0 && c.silentAttemptsSinceOpen < c.attemptsSinceOpen;
         },
         "После смены настроек не пришло ни одного верного ответа: проверьте скорость и "
         "чётность.",
         "Попробуйте автоматический поиск: «Порт» → «Настройки...» → «Автоматически»."},
        // It answered these settings before: the cable, its power, or it took
        // new settings of its own.
        {"stopped", 2, 0,
         [](const LinkCounts& c, const LinkRule& r) {
             return c.portOpen && c.silentRun >= r.atLeast && c.succeededSinceOpen > 0;
         },
         "Модуль перестал отвечать: проверьте кабель и питание модуля.",
         "Если вы изменили его адрес, скорость или чётность, задайте те же в «Порт» → "
         "«Настройки...»."},
        // %1 the register, %2 the module's answer, %3 its code (the commonest exception).
        {"refused", 1, 0,
         [](const LinkCounts& c, const LinkRule& r) { return c.exceptions() >= r.atLeast; },
         "Модуль отклоняет запрос к регистру %1: «%2» (код %3)."},
        // Share of all attempts.
        {"crc", 3, 0.01,
         [](const LinkCounts& c, const LinkRule& r) {
             return AtLeastShare(c.attemptsFailedWith[COMM_BAD_CRC], c.attempts, r);
         },
         "Часть ответов приходит искажённой (ошибка CRC): помехи или отражения на линии.",
         "Проверьте терминатор, экран и длину кабеля, попробуйте меньшую скорость."},
        // Exchanges that went through only at a second or third attempt:
        // share of all exchanges.
        {"marginal", 3, 0.05,
         [](const LinkCounts& c, const LinkRule& r) {
             return AtLeastShare(c.succeededAt[1] + c.succeededAt[2], c.judged(), r);
         },
         "Многие обмены удаются лишь со 2-й или 3-й попытки: линия работает на пределе."},
        // Exchanges that lost their reply three times while others went
        // through: share of all exchanges.
        {"lossy", 3, 0.05,
         [](const LinkCounts& c, const LinkRule& r) {
             return c.succeeded() > 0 && AtLeastShare(c.failedWith[COMM_NO_REPLY] - c.silentLooks +
                                                          c.failedWith[COMM_BAD_CRC],
                                                      c.judged(), r);
         },
         "Часть обменов не удаётся и с трёх попыток, хотя другие проходят: связь неустойчива."},
        // Replies from another address, or cut short.
        {"foreign", 1, 0,
         [](const LinkCounts& c, const LinkRule& r) {
             return c.attemptsFailedWith[COMM_WRONG_SLAVE] + c.attemptsFailedWith[COMM_BAD_REPLY] >=
                    r.atLeast;
         },
         "Приходят чужие или неполные ответы: возможно, на линии есть второй ведущий."},
        {"fine", 1, 0,
         [](const LinkCounts& c, const LinkRule& r) {
             return c.exchanges >= r.atLeast && c.judgedFailures() == 0;
         },
         "Явных неполадок связи не видно.", nullptr, true},
        {"sporadic", 1, 0,
         [](const LinkCounts& c, const LinkRule& r) { return c.judgedFailures() >= r.atLeast; },
         "Отдельные обмены не удались, но устойчивой причины по этим цифрам не видно.", nullptr,
         true},
        {"idle", 0, 0, [](const LinkCounts& c, const LinkRule&) { return c.exchanges == 0; },
         "Обменов с модулем пока не было.", nullptr, true},
    };
    return rules;
}

QStringList LinkAdvice(const LinkCounts& c) {
    constexpr int MaxSentences = 2;
    QStringList said;
    for (const LinkRule& r : LinkRules()) {
        if (said.size() >= MaxSentences || (r.fallback && !said.isEmpty()))
            break;
        if (!r.holds(c, r))
            continue;
        QString sentence = QString::fromUtf8(r.sentence);
        if (sentence.contains(QLatin1String("%1"))) {
            const int code = CommonestException(c);
            sentence = sentence.arg(c.exceptionRegister[static_cast<std::size_t>(code)])
                           .arg(ECommError::messageFor(code))
                           .arg(code);
        }
        said << sentence;
        // Without room for the second sentence, the first says what is wrong.
        if (r.more && said.size() < MaxSentences)
            said << QString::fromUtf8(r.more);
    }
    return said;
}

// ---- The figures

namespace {

const QLocale& Russian() {
    static const QLocale locale(QLocale::Russian, QLocale::Russia);
    return locale;
}

QString Count(uint64_t n) {
    return QString::number(n);
}

// "12 (1,5 %)"; the bare count when there is nothing to take a share of.
QString CountShare(uint64_t n, uint64_t of) {
    if (of == 0)
        return Count(n);
    return Count(n) + QStringLiteral(" (") +
           Russian().toString(100.0 * static_cast<double>(n) / static_cast<double>(of), 'f', 1) +
           QStringLiteral(" %)");
}

QString Ms(const LinkCounts& c, double ms) {
    if (c.timed == 0)
        return QStringLiteral("—");
    return Russian().toString(ms, 'f', ms < 1 ? 2 : 1) + QStringLiteral(" мс");
}

QString Bound(double ms) {
    return Russian().toString(ms, 'f', 0);
}

// "код 20: 3, код 23: 1" for the codes other than exceptions, no reply and CRC.
QString OtherCodes(const std::array<uint64_t, LinkCounts::CodeSlots>& byCode) {
    QStringList parts;
    for (int s = 1; s < LinkCounts::CodeSlots; ++s) {
        const bool own =
            (s >= FirstException && s <= LastException) || s == COMM_NO_REPLY || s == COMM_BAD_CRC;
        if (own || byCode[s] == 0)
            continue;
        const QString code = s == LinkCounts::CodeSlots - 1
                                 ? QStringLiteral("прочие")
                                 : QStringLiteral("код ") + QString::number(s);
        parts << code + QStringLiteral(": ") + Count(byCode[s]);
    }
    return parts.join(QStringLiteral(", "));
}

// "3 (1,5 %; код 20: 3)": the share, then the codes.
QString ShareWithCodes(uint64_t n, uint64_t of, const QString& codes) {
    const QString share = CountShare(n, of);
    if (codes.isEmpty())
        return share;
    return share.endsWith(QLatin1Char(')')) ? share.chopped(1) + QStringLiteral("; ") + codes + ')'
                                            : share + QStringLiteral(" (") + codes + ')';
}

QString WaitMs(const LinkCounts& c, double ms) {
    if (!c.waitsKnown)
        return QStringLiteral("не измеряется");
    return c.waits ? Russian().toString(ms, 'f', 1) + QStringLiteral(" мс") : QStringLiteral("—");
}

} // namespace

std::vector<LinkFigureGroup> LinkFigures(const LinkCounts& c) {
    const QString indent = QStringLiteral("    ");
    LinkFigureGroup exchanges{QStringLiteral("Обмены"), {}};
    auto& e = exchanges.figures;
    e.push_back({QStringLiteral("Обменов"), Count(c.exchanges)});
    e.push_back({QStringLiteral("Попыток"), Count(c.attempts)});
    e.push_back(
        {QStringLiteral("Удались с 1-й попытки"), CountShare(c.succeededAt[0], c.exchanges)});
    e.push_back(
        {QStringLiteral("Удались со 2-й попытки"), CountShare(c.succeededAt[1], c.exchanges)});
    e.push_back(
        {QStringLiteral("Удались с 3-й попытки"), CountShare(c.succeededAt[2], c.exchanges)});
    e.push_back({QStringLiteral("Не удались"), CountShare(c.failed(), c.exchanges)});
    e.push_back({indent + QStringLiteral("нет ответа"),
                 CountShare(c.failedWith[COMM_NO_REPLY], c.exchanges)});
    e.push_back({indent + QStringLiteral("ошибка CRC"),
                 CountShare(c.failedWith[COMM_BAD_CRC], c.exchanges)});
    for (int code = FirstException; code <= LastException; ++code) {
        if (c.failedWith[code] == 0)
            continue;
        e.push_back({indent + QStringLiteral("код %1 «%2», регистр %3")
                                  .arg(code)
                                  .arg(ECommError::messageFor(code))
                                  .arg(c.exceptionRegister[static_cast<std::size_t>(code)]),
                     CountShare(c.failedWith[code], c.exchanges)});
    }
    e.push_back({indent + QStringLiteral("другие ошибки"),
                 ShareWithCodes(c.otherFailures(), c.exchanges, OtherCodes(c.failedWith))});

    LinkFigureGroup attempts{QStringLiteral("Попытки с ошибкой"), {}};
    auto& a = attempts.figures;
    a.push_back({QStringLiteral("Всего"), CountShare(c.failedAttempts(), c.attempts)});
    a.push_back({QStringLiteral("Нет ответа"),
                 CountShare(c.attemptsFailedWith[COMM_NO_REPLY], c.attempts)});
    a.push_back(
        {QStringLiteral("Ошибка CRC"), CountShare(c.attemptsFailedWith[COMM_BAD_CRC], c.attempts)});
    a.push_back({QStringLiteral("Исключения Modbus"),
                 CountShare(Sum(c.attemptsFailedWith, FirstException, LastException), c.attempts)});
    a.push_back(
        {QStringLiteral("Другие ошибки"),
         ShareWithCodes(c.otherFailedAttempts(), c.attempts, OtherCodes(c.attemptsFailedWith))});

    LinkFigureGroup times{QStringLiteral("Время удачных вызовов"), {}};
    auto& t = times.figures;
    t.push_back({QStringLiteral("Отсчёт"), c.timed && !c.timesFromLibrary
                                               ? QStringLiteral("весь вызов, с ожиданием")
                                               : QStringLiteral("от запроса до конца ответа")});
    t.push_back({QStringLiteral("Последнее"), Ms(c, c.lastMs)});
    t.push_back({QStringLiteral("Наименьшее"), Ms(c, c.minMs)});
    t.push_back({QStringLiteral("Среднее"), Ms(c, c.meanMs())});
    t.push_back({QStringLiteral("Наибольшее"), Ms(c, c.maxMs)});
    const auto& bounds = LinkCounts::TimeBounds;
    t.push_back(
        {QStringLiteral("До %1 мс").arg(Bound(bounds[0])), CountShare(c.timeClasses[0], c.timed)});
    for (std::size_t i = 1; i < bounds.size(); ++i)
        t.push_back({QStringLiteral("%1–%2 мс").arg(Bound(bounds[i - 1]), Bound(bounds[i])),
                     CountShare(c.timeClasses[i], c.timed)});
    t.push_back({QStringLiteral("Дольше %1 мс").arg(Bound(bounds.back())),
                 CountShare(c.timeClasses[bounds.size()], c.timed)});

    LinkFigureGroup waits{QStringLiteral("Ожидание запоздавших ответов"), {}};
    auto& w = waits.figures;
    w.push_back({QStringLiteral("Вызовов с ожиданием"),
                 c.waitsKnown ? CountShare(c.waits, c.attempts) : QStringLiteral("не измеряется")});
    w.push_back({QStringLiteral("Последнее"), WaitMs(c, c.waitLastMs)});
    w.push_back({QStringLiteral("Наибольшее"), WaitMs(c, c.waitMaxMs)});
    w.push_back({QStringLiteral("Всего"), WaitMs(c, c.waitSumMs)});

    LinkFigureGroup sinceOpen{QStringLiteral("После смены настроек"), {}};
    auto& o = sinceOpen.figures;
    o.push_back({QStringLiteral("Обменов"), Count(c.exchangesSinceOpen)});
    o.push_back(
        {QStringLiteral("Удались"), CountShare(c.succeededSinceOpen, c.exchangesSinceOpen)});
    o.push_back({QStringLiteral("Без ответа подряд"), Count(c.silentRun)});

    return {exchanges, attempts, times, waits, sinceOpen};
}

QString LinkStateLine(const LinkCounts& c) {
    if (c.portOpen && c.portLost)
        return LinkStateText(false) + QStringLiteral("  (порт отказал во время обмена)");
    return LinkStateText(c.portOpen);
}

QString LinkReport(const LinkCounts& c, const QString& linkState, const QString& when) {
    QString text = QStringLiteral("Статистика связи, ") + when + QLatin1Char('\n') + linkState +
                   QLatin1Char('\n');
    for (const LinkFigureGroup& g : LinkFigures(c)) {
        text += QLatin1Char('\n') + g.title + QLatin1Char('\n');
        for (const LinkFigure& f : g.figures)
            text +=
                QStringLiteral("  ") + f.name + QStringLiteral(": ") + f.value + QLatin1Char('\n');
    }
    text += QStringLiteral("\nЧто это значит\n");
    for (const QString& sentence : LinkAdvice(c))
        text += QStringLiteral("  ") + sentence + QLatin1Char('\n');
    return text;
}
