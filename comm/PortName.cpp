#include "PortName.h"

#include <cctype>
#include <fstream>

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

std::string_view trim(std::string_view s) {
    const char* blanks = " \t\r\n";
    const auto begin = s.find_first_not_of(blanks);
    if (begin == std::string_view::npos) {
        return {};
    }
    const auto end = s.find_last_not_of(blanks);
    return s.substr(begin, end - begin + 1);
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// n of "COMn", or 0 when `name` is not such a name.
int comNumber(std::string_view name) {
    if (name.size() < 4 || name.size() > 6 || !equalNoCase(name.substr(0, 3), "COM")) {
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

} // namespace

std::optional<std::string> readIniValue(const std::filesystem::path& iniFile,
                                        std::string_view section, std::string_view key) {
    if (iniFile.empty()) {
        return std::nullopt;
    }
    std::ifstream in(iniFile);
    if (!in) {
        return std::nullopt;
    }
    bool inSection = false;
    bool firstLine = true;
    std::string raw;
    while (std::getline(in, raw)) {
        std::string_view line = raw;
        if (firstLine && line.substr(0, 3) == "\xEF\xBB\xBF") {
            line.remove_prefix(3); // UTF-8 byte order mark of some editors
        }
        firstLine = false;
        line = trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            const auto close = line.find(']');
            inSection = close != std::string_view::npos &&
                        equalNoCase(trim(line.substr(1, close - 1)), section);
            continue;
        }
        const auto eq = line.find('=');
        if (inSection && eq != std::string_view::npos &&
            equalNoCase(trim(line.substr(0, eq)), key)) {
            return std::string(trim(line.substr(eq + 1)));
        }
    }
    return std::nullopt;
}

std::optional<std::string> resolvePort(std::string_view name,
                                       const std::filesystem::path& iniFile) {
    if (name.empty()) {
        return std::nullopt;
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
    const std::string key = "COM" + std::to_string(n);
    if (auto mapped = readIniValue(iniFile, "Ports", key); mapped && !mapped->empty()) {
        return mapped;
    }
#if defined(_WIN32)
    return "\\\\.\\" + key;
#else
    return "/dev/ttyS" + std::to_string(n - 1);
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
    return std::filesystem::path(std::wstring(buffer, len)).parent_path() / L"comm_mb.ini";
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&defaultIniFile), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    std::error_code ec;
    auto file = std::filesystem::absolute(info.dli_fname, ec);
    if (ec) {
        return {};
    }
    return file.parent_path() / "comm_mb.ini";
#endif
}

} // namespace comm
