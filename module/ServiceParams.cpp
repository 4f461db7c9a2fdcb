#include "ServiceParams.h"

#include <QList>
#include <QStringList>
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "Calibration.h"
#include "Errors.h"
#include "Func.h"
#include "LinkSettings.h"
#include "Seam.h"

QString ModuleTypeName(uint16_t code) {
    if (code >= 1 && code <= ModuleTypeNames.size())
        return QString::fromLatin1(ModuleTypeNames[code - 1]);
    return QStringLiteral("UNKNOWN");
}

namespace module {

namespace {

constexpr int PauseAfterWrite = 300; // ms, after every write of the service parameters

reg::Date ReadDate(uint16_t number, const char* refusal) {
    uint16_t w = 0;
    ReadRegister(number, w);
    const reg::Date d = reg::UnpackDate(w);
    if (!reg::IsValidDate(d))
        throw Exception(QString::fromUtf8(refusal));
    return d;
}

// Whether the module itself answered with a refusal (a Modbus exception):
// then it is where the tool talks to it. Silence, a damaged or a foreign
// reply may mean it has moved to its new link.
bool ModuleRefused(const ECommError& e) {
    for (int code = 1; code <= 8; ++code)
        if (e.message() == ECommError::messageFor(code))
            return true;
    return false;
}

// Register 0 at the link in force, or nothing when no answer comes.
std::optional<uint16_t> TrySerial() {
    try {
        uint16_t w = 0;
        ReadRegister(reg::SerialNumber, w);
        return w;
    } catch (const ECommError&) {
        return std::nullopt;
    }
}

// Why a write brought no answer there: the module's refusal (it is where
// the tool talks to it), or no intelligible answer.
struct WriteFailure {
    ECommError error;
    bool refused = false;
};

// Talks to the module wherever it is, and puts the tool's link back at the end.
class Follower {
  public:
    explicit Follower(const LinkParams& start) : start_(start), at_(start), line_(start) {}
    ~Follower() {
        ModuleAddress = static_cast<uint8_t>(start_.address);
        if (line_.baud != start_.baud || line_.parity != start_.parity)
            OpenPort(PortName, BaudRate, ParityIndex);
    }
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    const LinkParams& at() const { return at_; }
    // The links of the last write that brought no answer, in the order tried.
    const std::vector<LinkParams>& silentAt() const { return silentAt_; }

    // Writes at the link in use; when that brings no intelligible answer,
    // at each of `elsewhere` in turn. Nothing when written; the failure when
    // the module refused, or answered nowhere.
    std::optional<WriteFailure> write(uint16_t number, uint16_t value,
                                      const std::vector<LinkParams>& elsewhere) {
        silentAt_.clear();
        std::optional<WriteFailure> failed = tryWrite(number, value);
        if (!failed || failed->refused)
            return failed;
        const WriteFailure first = *failed; // the first silence says most
        silentAt_.push_back(at_);
        for (const LinkParams& there : elsewhere) {
            if (std::find(silentAt_.begin(), silentAt_.end(), there) != silentAt_.end())
                continue;
            if (moveTo(there)) {
                failed = tryWrite(number, value);
                if (!failed || failed->refused)
                    return failed;
            }
            silentAt_.push_back(there);
        }
        return first;
    }

    // Whether the module with `serial` answers at `link`; the tool stays there.
    bool answersAt(const LinkParams& link, uint16_t serial) {
        if (!moveTo(link))
            return false;
        const auto found = TrySerial();
        return found && *found == serial;
    }

    // Registers 257-259 where the tool talks to the module; a register that
    // does not come gives the value of `known`.
    LinkParams readBack(const LinkParams& known, bool& complete) {
        LinkParams held = known;
        complete = true;
        const auto read = [&](uint16_t number, auto take) {
            try {
                uint16_t w = 0;
                ReadRegister(number, w);
                take(w);
            } catch (const ECommError&) {
                complete = false;
            }
        };
        read(reg::OwnAddress, [&](uint16_t w) { held.address = w; });
        read(reg::OwnSpeed, [&](uint16_t w) {
            const int speed = reg::SpeedIndexOfCode(w);
            if (speed >= 0)
                held.baud = reg::Speeds[static_cast<std::size_t>(speed)];
        });
        read(reg::OwnParity, [&](uint16_t w) {
            if (reg::ParityOfWord(w) <= reg::MaxParity)
                held.parity = reg::ParityOfWord(w);
        });
        return held;
    }

