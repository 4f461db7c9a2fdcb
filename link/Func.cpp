#include "Func.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include "FrameLog.h"
#include "LinkStats.h"
#include "PortName.h"
#include "Seam.h"
#include "SettingsFolder.h"

CommEntryPoints Comm;

QString PortName;
int32_t BaudRate = 0;
uint8_t ParityIndex = 0;
uint8_t ModuleAddress = 0;
QString SerialLetter;

std::function<void(const QString&)> LinkStateSink;

namespace {

QString ExecutablePath() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

void LoadError(const QString& text) {
    seam::message(nullptr, text, QStringLiteral("Ошибка!"), seam::Icon::Error);
}

} // namespace

// ---- The communication library

QString CommLibraryPath() {
#if defined(Q_OS_WIN)
    const QString file = QStringLiteral("comm_mb.dll");
#elif defined(Q_OS_MACOS)
    const QString file = QStringLiteral("libcomm_mb.dylib");
#else
    const QString file = QStringLiteral("libcomm_mb.so");
#endif
    return QFileInfo(ExecutablePath()).absoluteDir().filePath(file);
}

bool LoadCommLibrary() {
    return LoadCommLibraryFrom(CommLibraryPath());
}

bool LoadCommLibraryFrom(const QString& path) {
    // Never unloaded: the library owns the open port for the whole run (a
    // QLibrary going away leaves its library loaded).
    static std::vector<std::unique_ptr<QLibrary>> libraries;
    auto* library = libraries.emplace_back(std::make_unique<QLibrary>(path)).get();
    if (!library->load()) {
        libraries.pop_back();
        LoadError(QStringLiteral("Не найдена comm_mb.dll!"));
        return false;
    }
    CommEntryPoints found;
    found.init_comm = reinterpret_cast<init_comm_fn>(library->resolve("init_comm"));
    if (!found.init_comm) {
        LoadError(QStringLiteral("comm_mb.dll не содержит функции init_comm!"));
        return false;
    }
    found.invoke_modb = reinterpret_cast<invoke_modb_fn>(library->resolve("invoke_modb"));
    if (!found.invoke_modb) {
        LoadError(QStringLiteral("comm_mb.dll не содержит функции invoke_modb!"));
        return false;
    }
    found.EnumParameters = reinterpret_cast<EnumParameters_fn>(library->resolve("EnumParameters"));
    if (!found.EnumParameters) {
        LoadError(QStringLiteral("comm_mb.dll не содержит функции EnumParameters!"));
        return false;
    }
    found.scan_read = reinterpret_cast<scan_read_fn>(library->resolve("scan_read"));
    found.listen_start = reinterpret_cast<listen_start_fn>(library->resolve("listen_start"));
    found.listen_read = reinterpret_cast<listen_read_fn>(library->resolve("listen_read"));
    found.listen_stop = reinterpret_cast<listen_stop_fn>(library->resolve("listen_stop"));
    Comm = found;
    // Optional: without it the monitor of the line is off.
    FrameLog::global().bind(reinterpret_cast<read_frames_fn>(library->resolve("read_frames")));
    return true;
}

// ---- Link settings

namespace {

// The folder of the settings files of a program or library in `programFolder`
// (SettingsFolder.h).
QString SettingsFolderOf(const QString& programFolder) {
#if defined(Q_OS_WIN)
    return QDir::fromNativeSeparators(QString::fromStdWString(
        comm::settingsFolder(QDir::toNativeSeparators(programFolder).toStdWString()).wstring()));
#else
    return QFile::decodeName(
        comm::settingsFolder(QFile::encodeName(programFolder).toStdString()).c_str());
#endif
}

} // namespace

QString SettingsFilePath() {
    const QFileInfo exe(ExecutablePath());
    return QDir(SettingsFolderOf(exe.absolutePath()))
        .filePath(exe.completeBaseName() + QStringLiteral(".ini"));
}

QString ProgramFolderSettingsFilePath() {
    const QFileInfo exe(ExecutablePath());
    return exe.absoluteDir().filePath(exe.completeBaseName() + QStringLiteral(".ini"));
}

ProfileFile ToolSettingsFile() {
    return ProfileFile(SettingsFilePath(), ProgramFolderSettingsFilePath());
}

int SerialLetterIndexSetting() {
    const QString letter = SerialLetter.left(1).toUpper();
    if (letter.size() == 1 && letter[0] >= QLatin1Char('A') && letter[0] <= QLatin1Char('Z'))
        return letter[0].unicode() - u'A';
    return -1;
}

QString ParityName(int parity) {
    static const char* const parityNames[] = {"None", "Odd", "Even"};
    // A hand-edited file can hold any parity; it is then shown as "?".
    return parity >= 0 && parity < 3 ? QString::fromLatin1(parityNames[parity])
                                     : QStringLiteral("?");
}

