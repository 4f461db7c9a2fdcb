// Where the settings files lie: the program's QS730_View.ini and the
// communication library's comm_mb.ini follow one rule.
//
// - Beside the program (and its library) when that folder is writable: a copy
//   unpacked anywhere keeps its settings with it.
// - Otherwise in the user's own folder: on Linux $XDG_CONFIG_HOME/QS730_View
//   (by default ~/.config/QS730_View), the installed package's case, whose
//   folder in /usr belongs to the system; on Windows %APPDATA%\QS730_View,
//   the case of a program installed into Program Files.
//
// "Writable" means, on Linux:
// - this process may create files there (access() for the effective user); a
//   read-only mount is read-only for everyone, root included;
// - root passes every permission check, so for root a folder without any
//   write bit (chmod a-w) counts as read-only, as it does for everybody else;
// - a folder of the installed system never counts: an installed program
//   keeps no settings beside itself, not even when root starts it. That is
//   /usr and everything below it but /usr/local (the administrator's own)
//   and /usr/src (sources), which stay as their permissions say.
// On Windows:
// - this process can make a file there: one is made and is gone again at
//   once (it is deleted when its only handle closes, a crash included). That
//   answers for the folder's access rights, a write-protected stick or a
//   read-only share alike;
// - Program Files (64- and 32-bit) and everything below it never counts: an
//   administrator may write there, but an installed program keeps no
//   settings beside itself, and Windows gives its users no write access
//   there anyway. The folders are those %ProgramFiles%, %ProgramW6432% and
//   %ProgramFiles(x86)% name; case and short (8.3) names do not matter.
// Only the folder decides, not whether a settings file is there yet, so the
// place does not move between runs.
//
// The user's folder on Linux is $XDG_CONFIG_HOME when that is an absolute
// path, else $HOME/.config, else .config in the home folder of the user's
// account; on Windows %APPDATA% when that is an absolute path. Without it the
// files stay beside the program: they are read from there, and a save
// reports that it cannot write.
//
// No settings folder is created here; the first save makes it.
#pragma once

#include <filesystem>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <string>
#include <windows.h>
#else
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#endif

namespace comm {

inline constexpr const char* SettingsFolderName = "QS730_View";

#if defined(_WIN32)
namespace settings_folder {

// The value of an environment variable as a path; empty when it is not set.
inline std::filesystem::path environmentPath(const wchar_t* name) {
    std::wstring value(MAX_PATH, L'\0');
    DWORD length = ::GetEnvironmentVariableW(name, value.data(), DWORD(value.size()));
    if (length >= value.size()) {
        value.resize(length);
        length = ::GetEnvironmentVariableW(name, value.data(), DWORD(value.size()));
    }
    if (length == 0 || length >= value.size()) {
        return {};
    }
    value.resize(length);
    return value;
}

// `folder` absolute, in its long names (C:\PROGRA~1 is C:\Program Files) as
// far as it exists, with backslashes and without "." or "..".
inline std::filesystem::path longForm(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(folder, ec);
    if (ec) {
        path = folder;
    }
    path = path.lexically_normal().make_preferred();
    std::wstring longPath(MAX_PATH, L'\0');
    DWORD length = ::GetLongPathNameW(path.c_str(), longPath.data(), DWORD(longPath.size()));
    if (length >= longPath.size()) {
        longPath.resize(length);
        length = ::GetLongPathNameW(path.c_str(), longPath.data(), DWORD(longPath.size()));
    }
    if (length == 0 || length >= longPath.size()) {
        return path;
    }
    longPath.resize(length);
    return longPath;
}

// Whether `folder` is `root` or lies below it; names compare without regard
// to case, as Windows compares them.
inline bool within(const std::filesystem::path& folder, const std::filesystem::path& root) {
    if (root.empty() || !root.is_absolute()) {
        return false;
    }
    const std::filesystem::path inner = longForm(folder);
    const std::filesystem::path outer = longForm(root);
    auto part = inner.begin();
    for (const std::filesystem::path& name : outer) {
        if (name.empty()) {
            continue; // after a closing backslash
        }
        if (part == inner.end() ||
            ::CompareStringOrdinal(part->c_str(), -1, name.c_str(), -1, TRUE) != CSTR_EQUAL) {
            return false;
        }
        ++part;
    }
    return true;
}

inline bool programFilesFolder(const std::filesystem::path& folder) {
    for (const wchar_t* name : {L"ProgramFiles", L"ProgramW6432", L"ProgramFiles(x86)"}) {
        if (within(folder, environmentPath(name))) {
            return true;
        }
    }
    return false;
}

inline bool canCreateFiles(const std::filesystem::path& folder) {
    const std::filesystem::path probe =
        folder / (L"~QS730_View-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                  std::to_wstring(::GetTickCount64()) + L".tmp");
    const HANDLE file = ::CreateFileW(
        probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // Another thread's probe of the same name: the folder takes files.
        return ::GetLastError() == ERROR_FILE_EXISTS;
    }
    ::CloseHandle(file);
    return true;
}

inline bool writable(const std::filesystem::path& folder) {
    return !programFilesFolder(folder) && canCreateFiles(folder);
}

} // namespace settings_folder
#else
namespace settings_folder {

// /usr and below, but not /usr/local or /usr/src; links are followed.
inline bool systemFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::path real = std::filesystem::weakly_canonical(folder, ec);
    if (ec) {
        real = folder;
    }
    auto part = real.begin();
    if (part == real.end() || *part != "/" || ++part == real.end() || *part != "usr") {
        return false;
    }
    return ++part == real.end() || (*part != "local" && *part != "src");
}

inline bool writable(const std::filesystem::path& folder) {
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return false;
    }
    if (::geteuid() == 0) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            return false;
        }
    }
    return !systemFolder(folder);
}

// $XDG_CONFIG_HOME, $HOME/.config or ~/.config of the account; empty when
// there is no home at all.
inline std::filesystem::path configHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".config";
    }
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return std::filesystem::path(found->pw_dir) / ".config";
    }
    return {};
}

} // namespace settings_folder
#endif

// The folder that holds the settings files of a program or library that lies
// in `programFolder`.
inline std::filesystem::path settingsFolder(const std::filesystem::path& programFolder) {
    if (settings_folder::writable(programFolder)) {
        return programFolder;
    }
#if defined(_WIN32)
    const std::filesystem::path config = settings_folder::environmentPath(L"APPDATA");
    if (!config.is_absolute()) {
        return programFolder;
    }
#else
    const std::filesystem::path config = settings_folder::configHome();
    if (config.empty()) {
        return programFolder;
    }
#endif
    return config / SettingsFolderName;
}

} // namespace comm
