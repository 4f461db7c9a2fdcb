// A pseudo-terminal that stands for a serial line: the simulator keeps the
// master side, the tool opens the slave side as it would a serial port.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct Pty {
    int master = -1;  // non-blocking, so that an answer never blocks the simulator
    int slave = -1;   // held open, so the line keeps its settings and never hangs up
    std::string path; // of the slave side, e.g. "/dev/pts/7"
};

// Opens one with the slave side in raw mode at `baud` and `parity`. Throws
// std::runtime_error; the descriptors are the caller's to close.
Pty OpenPty(unsigned baud, int parity);

// Makes `path` a symbolic link to the pseudo-terminal `target`, replacing a
// symbolic link there but never another file.
bool LinkPty(const std::string& path, const std::string& target);
// Removes those of `links` that still lead to `target`.
void UnlinkPty(const std::vector<std::string>& links, const std::string& target);

} // namespace sim
