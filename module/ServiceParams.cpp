#include "ServiceParams.h"

#include <QList>
#include <vector>

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

    // Writes at the link in use; when that brings no intelligible answer,
    // at each of `elsewhere` in turn. Throws when the module answers nowhere.
    void write(uint16_t number, uint16_t value, const std::vector<LinkParams>& elsewhere,
               const QString& what) {
        std::optional<ECommError> silence;
        if (tryWrite(number, value, silence))
            return;
        const ECommError first = *silence;
        std::optional<LinkParams> tried;
        for (const LinkParams& there : elsewhere) {
            if (there == at_ || there == tried)
                continue;
            tried = there;
            if (moveTo(there) && tryWrite(number, value, silence))
                return;
        }
        if (!tried) // nothing has moved: an ordinary failure
            throw first;
        throw Exception(
            QStringLiteral("Модуль перестал отвечать при записи %1: нет ответа ни на прежних "
                           "параметрах связи (%2), ни на новых (%3).\nПараметры связи программы "
                           "не изменены. Проверьте подключение и питание модуля; если он так и "
                           "не ответит, найдите его автоматическим поиском (\u00abПорт\u00bb "
                           "\u2192 \u00abНастройки...\u00bb).")
                .arg(what, LinkText(start_), LinkText(*tried)));
    }

  private:
    // True when written; false with the error when no intelligible answer
    // came. A refusal by the module is thrown on.
    static bool tryWrite(uint16_t number, uint16_t value, std::optional<ECommError>& silence) {
        try {
            WriteRegister(number, value);
            return true;
        } catch (const ECommError& e) {
            if (ModuleRefused(e))
                throw;
            silence = e;
            return false;
        }
    }

    bool moveTo(const LinkParams& there) {
        ModuleAddress = static_cast<uint8_t>(there.address);
        if (there.baud != line_.baud || there.parity != line_.parity) {
            if (!Comm.init_comm)
                return false;
            line_ = there; // whatever comes of it, the port is no longer at the old link
            if (Comm.init_comm(PortName.toLocal8Bit().constData(), there.baud,
                               static_cast<uint8_t>(there.parity)) != 0)
                return false;
        }
        at_ = there;
        return true;
    }

    LinkParams start_;
    LinkParams at_;   // where the module answered last
    LinkParams line_; // the speed and parity the port was opened with last
};

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
    const int letter = reg::SerialLetterIndex(serialWord);
    const QString prefix =
        letter >= 0 && letter < 26 ? QString(QLatin1Char(char('A' + letter))) : QString();
    return prefix +
           QStringLiteral("%1").arg(reg::SerialNumberPart(serialWord), 4, 10, QLatin1Char('0'));
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

WriteResult WriteServiceParams(const ServiceWrite& w) {
    WriteResult r;
    r.before = CurrentLink();
    r.written = w.link;

    // The passport first, while the link is known to work.
    if (w.passport) {
        CheckManufactureYear(w.passport->manufactured);
        const reg::Date& d = w.passport->manufactured;
        WriteRegisterUnlocked(reg::SerialNumber, w.passport->serial);
        seam::pause(PauseAfterWrite);
        WriteRegisterUnlocked(reg::ManufactureDate, reg::PackDate(d.day, d.month, d.year));
        seam::pause(PauseAfterWrite);
        r.serial = w.passport->serial;
    } else if (r.linkChanged()) {
        ReadRegister(reg::SerialNumber, r.serial);
    }

    Follower follow(r.before);
    // What the module has been given so far.
    LinkParams given = r.before;
    const auto step = [&](uint16_t number, uint16_t value, LinkParams next, const QString& what) {
        // Where the module may be when the old link brings no answer: with
        // what it took before (after its answer), or with this value as well
        // (a module that switches before it answers).
        follow.write(number, value, {given, next}, what);
        given = next;
        seam::pause(PauseAfterWrite);
    };
    LinkParams next = given;
    next.address = w.link.address;
    step(reg::OwnAddress, static_cast<uint16_t>(w.link.address), next, QStringLiteral("адреса"));
    next.baud = w.link.baud;
    step(reg::OwnSpeed, reg::SpeedCode(w.link.baud), next, QStringLiteral("скорости"));
    next.parity = w.link.parity;
    step(reg::OwnParity, static_cast<uint16_t>(w.link.parity), next, QStringLiteral("паритета"));
    return r;
}

SwitchResult SwitchToModuleLink(const WriteResult& r, uint16_t* found) {
    const LinkParams old = CurrentLink();
    SetLink(r.written);
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