bool IsNetworkPort(const QString& port) {
    return comm::parseNetName(port.toStdString(), nullptr) != comm::NetName::NotNetwork;
}

bool IsGoodNetworkPort(const QString& port) {
    return comm::parseNetName(port.toStdString(), nullptr) == comm::NetName::Good;
}

QString LinkStateText(bool opened) {
    const QString parity = ParityName(ParityIndex);
    const QString state = opened ? QStringLiteral("Открыт ") : QStringLiteral("Закрыт ");
    // Behind a gateway the speed and parity are the gateway's own.
    if (IsNetworkPort(PortName))
        return state + PortName + QStringLiteral("  Адрес ") + QString::number(ModuleAddress);
    return state + PortName + QStringLiteral("  ") +
           QString::number(static_cast<uint32_t>(BaudRate)) + QStringLiteral(" бод ") + parity +
           QStringLiteral(" Адрес ") + QString::number(ModuleAddress);
}

void ShowLinkState(bool opened) {
    if (LinkStateSink)
        LinkStateSink(LinkStateText(opened));
}

int LastOpenError = 0;
QString SerialDeviceRoot = QStringLiteral("/");

namespace {

// Why a connection to a gateway was not made.
QString NetworkFailureReason(int error, const QString& port) {
    comm::NetAddress address;
    if (comm::parseNetName(port.toStdString(), &address) != comm::NetName::Good)
        return QStringLiteral("Сетевой порт записан неверно: %1. Пишите tcp:УЗЕЛ[:ПОРТ] или "
                              "rtu-tcp:УЗЕЛ:ПОРТ, без пробелов, порт от 1 до 65535.")
            .arg(port);
    const QString where = QString::fromStdString(comm::hostAndPort(address));
    switch (error) {
    case ECONNREFUSED:
        return QStringLiteral("Не удалось соединиться с %1: соединение отвергнуто.").arg(where);
    case ETIMEDOUT:
        return QStringLiteral("Не удалось соединиться с %1: шлюз не ответил вовремя.").arg(where);
    case EHOSTUNREACH:
    case ENETUNREACH:
        return QStringLiteral("Не удалось соединиться с %1: узел недоступен.").arg(where);
    case EPROTONOSUPPORT:
        return QStringLiteral("Шлюз Modbus TCP передаёт только ответы на свои запросы: "
                              "прослушать линию можно через прозрачный сервер (rtu-tcp:).");
    case ENOENT:
        return QStringLiteral("Не удалось соединиться с %1: узел «%2» не найден.")
            .arg(where, QString::fromStdString(address.host));
    default: {
        QString text = qt_error_string(error).trimmed();
        while (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        return QStringLiteral("Не удалось соединиться с %1 (ошибка %2: %3).")
            .arg(where)
            .arg(error)
            .arg(text);
    }
    }
}

} // namespace

QString OpenFailureReason(int error) {
    return OpenFailureReason(error, PortName);
}

QString OpenFailureReason(int error, const QString& port) {
    if (error != 0 && IsNetworkPort(port))
        return NetworkFailureReason(error, port);
    switch (error) {
    case 0:
        return QString();
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
        return QStringLiteral(
            "Устройство не найдено: проверьте, подключён ли преобразователь USB–RS-485.");
    case EACCES:
    case EPERM:
        return QStringLiteral("Нет прав доступа к порту: добавьте пользователя в группу dialout "
                              "(sudo usermod -aG dialout $USER) и войдите в систему заново.");
    case EBUSY:
        return QStringLiteral("Порт занят другой программой.");
    case ENOTTY:
        return QStringLiteral("Это не последовательный порт.");
    case EINVAL:
        return QStringLiteral("Порт не поддерживает выбранную скорость или четность.");
    default: {
        // The system's own words, which may end in a full stop of their own.
        QString text = qt_error_string(error).trimmed();
        while (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        return QStringLiteral("Порт не открывается (ошибка %1: %2).").arg(error).arg(text);
    }
    }
}

QString CommSettingsFilePath() {
    // Where the library reads it: by the same rule as the tool's own file,
    // from the library's folder.
    return QDir(SettingsFolderOf(QFileInfo(CommLibraryPath()).absolutePath()))
        .filePath(QStringLiteral("comm_mb.ini"));
}

bool OpenPort(const QString& port, int32_t baud, uint8_t parity) {
    return OpenPortOn(port, port, baud, parity);
}

int32_t OpenLineAt(const QString& port, int32_t baud, uint8_t parity, int* error) {
    const QByteArray name = port.toLocal8Bit();
    errno = 0;
    const int32_t result =
        Comm.init_comm ? Comm.init_comm(name.constData(), baud, parity) : COMM_OPEN_FAILED;
    if (error)
        *error = errno;
    return result;
}

bool OpenPortOn(const QString& port, const QString& device, int32_t baud, uint8_t parity) {
    int error = 0;
    const int32_t result = OpenLineAt(device, baud, parity, &error);
    LastOpenError = result == 0 ? 0 : error;
    LinkStats::global().portOpened(result == 0);
    if (result == 0) {
        ShowLinkState(true);
        return true;
    }
    seam::message(nullptr, QStringLiteral("Невозможно открыть ") + port, QStringLiteral("Ошибка"),
                  seam::Icon::Error);
    ShowLinkState(false);
    return false;
}

// ---- Holding the periodic poll

namespace {
int PollHolds = 0;
} // namespace

PollHold::PollHold() {
    ++PollHolds;
}

PollHold::~PollHold() {
    --PollHolds;
}

bool PollHold::held() {
    return PollHolds > 0;
}

// ---- Register operations

namespace {

// One exchange, repeated at once (no pause, no reopening) until it succeeds
// or three attempts have failed. `prepare`, when given, runs before every
// attempt and may throw: the exchange then counts only the attempts made.
// `called` is set once the library has been called.
void Exchange(uint8_t function, uint16_t first, uint16_t count, uint16_t* buffer,
              const std::function<void()>& prepare = nullptr, bool* called = nullptr) {
    std::optional<CountedExchange> counted;
    int32_t code = COMM_NOT_OPEN;
    for (int attempt = 0; attempt < MaxAttempts; ++attempt) {
        if (prepare)
            prepare();
        if (!counted)
            counted.emplace(first);
        if (!Comm.invoke_modb)
            break;
        if (called)
            *called = true;
        code = counted->call(Comm.invoke_modb, ModuleAddress, function, first, count, buffer);
        if (code == 0)
            return;
    }
    throw ECommError(code);
}

} // namespace

void ReadRegisters(uint16_t first, uint16_t count, uint16_t* buffer) {
    Exchange(3, first, count, buffer);
}

void WriteRegisters(uint16_t first, uint16_t count, const uint16_t* buffer) {
    // The library takes a writable buffer; it gets a copy of ours.
    std::vector<uint16_t> copy(buffer, buffer + (buffer ? count : 0));
    Exchange(16, first, count, buffer ? copy.data() : nullptr);
}

void ReadRegister(uint16_t number, uint16_t& value) {
    uint16_t word = 0;
    ReadRegisters(number, 1, &word);
    value = word;
}

void WriteRegister(uint16_t number, uint32_t value) {
    const uint16_t word = static_cast<uint16_t>(value & 0xFFFF);
    WriteRegisters(number, 1, &word);
}

void WriteRegistersUnlocked(uint16_t first, uint16_t count, const uint16_t* buffer, bool* sent) {
    // The module takes one protected write per unlock, also one whose reply
    // was lost on the way: so every attempt has an unlock of its own. The
    // unlock is a whole WriteRegister, and its failure ends the write.
    if (sent)
        *sent = false;
    std::vector<uint16_t> copy(buffer, buffer + (buffer ? count : 0));
    Exchange(
        16, first, count, buffer ? copy.data() : nullptr,
        [] { WriteRegister(reg::Unlock, UnlockKey); }, sent);
}

void WriteRegisterUnlocked(uint16_t number, uint32_t value, bool* sent) {
    const uint16_t word = static_cast<uint16_t>(value & 0xFFFF);
    WriteRegistersUnlocked(number, 1, &word, sent);
}

// ---- The bus scan's look at one address

bool QuickLooks() {
    return Comm.scan_read != nullptr;
}

int32_t ScanLook(uint8_t address, uint16_t first, uint16_t count, uint16_t* words, bool patient,
                 uint8_t* other) {
    CountedExchange counted(first, LinkStats::global(), ExchangeKind::ScanLook);
    if (Comm.scan_read)
        return counted.call(Comm.scan_read, address, first, count, words,
                            static_cast<uint8_t>(patient ? 1 : 0), other);
    // Today's exchange: up to three attempts, each with the full time-out.
    int32_t code = COMM_NOT_OPEN;
    for (int attempt = 0; attempt < MaxAttempts && Comm.invoke_modb; ++attempt) {
        code = counted.call(Comm.invoke_modb, address, uint8_t{3}, first, count, words);
        if (code == COMM_OK)
            break;
    }
    return code;
}

// ---- The automatic search

int32_t SearchLine(const QString& port, uint16_t typeCode, uint16_t serial, int32_t address,
                   int32_t& baud, uint8_t& parity, int& error) {
    const QByteArray name = port.toLocal8Bit();
    errno = 0;
    const int32_t code = Comm.EnumParameters ? Comm.EnumParameters(name.constData(), typeCode,
                                                                   serial, address, &baud, &parity)
                                             : COMM_NOT_OPEN;
    error = errno;
    FrameLog::global().pull(); // a long search's frames before the library's ring forgets them
    return code;
}
