#include "SerialDevices.h"

#include "IniText.h"
#include "PortName.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace comm {

namespace fs = std::filesystem;

PortEntries portEntries(const fs::path& iniFile) {
    PortEntries entries;
    if (iniFile.empty()) {
        return entries;
    }
    std::ifstream in(iniFile, std::ios::binary);
    const std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto lines = ini::splitLines(data);
    const auto section = ini::findSection(data, lines, "Ports");
    if (!section) {
        return entries;
    }
    for (size_t i = section->header + 1; i < section->end; ++i) {
        const ini::Line line = ini::parseLine(ini::lineText(data, lines[i]));
        const int n = line.kind == ini::LineKind::Key ? comNumberOf(line.name) : 0;
        if (n > 0 && !line.value.empty()) {
            entries.emplace(n, resolveEntry(std::string(line.value), iniFile));
        }
    }
    return entries;
}

namespace {

// Whether `path` names the device `d` (by its path, its node, or a link).
bool isDevice(const SerialDevice& d, const std::string& path) {
    std::error_code ec;
    return path == d.path || path == d.node || fs::equivalent(path, d.node, ec);
}

} // namespace

const SerialDevice* findDevice(const std::vector<SerialDevice>& present, const std::string& path) {
    for (const SerialDevice& d : present) {
        if (isDevice(d, path)) {
            return &d;
        }
    }
    return nullptr;
}

PortTarget comTarget(int n, const PortEntries& entries, const std::vector<SerialDevice>& present) {
    if (const auto entry = entries.find(n); entry != entries.end()) {
        return {entry->second, true};
    }
    // Deal the devices no entry names to the COM numbers no entry takes.
    std::vector<const SerialDevice*> free;
    for (const SerialDevice& d : present) {
        const bool named = std::any_of(entries.begin(), entries.end(), [&](const auto& entry) {
            return isDevice(d, entry.second);
        });
        if (!named) {
            free.push_back(&d);
        }
    }
    size_t index = 0;
    for (int k = 1; k < n; ++k) {
        index += entries.count(k) == 0 ? 1 : 0;
    }
    if (index < free.size()) {
        return {free[index]->path, false};
    }
    return {std::nullopt, false};
}

} // namespace comm
