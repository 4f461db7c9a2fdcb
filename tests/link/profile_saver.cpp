// Saves two sets of the port settings' keys in turn, without end, to the
// settings file named on the command line, through the program's own code.
// The start-up tests kill it in the middle of a save.
#include <cstdio>

#include "Profile.h"

int main(int argc, char* argv[]) {
    if (argc != 2)
        return 2;
    ProfileFile ini(QString::fromLocal8Bit(argv[1]));
    const auto set = [](const char* port, const char* baud, const char* parity, const char* address,
                        const char* letter) {
        return QList<ProfileFile::Entry>{
            {QStringLiteral("Port"), QStringLiteral("Name"), QString::fromLatin1(port)},
            {QStringLiteral("Port"), QStringLiteral("Baud"), QString::fromLatin1(baud)},
            {QStringLiteral("Port"), QStringLiteral("Parity"), QString::fromLatin1(parity)},
            {QStringLiteral("Station"), QStringLiteral("Address"), QString::fromLatin1(address)},
            {QStringLiteral("Alpha"), QStringLiteral("Alpha"), QString::fromLatin1(letter)}};
    };
    const QList<ProfileFile::Entry> sets[2] = {set("COM2", "9600", "1", "5", "B"),
                                               set("COM4", "57600", "0", "17", "C")};
    std::puts("saving");
    std::fflush(stdout);
    for (unsigned i = 0;; ++i)
        ini.write(sets[i % 2]);
}
