#include "VersionInfo.h"

#include <QStringList>
#include <utility>

#ifdef _WIN32
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
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::nullopt;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return std::nullopt;
    VersionInfo info;
    info.resource_.resize(size);
    if (!GetFileVersionInfoA(path, 0, size, info.resource_.data()))
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
        UINT length = 0;
        const QByteArray sub = path.toLocal8Bit();
        if (!VerQueryValueA(resource_.data(), sub.constData(), &value, &length) || !value)
            return std::nullopt;
        // A string value's length counts its terminating zero.
        const auto* text = static_cast<const char*>(value);
        return length > 0 ? QString::fromLocal8Bit(text, qstrnlen(text, length)) : QString();
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
