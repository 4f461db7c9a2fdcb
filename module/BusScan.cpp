#include "BusScan.h"

#include <algorithm>

#include "Csv.h"
#include "Errors.h"
#include "Func.h"
#include "ServiceParams.h"

namespace bus {

namespace {

constexpr int Addresses = reg::MaxAddress;
// Patient looks at an address before the scan takes its result (the fast
// scan; today's exchanges make three attempts each by themselves).
constexpr int PatientTries = 3;

bool IsException(int32_t code) {
    return code >= 1 && code <= 11; // what the library passes on of a slave's exception
}

bool IsGarbled(int32_t code) {
    return code == COMM_BAD_CRC || code == COMM_BAD_REPLY || code == COMM_WRONG_SLAVE;
}

// Worth another look: nothing, or nothing intact, came.
bool Unclear(int32_t code) {
    return code == COMM_NO_REPLY || IsGarbled(code);
}

QString OrDash(const std::optional<uint16_t>& v, QString (*text)(uint16_t)) {
    return v ? text(*v) : QStringLiteral("—");
}

} // namespace

QString SettingText(const LineSetting& s) {
    return QStringLiteral("%1 бод, %2").arg(s.baud).arg(ParityName(s.parity));
}

std::vector<LineSetting> AllSettings(const LineSetting& present) {
    std::vector<LineSetting> v;
    const auto add = [&v](const LineSetting& s) {
        if (std::find(v.begin(), v.end(), s) == v.end())
            v.push_back(s);
    };
    add({reg::FactoryBaud, reg::FactoryParity});
    if (present.parity <= reg::MaxParity)
        add(present);
    for (int32_t baud : {19200, 9600, 115200, 38400, 57600, 4800, 2400, 28800})
        for (uint8_t parity : {uint8_t{2}, uint8_t{0}, uint8_t{1}})
            add({baud, parity});
    return v;
}

std::optional<State> StateOf(int32_t code, uint16_t typeCode) {
    if (code == COMM_OK)
        return typeCode == reg::TypeQS730 ? State::Answers : State::OtherType;
    if (IsException(code))
        return State::Exception;
    if (IsGarbled(code))
        return State::Garbled;
    return std::nullopt;
}

QString ScanStopper(int32_t code, const QString& port) {
    if (code == COMM_OK || code == COMM_NO_REPLY || StateOf(code, 0))
        return QString();
    if (code == COMM_NOT_OPEN)
        return QStringLiteral("Порт %1 не открыт: поиск модулей невозможен. Откройте порт в "
                              "окне «Порт» → «Настройки...»")
            .arg(port);
    if (code == COMM_IO_ERROR)
        return QStringLiteral("Связь с портом %1 потеряна: поиск модулей остановлен.\n"
                              "Проверьте преобразователь USB–RS-485")
            .arg(port);
    return ECommError::messageFor(code);
}

// ---- One row

bool Found::ownLinkDiffers() const {
    if (!ownAddress || !ownSpeedCode || !ownParity)
        return false;
    return *ownAddress != address || reg::SpeedCode(at.baud) != *ownSpeedCode ||
           reg::ParityOfWord(*ownParity) != at.parity;
}

QString Found::stateText() const {
    const QString moved =
        ownLinkDiffers() ? QStringLiteral("; в модуле записаны другие параметры связи") : QString();
    switch (state) {
    case State::Answers:
        return QStringLiteral("отвечает") + moved;
    case State::OtherType:
        return QStringLiteral("модуль другого типа") + moved;
    case State::Exception:
        return QStringLiteral("отвечает исключением %1: %2")
            .arg(exception)
            .arg(ECommError::messageFor(exception));
    case State::Garbled:
        break;
    }
    return QStringLiteral("искажённые ответы (возможно, два модуля с одним адресом или помехи)");
}

QStringList FoundColumns() {
    return {QStringLiteral("Адрес"),
            QStringLiteral("Скорость"),
            QStringLiteral("Четность"),
            QStringLiteral("Рег. номер"),
            QStringLiteral("Тип"),
            QStringLiteral("Версия"),
            QStringLiteral("Адрес в модуле"),
            QStringLiteral("Скорость в модуле"),
            QStringLiteral("Четность в модуле"),
            QStringLiteral("Состояние")};
}

QStringList Found::fields() const {
    const auto number = [](uint16_t v) { return QString::number(v); };
    return {QString::number(address),
            QString::number(at.baud),
            ParityName(at.parity),
            OrDash(serial, module::SerialText),
            OrDash(typeCode,
                   [](uint16_t v) { return ModuleTypeName(v) + QStringLiteral(" (%1)").arg(v); }),
            OrDash(version, [](uint16_t v) { return QString::fromStdString(reg::VersionText(v)); }),
            OrDash(ownAddress, number),
            OrDash(ownSpeedCode,
                   [](uint16_t v) {
                       const int i = reg::SpeedIndexOfCode(v);
                       return i >= 0 ? QString::number(reg::Speeds[static_cast<size_t>(i)])
                                     : QStringLiteral("код %1").arg(v);
                   }),
            OrDash(ownParity, [](uint16_t v) { return ParityName(reg::ParityOfWord(v)); }),
            stateText()};
}

QByteArray FoundCsv(const std::vector<Found>& found) {
    const auto line = [](const QStringList& fields) {
        QByteArray out;
        for (const QString& f : fields)
            out += (out.isEmpty() ? QByteArray() : QByteArray(1, csv::Separator)) + csv::Field(f);
        return out + csv::LineEnd;
    };
    QByteArray out = csv::Bom + line(FoundColumns());
    for (const Found& f : found)
        out += line(f.fields());
    return out;
}

QString FoundText(const std::vector<Found>& found, const QString& title) {
    QString out =
        title + QLatin1Char('\n') + FoundColumns().join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (const Found& f : found)
        out += f.fields().join(QLatin1Char('\t')) + QLatin1Char('\n');
    return out;
}

// ---- The scan

BusScan::BusScan(const Options& options) : options_(options) {
    const LineSetting present{BaudRate, ParityIndex};
    // Behind a gateway the line runs at the gateway's settings, whatever the
    // tool opens it at: one pass is all there is to look at.
    const bool sweep = options.allSettings && !IsNetworkPort(PortName);
    settings_ = sweep ? AllSettings(present) : std::vector<LineSetting>{present};
    settingOpen_ = !sweep; // the link's own setting is open already
}

BusScan::~BusScan() {
    finish();
}

bool BusScan::Fast() {
    return QuickLooks();
}

LineSetting BusScan::setting() const {
    return settings_[std::min<size_t>(static_cast<size_t>(settingIndex_), settings_.size() - 1)];
}

double BusScan::fraction() const {
    const double done = settingIndex_ + (address_ - 1) / static_cast<double>(Addresses);
    return std::min(1.0, done / static_cast<double>(settings_.size()));
}

int BusScan::answered() const {
    return static_cast<int>(std::count_if(
        found_.begin(), found_.end(), [](const Found& f) { return f.state != State::Garbled; }));
}

bool BusScan::enoughFound() const {
    return options_.expected > 0 && !identity_ && answered() >= options_.expected;
}

bool BusScan::step() {
    if (!running_)
        return false;
    if (!settingOpen_) {
        if (!openSetting())
            nextSetting();
    } else if (identity_) {
        identityStep();
    } else if (address_ <= Addresses) {
        quickStep();
    } else if (!recheck_.empty()) {
        recheckStep();
    } else {
        nextSetting();
    }
    if (running_ && enoughFound()) {
        stoppedEarly_ = true;
        finish();
    }
    return running_;
}

void BusScan::stop() {
    if (running_)
        stoppedEarly_ = true;
    finish();
}

void BusScan::finish() {
    if (!running_)
        return;
    running_ = false;
    if (reopened_)
        OpenPort(PortName, BaudRate, ParityIndex); // back to the tool's link
}

void BusScan::fail(const QString& message) {
    stoppedEarly_ = true;
    finish();
    throw Exception(message);
}

BusScan::Look BusScan::look(int address, uint16_t first, uint16_t count, uint16_t* words,
                            bool patient) {
    Look l;
    l.code = ScanLook(static_cast<uint8_t>(address), first, count, words, patient, &l.other);
    return l;
}

// Returns false when the port cannot run at this setting (it is skipped).
bool BusScan::openSetting() {
    const LineSetting s = settings_[static_cast<size_t>(settingIndex_)];
    reopened_ = true;
    int error = 0;
    const int32_t rc = OpenLineAt(PortName, s.baud, s.parity, &error);
    if (rc == COMM_OK) {
        settingOpen_ = true;
        address_ = 1;
        return true;
    }
    if (rc == COMM_BAD_PARAMETER || error == EINVAL)
        return false;
    const QString reason = OpenFailureReason(error);
    fail(QStringLiteral("Поиск модулей остановлен: порт %1 не открывается").arg(PortName) +
         (reason.isEmpty() ? QString() : QStringLiteral(".\n") + reason));
}

void BusScan::nextSetting() {
    ++settingIndex_;
    settingOpen_ = false;
    address_ = 1;
    recheck_.clear();
    recheckTries_ = 0;
    if (settingIndex_ >= settingCount())
        finish();
}

void BusScan::quickStep() {
    uint16_t words[2] = {};
    const int a = address_;
    // The last look waits the full allowance: late replies to the looks
    // before it come meanwhile.
    const Look l = look(a, reg::TypeCode, 2, words, a == Addresses);
    ++address_;
    if (Fast() && Unclear(l.code) && l.code != COMM_NO_REPLY) {
        heard(a, {COMM_NO_REPLY, l.other}, words);
        recheck_.insert(a); // damaged: a patient look decides
        return;
    }
    heard(a, l, words);
}

void BusScan::recheckStep() {
    const int a = *recheck_.begin();
    if (a != recheckAddress_) {
        recheckAddress_ = a;
        recheckTries_ = 0;
    }
    uint16_t words[2] = {};
    const Look l = look(a, reg::TypeCode, 2, words, true);
    if (Unclear(l.code) && ++recheckTries_ < PatientTries) {
        heard(a, {COMM_NO_REPLY, l.other}, words);
        return;
    }
    recheck_.erase(recheck_.begin());
    recheckTries_ = 0;
    heard(a, l, words);
}

// A reply from another address heard meanwhile brings that address back for
// a patient look; a failed port ends the scan.
void BusScan::noteOther(int address, const Look& l) {
    if (l.other >= 1 && l.other <= Addresses && l.other != address && !foundHere(l.other))
        recheck_.insert(l.other);
    if (const QString stop = ScanStopper(l.code, PortName); !stop.isEmpty())
        fail(stop);
}

bool BusScan::foundHere(int address) const {
    return std::any_of(found_.begin(), found_.end(), [this, address](const Found& f) {
        return f.address == address && f.settingIndex == settingIndex_;
    });
}

// What the look at `address` for its type and version found.
void BusScan::heard(int address, const Look& l, const uint16_t* words) {
    noteOther(address, l);
    const auto state = StateOf(l.code, words[0]);
    if (!state || foundHere(address))
        return;
    Found f;
    f.address = address;
    f.at = setting();
    f.settingIndex = settingIndex_;
    f.state = *state;
    if (l.code == COMM_OK) {
        f.typeCode = words[0];
        f.version = words[1];
    } else if (*state == State::Exception) {
        f.exception = l.code;
    }
    recheck_.erase(address);
    add(f);
}

void BusScan::add(Found f) {
    const auto before = std::find_if(found_.begin(), found_.end(), [&f](const Found& g) {
        return std::pair(g.settingIndex, g.address) > std::pair(f.settingIndex, f.address);
    });
    const bool identify = f.typeCode.has_value();
    const auto row = found_.insert(before, std::move(f));
    if (identify) {
        identity_ = static_cast<size_t>(row - found_.begin());
        identityPart_ = 0;
        identityTries_ = 0;
    }
}

// The registration number, then the module's own address, speed and parity.
void BusScan::identityStep() {
    Found& f = found_[*identity_];
    uint16_t words[3] = {};
    const bool serialPart = identityPart_ == 0;
    const Look l = serialPart ? look(f.address, reg::SerialNumber, 1, words, true)
                              : look(f.address, reg::OwnAddress, 3, words, true);
    noteOther(f.address, l);
    if (l.code == COMM_OK && serialPart) {
        f.serial = words[0];
    } else if (l.code == COMM_OK) {
        f.ownAddress = words[0];
        f.ownSpeedCode = words[1];
        f.ownParity = words[2];
    } else if (Fast() && Unclear(l.code) && ++identityTries_ < PatientTries) {
        return;
    }
    identityTries_ = 0;
    if (++identityPart_ < 2)
        return;
    const size_t row = *identity_;
    identity_.reset();
    dropRepeat(row);
}

// A module found again at another setting (one whose parity it tolerates)
// stays in the list once: where its own link says it is, else where it was
// found first.
void BusScan::dropRepeat(size_t row) {
    const Found& f = found_[row];
    for (size_t i = 0; i < found_.size(); ++i) {
        const Found& g = found_[i];
        if (i == row || g.address != f.address || !g.serial || g.serial != f.serial)
            continue;
        const bool keepNew = !f.ownLinkDiffers() && g.ownLinkDiffers();
        found_.erase(found_.begin() + static_cast<std::ptrdiff_t>(keepNew ? i : row));
        return;
    }
}

} // namespace bus
