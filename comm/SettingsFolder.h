// Where the settings files lie: the program's QS730_View.ini and the
// communication library's comm_mb.ini follow one rule.
//
// - Beside the program (and its library) when that folder is writable: a copy
//   unpacked anywhere keeps its settings with it.
// - Otherwise in the user's configuration folder, $XDG_CONFIG_HOME/QS730_View
//   (by default ~/.config/QS730_View): the installed package's case, whose
//   folder in /usr belongs to the system.
// - On Windows always beside the program.
//
// "Writable" means:
// - this process may create files there (access() for the effective user); a
//   read-only mount is read-only for everyone, root included;
// - root passes every permission check, so for root a folder without any
//   write bit (chmod a-w) counts as read-only, as it does for everybody else;
// - a folder of the installed system never counts: an installed program
//   keeps no settings beside itself, not even when root starts it. That is
//   /usr and everything below it but /usr/local (the administrator's own)
//   and /usr/src (sources), which stay as their permissions say.
// Only the folder decides, not whether a settings file is there yet, so the
// place does not move between runs.
//
// The configuration folder is $XDG_CONFIG_HOME when that is an absolute path,
// else $HOME/.config, else .config in the home folder of the user's account.
// Without any home the files stay beside the program: they are read from
// there, and a save reports that it cannot write.
//
// Nothing is created here; the first save makes the folder.
#pragma once

#include <filesystem>

#if !defined(_WIN32)
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#endif

namespace comm {

inline constexpr const char* SettingsFolderName = "QS730_View";

#if !defined(_WIN32)
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
#if defined(_WIN32)
    return programFolder;
#else
    if (settings_folder::writable(programFolder)) {
        return programFolder;
    }
    const std::filesystem::path config = settings_folder::configHome();
    if (config.empty()) {
        return programFolder;
    }
    return config / SettingsFolderName;
#endif
}

} // namespace comm
