// Where the settings files go: beside the program when its folder is
// writable, else in the user's configuration folder. Each case runs as the
// user running the tests and, when that is root, once more as "nobody" in a
// child process, for whom permission bits count. And how the library reads
// its own settings file's numbers.
#include "SettingsFolder.h"

#include "Library.h"
#include "Pty.h"
#include "comm_mb.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// An environment variable set (or removed) for the lifetime of the object.
class EnvVar {
  public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// Who the rule runs as; `drop` says whether a child process becomes that user.
struct User {
    bool drop;
    uid_t uid;
    gid_t gid;
    std::string home;
};

std::optional<User> Account(const passwd* entry, bool drop) {
    if (!entry)
        return std::nullopt;
    return User{drop, entry->pw_uid, entry->pw_gid, entry->pw_dir ? entry->pw_dir : ""};
}

// The rule's answer for `folder`, as this process or in a child that runs as
// the user.
std::string Evaluate(const fs::path& folder, const User& user) {
    if (!user.drop)
        return comm::settingsFolder(folder).string();
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0)
            ::_exit(2);
        const std::string answer = comm::settingsFolder(folder).string();
        const bool whole =
            ::write(pipeFds[1], answer.data(), answer.size()) == ssize_t(answer.size());
        ::_exit(whole ? 0 : 3);
    }
    ::close(pipeFds[1]);
    std::string answer;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child failed";
    return answer;
}

struct Case {
    const char* name;
    const char* folder; // "@" stands for the scratch folder
    const char* xdg;    // nullptr: not set
    const char* home;   // nullptr: not set
    const char* expect; // "@" the scratch folder, "~" the account's home folder
};

std::string Expand(const char* text, const fs::path& scratch, const std::string& home) {
    std::string out;
    for (const char* c = text; *c; ++c) {
        if (*c == '@')
            out += scratch.string();
        else if (*c == '~')
            out += home;
        else
            out += *c;
    }
    return out;
}

const Case Cases[] = {
    {"writable folder, even with no settings file yet", "@/portable", "@/xdg", "@/home",
     "@/portable"},
    {"read-only folder", "@/installed", "@/xdg", "@/home", "@/xdg/QS730_View"},
    {"read-only folder, XDG_CONFIG_HOME not set", "@/installed", nullptr, "@/home",
     "@/home/.config/QS730_View"},
    {"read-only folder, XDG_CONFIG_HOME empty", "@/installed", "", "@/home",
     "@/home/.config/QS730_View"},
    {"read-only folder, XDG_CONFIG_HOME relative", "@/installed", "xdg", "@/home",
     "@/home/.config/QS730_View"},
    {"read-only folder, neither HOME nor XDG_CONFIG_HOME", "@/installed", nullptr, nullptr,
     "~/.config/QS730_View"},
    {"a folder under /usr is never the place", "/usr/lib", "@/xdg", "@/home", "@/xdg/QS730_View"},
};

} // namespace

TEST(SettingsFolder, BesideTheProgramOrInTheUsersConfigurationFolder) {
    const std::optional<User> self = Account(::getpwuid(::geteuid()), false);
    ASSERT_TRUE(self) << "the running user has no account entry";
    std::vector<User> users{*self};
    if (::geteuid() == 0) {
        if (const auto nobody = Account(::getpwnam("nobody"), true))
            users.push_back(*nobody);
        else
            std::printf("No user \"nobody\": the cases run as root only.\n");
    }

    std::random_device random;
    fs::path scratch;
    do {
        scratch = fs::temp_directory_path() / ("qs730_settings_" + std::to_string(random()));
    } while (!fs::create_directory(scratch));
    // Everyone may pass through it, so that "nobody" reaches the folders.
    fs::permissions(scratch, fs::perms(0755));
    fs::create_directory(scratch / "portable");
    fs::permissions(scratch / "portable", fs::perms(0777));
    fs::create_directory(scratch / "installed");
    fs::permissions(scratch / "installed", fs::perms(0555));
    fs::create_directories(scratch / "xdg" / "QS730_View");
    // A settings file in the configuration folder does not draw a portable
    // copy away from its own folder.
    std::ofstream(scratch / "xdg" / "QS730_View" / "QS730_View.ini") << "[Port]\nName=COM2\n";

    for (const User& user : users) {
        const std::string& home = user.home;
        for (const Case& c : Cases) {
            SCOPED_TRACE(std::string(c.name) + (user.drop ? " (as nobody)" : " (as this user)"));
            const EnvVar xdg("XDG_CONFIG_HOME",
                             c.xdg ? Expand(c.xdg, scratch, home).c_str() : nullptr);
            const EnvVar homeVar("HOME", c.home ? Expand(c.home, scratch, home).c_str() : nullptr);
            EXPECT_EQ(Evaluate(Expand(c.folder, scratch, home), user),
                      Expand(c.expect, scratch, home));
        }
    }
    // Choosing makes nothing.
    EXPECT_FALSE(fs::exists(scratch / "home"));

    fs::permissions(scratch / "installed", fs::perms(0755));
    fs::remove_all(scratch);
}

TEST(SettingsFolder, FoldersOfTheInstalledSystem) {
    const fs::path scratch =
        fs::temp_directory_path() / ("qs730_link_" + std::to_string(::getpid()));
    fs::remove(scratch);
    fs::create_directory_symlink("/usr/lib", scratch);
    const struct {
        fs::path folder;
        bool system;
    } cases[] = {
        {"/usr", true},
        {"/usr/lib/qs730-view", true},
        {"/usr/bin/", true},
        {scratch / "qs730-view", true}, // a link into /usr/lib
        {"/usr/local/lib/qs730-view", false},
        {"/usr/lib/../local/qs730", false},
        {"/usr/src/qs730/build/bin", false},
        {"/usrx/bin", false},
        {"/opt/qs730-view", false},
        {"/home/user/usr/lib", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(comm::settings_folder::systemFolder(c.folder), c.system) << c.folder;
    fs::remove(scratch);
}

// [Link] ResponseTimeout reads as the tool's own settings file reads its
// numbers: hexadecimal and a sign count. A module 600 ms late is heard with
// 1000 ms, not with the default 250 ms.
TEST(SettingsFile, ResponseTimeoutReadAsTheToolReadsNumbers) {
    const struct {
        const char* value;
        int32_t expected;
    } cases[] = {
        {"1000", COMM_OK}, {"0x3E8", COMM_OK}, {"+1000", COMM_OK}, {"$3E8", COMM_NO_REPLY}};
    const fs::path ini =
        fs::temp_directory_path() / ("qs730_timeout_" + std::to_string(::getpid()) + ".ini");
    for (const auto& c : cases) {
        std::ofstream(ini) << "[Link]\nResponseTimeout=" << c.value << "\n";
        commtest::Pty pty;
        pty.respond([](const commtest::Bytes& req) {
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            return commtest::withCrc({req[0], 3, 2, 0x12, 0x34});
        });
        comm::Library lib(ini);
        uint16_t word = 0;
        ASSERT_EQ(lib.initComm(pty.path().c_str(), 115200, 2), COMM_OK);
        EXPECT_EQ(lib.invoke(1, 3, 768, 1, &word), c.expected) << c.value;
    }
    fs::remove(ini);
}
