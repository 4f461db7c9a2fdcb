#include "Pty.h"

#include "LineSettings.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

[[noreturn]] void Fail(Pty& p, const char* what) {
    for (int fd : {p.master, p.slave})
        if (fd >= 0)
            ::close(fd);
    throw std::runtime_error(what);
}

} // namespace

Pty OpenPty(unsigned baud, int parity) {
    Pty p;
    p.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (p.master < 0 || ::grantpt(p.master) != 0 || ::unlockpt(p.master) != 0)
        Fail(p, "cannot open a pseudo-terminal");
    char name[128];
    if (::ptsname_r(p.master, name, sizeof name) != 0)
        Fail(p, "cannot name the pseudo-terminal");
    p.path = name;
    ::fcntl(p.master, F_SETFL, ::fcntl(p.master, F_GETFL) | O_NONBLOCK);
    p.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (p.slave < 0 || !SetRawLine(p.slave, baud, parity))
        Fail(p, "cannot set up the pseudo-terminal");
    return p;
}

bool LinkPty(const std::string& path, const std::string& target) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode) || ::unlink(path.c_str()) != 0)
            return false;
    }
    return ::symlink(target.c_str(), path.c_str()) == 0;
}

void UnlinkPty(const std::vector<std::string>& links, const std::string& target) {
    for (const std::string& link : links) {
        char to[PATH_MAX];
        const ssize_t n = ::readlink(link.c_str(), to, sizeof to - 1);
        if (n > 0 && std::string(to, static_cast<size_t>(n)) == target)
            ::unlink(link.c_str());
    }
}

} // namespace sim
