#include "LinkSettings.h"

#include "Func.h"
#include "Profile.h"

namespace {

const QString PortSection = QStringLiteral("Port");

} // namespace

// ---- Reading at start-up

void ReadLinkSettings(const ProfileFile& ini) {
    PortName = ini.readString(PortSection, QStringLiteral("Name"), QStringLiteral("COM1"));
    BaudRate = ini.readInteger(PortSection, QStringLiteral("Baud"), reg::FactoryBaud, LinkSpeeds());
    ParityIndex = static_cast<uint8_t>(ini.readInteger(PortSection, QStringLiteral("Parity"),
                                                       reg::FactoryParity, 0, reg::MaxParity));
    SerialLetter =
        ini.readString(QStringLiteral("Alpha"), QStringLiteral("Alpha"), QStringLiteral("A"));
}

QList<int32_t> LinkSpeeds() {
    QList<int32_t> speeds{1200};
    for (int baud : reg::Speeds)
        speeds << baud;
    return speeds;
}

void CheckCommSettings() {
    const ProfileFile file(CommSettingsFilePath());
    const std::pair<const char*, ResponseAllowanceMs> keys[] = {
        {"ResponseTimeout", ResponseAllowanceBounds()},
        {"NetworkAllowance", NetworkAllowanceBounds()},
        {"ConnectTimeout", ConnectTimeoutBounds()}};
    for (const auto& [key, bounds] : keys)
        file.readInteger(QStringLiteral("Link"), QString::fromLatin1(key), bounds.fallback,
                         bounds.least, bounds.most);
}

// ---- The device of a COM port

PortEntries StoredPortEntries() {
    return PortEntriesIn(CommSettingsFilePath());
}

PortTarget PortTargetWith(int com, const std::optional<PortMapEntry>& entry,
                          const std::vector<SerialDevice>& present) {
    PortEntries entries = StoredPortEntries();
    if (entry && entry->device.isEmpty())
        entries.erase(com);
    else if (entry)
        entries[com] = entry->device.toLocal8Bit().toStdString();
    return ComTarget(com, entries, present);
}

QString PortToOpen(const QString& port, const std::optional<PortMapEntry>& entry,
                   const std::vector<SerialDevice>& present) {
    if (!entry)
        return port;
    const PortTarget target = PortTargetWith(entry->com, entry, present);
    return target.device ? QString::fromLocal8Bit(target.device->c_str()) : QString();
}

// ---- Saving

void SaveLinkSettings(const std::optional<QString>& letter) {
    // One save of all the keys: a crash leaves the old settings or the new.
    QList<ProfileFile::Entry> keys{
        {PortSection, QStringLiteral("Name"), PortName},
        {PortSection, QStringLiteral("Baud"), QString::number(BaudRate)},
        {PortSection, QStringLiteral("Parity"), QString::number(ParityIndex)},
        {QStringLiteral("Station"), QStringLiteral("Address"), QString::number(ModuleAddress)}};
    if (letter)
        keys.append({QStringLiteral("Alpha"), QStringLiteral("Alpha"), *letter});
    ToolSettingsFile().write(keys);
}

void TakeOverLinkChoice(const LinkChoice& choice) {
    PortName = choice.port;
    BaudRate = choice.baud;
    ParityIndex = choice.parity;
    ModuleAddress = choice.address;
    ShowLinkState(true);

    SaveLinkSettings(choice.letter);
    if (choice.letter)
        SerialLetter = *choice.letter;
    if (choice.device)
        ProfileFile(CommSettingsFilePath())
            .writeString(QStringLiteral("Ports"), QStringLiteral("COM%1").arg(choice.device->com),
                         choice.device->device);
}

// ---- The automatic search

SearchOutcome SearchOutcome::of(int32_t code, int32_t baud, uint8_t parity, int error) {
    SearchOutcome o;
    switch (code) {
    case COMM_OK:
        o.kind = Kind::Found;
        o.baud = baud;
        o.parity = parity;
        break;
    case COMM_NO_REPLY:
        o.kind = Kind::NotFound;
        break;
    case COMM_BAD_CRC:
        o.kind = Kind::BadCrc;
        break;
    case COMM_OPEN_FAILED:
        o.kind = Kind::OpenFailed;
        o.openError = error;
        break;
    default:
        break;
    }
    return o;
}

QString SearchOutcome::message() const {
    switch (kind) {
    case Kind::NotFound:
        return QStringLiteral("Модуль не найден!");
    case Kind::BadCrc:
        return QStringLiteral("Ошибка CRC!\n Возможно просто сбой!\nПовторите попытку!");
    default:
        return QString();
    }
}

QString SearchOutcome::reason() const {
    if (kind != Kind::OpenFailed)
        return QString();
    return port.isEmpty() ? OpenFailureReason(openError) : OpenFailureReason(openError, port);
}

QString SearchNote(const QString& port) {
    if (!IsNetworkPort(port))
        return QString();
    if (port.startsWith(QStringLiteral("tcp:"), Qt::CaseInsensitive))
        return QStringLiteral("Через шлюз Modbus TCP скорость и чётность линии задаёт шлюз: "
                              "они не подбираются, модуль ищется только по адресу.");
    return QStringLiteral("Через прозрачный сервер скорость не подбирается: модуль ищется "
                          "только по адресу. Скорость и чётность линии задайте в настройках "
                          "шлюза такими же, как у модуля.");
}

SearchOutcome SearchModule(const QString& port, uint16_t serial, int32_t address) {
    int32_t baud = 0;
    uint8_t parity = 0;
    int error = 0;
    const int32_t code = SearchLine(port, reg::TypeQS730, serial, address, baud, parity, error);
    SearchOutcome outcome = SearchOutcome::of(code, baud, parity, error);
    outcome.port = port;
    return outcome;
}