  private:
    // Nothing when written; else whether the module itself refused.
    static std::optional<WriteFailure> tryWrite(uint16_t number, uint16_t value) {
        try {
            WriteRegister(number, value);
            return std::nullopt;
        } catch (const ECommError& e) {
            return WriteFailure{e, ModuleRefused(e)};
        }
    }

    bool moveTo(const LinkParams& there) {
        at_ = there;
        ModuleAddress = static_cast<uint8_t>(there.address);
        if (there.baud == line_.baud && there.parity == line_.parity)
            return true;
        line_ = there; // whatever comes of it, the port is no longer at the old link
        return OpenLineAt(PortName, there.baud, static_cast<uint8_t>(there.parity)) == COMM_OK;
    }

    LinkParams start_;
    LinkParams at_;   // where the tool talks to the module
    LinkParams line_; // the speed and parity the port was opened with last
    std::vector<LinkParams> silentAt_;
};

// A word of the passport, as the report of a failed write names it.
struct PassportWord {
    uint16_t number;
    uint16_t value;   // the one written
    const char* name; // "рег. номер"
    const char* ofIt; // "рег. номера"
    bool feminine;    // "новая", "прежняя"
};

QString PassportWordText(uint16_t number, uint16_t word) {
    if (number == reg::SerialNumber)
        return SerialText(word);
    const reg::Date d = reg::UnpackDate(word);
    if (!reg::IsValidDate(d))
        return QStringLiteral("нет даты (%1)").arg(word);
    return QStringLiteral("%1.%2.%3")
        .arg(d.day, 2, 10, QLatin1Char('0'))
        .arg(d.month, 2, 10, QLatin1Char('0'))
        .arg(d.year, 2, 10, QLatin1Char('0'));
}

// After the write of words[failed] failed with `error`: what the module holds
// in each word, read back while it answers, else as far as its answers tell.
QString PassportReport(const std::array<PassportWord, 2>& words, std::size_t failed,
                       const QString& error, const std::array<bool, 2>& acknowledged,
                       const std::array<bool, 2>& sent) {
    QStringList lines;
    bool allNew = true;
    bool answers = true; // no read has failed yet
    for (std::size_t i = 0; i < words.size(); ++i) {
        const PassportWord& w = words[i];
        std::optional<uint16_t> held;
        if (answers) {
            try {
                uint16_t v = 0;
                ReadRegister(w.number, v);
                held = v;
            } catch (const ECommError&) {
                answers = false;
            }
        }
        const QString written = PassportWordText(w.number, w.value);
        QString state;
        if (held) {
            const bool isNew = *held == w.value;
            state = PassportWordText(w.number, *held) + QStringLiteral(", ") +
                    (isNew ? (w.feminine ? QStringLiteral("новая") : QStringLiteral("новый"))
                           : (w.feminine ? QStringLiteral("прежняя") : QStringLiteral("прежний")));
            allNew = allNew && isNew;
        } else {
            allNew = false;
            state = QStringLiteral("прочитать не удалось; ") +
                    (acknowledged[i] ? QStringLiteral("запись %1 модуль подтвердил").arg(written)
                     : sent[i] ? QStringLiteral("неизвестно, принял ли модуль %1").arg(written)
                               : (w.feminine ? QStringLiteral("прежняя, не записывалась")
                                             : QStringLiteral("прежний, не записывался")));
        }
        lines << QStringLiteral("%1 (регистр %2) — %3")
                     .arg(QString::fromUtf8(w.name))
                     .arg(w.number)
                     .arg(state);
    }
    const QString head =
        allNew
            ? QStringLiteral("Модуль не подтвердил запись %1 («%2»), но паспорт записан целиком.")
            : QStringLiteral("Паспорт записан не полностью: при записи %1 — «%2».");
    return head.arg(QString::fromUtf8(words[failed].ofIt), error) +
           QStringLiteral("\nСейчас в модуле:\n") + lines.join(QStringLiteral(";\n")) +
           QStringLiteral(".\nАдрес, скорость и паритет не записывались");
}

// Registers 0 and 1, each with its own unlocks. Throws ECommError when the
// write of register 0 never went out (the passport is as it was), else
// Exception with what the module holds now.
void WritePassport(const ServiceWrite::Passport& p) {
    const reg::Date& d = p.manufactured;
    const std::array<PassportWord, 2> words = {
        PassportWord{reg::SerialNumber, p.serial, "рег. номер", "рег. номера", false},
        PassportWord{reg::ManufactureDate, reg::PackDate(d.day, d.month, d.year),
                     "дата изготовления", "даты изготовления", true}};
    std::array<bool, 2> acknowledged{};
    std::array<bool, 2> sent{};
    for (std::size_t i = 0; i < words.size(); ++i) {
        try {
            WriteRegisterUnlocked(words[i].number, words[i].value, &sent[i]);
        } catch (const ECommError& e) {
            if (i == 0 && !sent[0])
                throw;
            throw Exception(PassportReport(words, i, e.message(), acknowledged, sent));
        }
        acknowledged[i] = true;
        seam::pause(PauseAfterWrite);
    }
}

void SetLink(const LinkParams& link) {
    ModuleAddress = static_cast<uint8_t>(link.address);
    BaudRate = link.baud;
    ParityIndex = static_cast<uint8_t>(link.parity);
}

} // namespace

LinkParams CurrentLink() {
    return {ModuleAddress, BaudRate, ParityIndex};
}

QString LinkText(const LinkParams& link) {
    return QStringLiteral("%1 бод, %2, адрес %3")
        .arg(link.baud)
        .arg(ParityName(link.parity))
        .arg(link.address);
}

QString SerialText(uint16_t serialWord) {
    return RegistrationText(serialWord);
}

void ReadServiceParams(ServiceParams& out) {
    uint16_t w = 0;
    ReadRegister(reg::OwnAddress, w);
    out.address = w;
    ReadRegister(reg::OwnSpeed, w);
    out.speedIndex = reg::SpeedIndexOfCode(w);
    ReadRegister(reg::OwnParity, w);
    out.parity = w & 0xFF;
    ReadRegister(reg::TypeCode, w);
    out.typeCode = w;
    ReadRegister(reg::SerialNumber, w);
    out.serial = w;
    ReadRegister(reg::Version, w);
    out.version = w;
    out.manufactured = ReadDate(reg::ManufactureDate, "Некорректная дата изготовления!");
    out.calibrated = ReadDate(reg::CalibrationDate,
                              "Некорректная дата калибровки!\nВозможно модуль не откалиброван!");
}

void CheckManufactureYear(const reg::Date& made) {
    // The word has 6 bits for the year within the century, and a stored year
    // 00 reads back as no date at all.
    if (made.year < 1 || made.year > reg::MaxPackedYear)
        throw Exception(QStringLiteral("Год изготовления должен быть от 2001 до 2063!"));
}

QString ModuleLinkOutcome::switchQuestion() const {
    QString text = QStringLiteral("Перейти на новые параметры связи (%1)?").arg(LinkText(holds));
    if (movedAlready())
        text += QStringLiteral("\nМодуль уже перешёл на них: если нажать \u00abНет\u00bb, "
                               "программа останется на прежних параметрах связи (%1) и не сможет "
                               "связаться с модулем.")
                    .arg(LinkText(before));
    return text;
}

QString ModuleLinkOutcome::failureReport() const {
    const QString held =
        readBack ? QStringLiteral("В модуле записаны параметры связи %1")
                 : QStringLiteral("По ответам модуля, в нём записаны параметры связи %1");
    QString where = QStringLiteral(", и отвечает он на них.");
    if (answersAt && *answersAt != holds)
        where = QStringLiteral("; отвечает он на %1.").arg(LinkText(*answersAt));
    return QStringLiteral("При записи %1 модуль ответил: \u00ab%2\u00bb.\n")
               .arg(stoppedAt, failure) +
           held.arg(LinkText(holds)) + where;
}

QString ModuleLinkOutcome::silenceQuestion() const {
    QString text = QStringLiteral("Модуль перестал отвечать при записи %1.\n").arg(stoppedAt);
    if (holds == before)
        text += QStringLiteral("Новых параметров связи он не подтвердил.");
    else
        text += QStringLiteral("Он успел принять параметры связи %1.").arg(LinkText(holds));
    QStringList tried;
    for (const LinkParams& link : silentAt)
        tried << LinkText(link);
    text += QStringLiteral(" Ответа нет ни на одном из опробованных наборов параметров связи: ") +
            tried.join(QStringLiteral("; ")) +
            QStringLiteral(".\nПрограмма остаётся на прежних параметрах связи (%1). Найти модуль "
                           "автоматическим поиском по его регистрационному номеру %2 и адресу "
                           "%3?")
                .arg(LinkText(before), SerialText(serial))
                .arg(holds.address);
    return text;
}

ModuleLinkOutcome WriteModuleLink(const LinkParams& target, uint16_t serial) {
    ModuleLinkOutcome o;
    o.before = CurrentLink();
    o.target = target;
    o.serial = serial;

    Follower follow(o.before);
    // What the module has acknowledged so far.
    LinkParams given = o.before;
    const auto step = [&](uint16_t number, uint16_t value, LinkParams next, const QString& what) {
        // Where the module may be when the old link brings no answer: with
        // what it took before (after its answer), or with this value as well
        // (a module that switches before it answers).
        const auto failed = follow.write(number, value, {given, next});
        if (!failed) {
            given = next;
            seam::pause(PauseAfterWrite);
            return true;
        }
        // Silence before anything was changed: the module was never reached.
        if (!failed->refused && given == o.before && follow.silentAt().size() == 1)
            throw failed->error;
        o.failure = failed->error.message();
        o.stoppedAt = what;
        if (failed->refused)
            o.answersAt = follow.at();
        else
            o.silentAt = follow.silentAt();
        return false;
    };
    LinkParams next = given;
    next.address = target.address;
    bool done = step(reg::OwnAddress, static_cast<uint16_t>(target.address), next,
                     QStringLiteral("адреса"));
    next.baud = target.baud;
    done =
        done && step(reg::OwnSpeed, reg::SpeedCode(target.baud), next, QStringLiteral("скорости"));
    next.parity = target.parity;
    done = done && step(reg::OwnParity, static_cast<uint16_t>(target.parity), next,
                        QStringLiteral("паритета"));

    if (done) {
        o.holds = target;
        if (o.linkChanged()) {
            for (const LinkParams& link : {target, o.before})
                if (follow.answersAt(link, serial)) {
                    o.answersAt = link;
                    break;
                }
        } else {
            o.answersAt = o.before;
        }
    } else if (o.answersAt) {
        o.holds = follow.readBack(given, o.readBack);
    } else {
        o.holds = given;
    }
    return o;
}

ModuleLinkOutcome WriteServiceParams(const ServiceWrite& w) {
    uint16_t serial = 0;
    // The passport first, while the link is known to work.
    if (w.passport) {
        CheckManufactureYear(w.passport->manufactured);
        WritePassport(*w.passport);
        serial = w.passport->serial;
    } else if (w.link != CurrentLink()) {
        ReadRegister(reg::SerialNumber, serial);
    }
    return WriteModuleLink(w.link, serial);
}

SwitchResult SwitchToModuleLink(const ModuleLinkOutcome& r, uint16_t* found) {
    const LinkParams old = CurrentLink();
    SetLink(r.holds);
    if (OpenPort(PortName, BaudRate, ParityIndex)) {
        if (const auto serial = TrySerial()) {
            if (found)
                *found = *serial;
            if (*serial == r.serial) {
                SaveLinkSettings();
                return SwitchResult::Switched;
            }
            SetLink(old);
            OpenPort(PortName, BaudRate, ParityIndex);
            return SwitchResult::OtherModule;
        }
    }
    SetLink(old);
    OpenPort(PortName, BaudRate, ParityIndex);
    if (const auto serial = TrySerial()) {
        if (found)
            *found = *serial;
        return SwitchResult::AfterRestart;
    }
    return SwitchResult::NotFound;
}

} // namespace module
