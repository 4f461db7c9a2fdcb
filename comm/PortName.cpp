#include "PortName.h"

#include "SerialDevices.h"

#include <fstream>
#include <iterator>

#include "IniText.h"
#include "SettingsFolder.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace comm {

namespace {

// n of "COMn", or 0 when `name` is not such a name.
int comNumber(std::string_view name) {
    if (name.size() < 4 || name.size() > 6 || !ini::sameName(name.substr(0, 3), "COM")) {
        return 0;
    }
    int n = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9') {
            return 0;
        }
        n = n * 10 + (c - '0');
    }
    return n <= 255 ? n : 0;
}

bool startsWithName(std::string_view name, std::string_view prefix) {
    return name.size() >= prefix.size() && ini::sameName(name.substr(0, prefix.size()), prefix);
}

bool hostSign(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

// 1..65535 written in decimal digits alone.
bool portNumber(std::string_view text, uint16_t& port) {
    if (text.empty() || text.size() > 5)
        return false;
    unsigned n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (n < 1 || n > 65535)
        return false;
    port = static_cast<uint16_t>(n);
    return true;
}

} // namespace

NetName parseNetName(std::string_view name, NetAddress* address) {
    NetAddress a;
    std::string_view rest;
    if (startsWithName(name, "rtu-tcp:")) {
        a.kind = NetKind::RtuTcp;
        rest = name.substr(8);
    } else if (startsWithName(name, "tcp:")) {
        a.kind = NetKind::ModbusTcp;
        rest = name.substr(4);
    } else {
        return NetName::NotNetwork;
    }
    const auto colon = rest.find(':');
    const std::string_view host = rest.substr(0, colon);
    if (host.empty())
        return NetName::Bad;
    for (char c : host) {
        if (!hostSign(c))
            return NetName::Bad;
    }
    if (colon == std::string_view::npos) {
        if (a.kind == NetKind::RtuTcp)
            return NetName::Bad; // a serial server has no port of its own kind
        a.port = ModbusTcpPort;
    } else if (!portNumber(rest.substr(colon + 1), a.port)) {
        return NetName::Bad;
    }
    a.host = std::string(host);
    if (address != nullptr)
        *address = std::move(a);
    return NetName::Good;
}

std::string hostAndPort(const NetAddress& address) {
    return address.host + ":" + std::to_string(address.port);
}

std::string netName(const NetAddress& address) {
    return (address.kind == NetKind::RtuTcp ? "rtu-tcp:" : "tcp:") + hostAndPort(address);
}

std::optional<std::string> readIniValue(const std::filesystem::path& iniFile,
                                        std::string_view section, std::string_view key) {
    if (iniFile.empty()) {
        return std::nullopt;
    }
    std::ifstream in(iniFile, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    const std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        return std::nullopt;
    }
    const auto value = ini::findValue(data, section, key);
    if (!value) {
        return std::nullopt;
    }
    return std::string(*value);
}

std::optional<int32_t> readIniInteger(const std::filesystem::path& iniFile,
                                      std::string_view section, std::string_view key) {
    const auto text = readIniValue(iniFile, section, key);
    return text ? ini::integer(*text) : std::nullopt;
}

std::string resolveEntry(const std::string& value, const std::filesystem::path& iniFile) {
#if defined(_WIN32)
    if (const int m = comNumber(value); m > 0) {
        return "\\\\.\\COM" + std::to_string(m);
    }
    // A device or network name ("\\.\COM9") is no path beside the file.
    if (value.rfind("\\\\", 0) == 0) {
        return value;
    }
#endif
    // A relative path means a file beside this settings file, wherever the
    // program was started from.
    const std::filesystem::path device(value);
    if (device.is_relative() && !iniFile.parent_path().empty()) {
        return (iniFile.parent_path() / device).string();
    }
    return value;
}

int comNumberOf(std::string_view name) {
    return comNumber(name);
}

std::optional<std::string> resolvePort(std::string_view name,
                                       const std::filesystem::path& iniFile) {
    if (name.empty()) {
        return std::nullopt;
    }
    NetAddress net;
    switch (parseNetName(name, &net)) {
    case NetName::Good:
        return netName(net);
    case NetName::Bad:
        return std::nullopt;
    case NetName::NotNetwork:
        break;
    }
#if defined(_WIN32)
    if (name.substr(0, 4) == "\\\\.\\") {
        return std::string(name);
    }
#else
    if (name.front() == '/') {
        return std::string(name);
    }
#endif
    const int n = comNumber(name);
    if (n < 1) {
        return std::nullopt;
    }
#if defined(_WIN32)
    const std::string key = "COM" + std::to_string(n);
    if (auto mapped = readIniValue(iniFile, "Ports", key); mapped && !mapped->empty()) {
        return resolveEntry(*mapped, iniFile);
    }
    return "\\\\.\\" + key;
#else
    return comTarget(n, iniFile, serialDevices()).device;
#endif
}

std::filesystem::path defaultIniFile() {
#if defined(_WIN32)
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&defaultIniFile), &module)) {
        return {};
    }
    wchar_t buffer[MAX_PATH * 4];
    const DWORD len = GetModuleFileNameW(module, buffer, sizeof buffer / sizeof buffer[0]);
    if (len == 0 || len >= sizeof buffer / sizeof buffer[0]) {
        return {};
    }
    return settingsFolder(std::filesystem::path(std::wstring(buffer, len)).parent_path()) /
           L"comm_mb.ini";
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&defaultIniFile), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    // The name may be relative to the start-up folder ("./QS730_View" for a
    // program started so) and may be a link: the folder is the real one.
    std::error_code ec;
    auto file = std::filesystem::absolute(info.dli_fname, ec);
    if (!ec) {
        file = std::filesystem::weakly_canonical(file, ec);
    }
    if (ec) {
        return {};
    }
    return settingsFolder(file.parent_path()) / "comm_mb.ini";
#endif
}

} // namespace comm
