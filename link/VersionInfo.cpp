#include "VersionInfo.h"

#include <QStringList>
#include <utility>

#ifdef _WIN32
#include <string>
#include <windows.h>
#endif

namespace {

template <class Map>
auto FindNoCase(const Map& map, const QString& name) -> typename Map::const_iterator {
    for (auto it = map.begin(); it != map.end(); ++it)
        if (it->first.compare(name, Qt::CaseInsensitive) == 0)
            return it;
    return map.end();
}

} // namespace

VersionInfo::VersionInfo(Blocks blocks) : blocks_(std::move(blocks)) {}

#ifdef _WIN32

std::optional<VersionInfo> VersionInfo::ofRunningProgram() {
    // Wide all the way: the resource holds its strings in UTF-16, and the ANSI
    // calls would put them through the system's code page (no Cyrillic on a
    // Western Windows).
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::nullopt;
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0)
        return std::nullopt;
    VersionInfo info;
    info.resource_.resize(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, info.resource_.data()))
        return std::nullopt;
    return info;
}

#else

std::optional<VersionInfo> VersionInfo::ofRunningProgram() {
    return VersionInfo(BuiltInVersionBlocks());
}

#endif

std::optional<QString> VersionInfo::query(const QString& path) const {
#ifdef _WIN32
    if (!resource_.empty()) {
        void* value = nullptr;
        UINT length = 0; // in characters, with the terminating zero
        const std::wstring sub = path.toStdWString();
        if (!VerQueryValueW(resource_.data(), sub.c_str(), &value, &length) || !value)
            return std::nullopt;
        const auto* text = static_cast<const wchar_t*>(value);
        qsizetype n = 0;
        while (n < static_cast<qsizetype>(length) && text[n] != L'\0')
            ++n;
        return QString::fromWCharArray(text, n);
    }
#endif
    QStringList parts = path.split(QLatin1Char('\\'));
    if (!parts.isEmpty() && parts.first().isEmpty())
        parts.removeFirst();
    if (parts.size() != 3 ||
        parts[0].compare(QLatin1String("StringFileInfo"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const auto block = FindNoCase(blocks_, parts[1]);
    if (block == blocks_.end())
        return std::nullopt;
    const auto key = FindNoCase(block->second, parts[2]);
    if (key == block->second.end())
        return std::nullopt;
    return key->second;
}

std::optional<QString> VersionInfo::value(const QString& key) const {
    return query(QStringLiteral("\\StringFileInfo\\") + Block + QLatin1Char('\\') + key);
}

QString ProgramNameAndVersion() {
    const auto info = VersionInfo::ofRunningProgram();
    const auto value = [&](const char* key) {
        return info ? info->value(QLatin1String(key)).value_or(QString()) : QString();
    };
    return (value("ProductName") + QLatin1Char(' ') + value("FileVersion")).trimmed();
}
