// The tool's link settings in and out: the link keys of its settings file,
// read at start-up and saved by "OK" in the port settings together with the
// library's port map entry of the chosen COM port; the device a COM port is
// opened or searched on while that entry is not stored yet; and what the
// result of an automatic search means.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "Ports.h"

class ProfileFile;

// ---- Reading at start-up

// Reads [Port] Name, Baud, Parity and [Alpha] Alpha of `file` (at start-up
// the tool's, ToolSettingsFile()) into the link settings, with their
// defaults; [Station] Address is not read. Nothing is written. A Baud
// outside LinkSpeeds() or a Parity outside 0 to 2 reads as missing and is
// noted (ProfileFile::noteIgnored).
void ReadLinkSettings(const ProfileFile& file);

// The speeds the library opens a line at: those of the module (the port
// settings' list) and 1200, which a hand-edited file may bring.
QList<int32_t> LinkSpeeds();

// Reads [Link] ResponseTimeout, NetworkAllowance and ConnectTimeout of the
// library's comm_mb.ini within the bounds the library takes, so that a value
// it ignores is noted; the library reads the file itself at every opening.
void CheckCommSettings();

// ---- The device of a COM port (Linux)

// An entry of [Ports] in the library's comm_mb.ini: the device for COMn; an
// empty device hands the port back to the automatic choice.
struct PortMapEntry {
    int com = 0;
    QString device;
};

// The [Ports] entries of comm_mb.ini as they stand now.
PortEntries StoredPortEntries();
// Where COMn leads with `entry` in place of its stored one (nothing: the map
// as stored).
PortTarget PortTargetWith(int com, const std::optional<PortMapEntry>& entry,
                          const std::vector<SerialDevice>& present);
// What init_comm and EnumParameters are handed for `port`: the name itself
// when there is no new entry (the library reads the stored map), otherwise
// the device the entry leads to, "" when it leads nowhere.
QString PortToOpen(const QString& port, const std::optional<PortMapEntry>& entry,
                   const std::vector<SerialDevice>& present);

// ---- Saving

// What "OK" takes over, checked already.
struct LinkChoice {
    QString port;
    int32_t baud = 0;
    uint8_t parity = 0;
    uint8_t address = 0;
    std::optional<QString> letter;      // nothing: no letter chosen, the stored one stays
    std::optional<PortMapEntry> device; // nothing: the port map stays as it is
};

// Saves the link settings in force (and `letter`, when given) into the
// keys of the tool's settings file (ToolSettingsFile()) in one save; throws
// "Unable to write to «<path>»".
void SaveLinkSettings(const std::optional<QString>& letter = std::nullopt);

// Takes the choice over into the link settings and the status line (open),
// then saves it: the settings file's keys in one save, then the port map
// entry. A failed save throws "Unable to write to «<path>»", with the new
// settings in force.
void TakeOverLinkChoice(const LinkChoice& choice);

// ---- The automatic search

// What one EnumParameters call came to.
struct SearchOutcome {
    enum class Kind { Found, NotFound, BadCrc, OpenFailed, Other };
    Kind kind = Kind::Other;
    int32_t baud = 0;   // Found: the speed the module answered at
    uint8_t parity = 0; // Found: its parity index
    int openError = 0;  // OpenFailed: the errno the library left, 0 when unknown
    QString port;       // searched on

    static SearchOutcome of(int32_t code, int32_t baud, uint8_t parity, int error);
    // The message the search ends with: none when found or for other codes.
    QString message() const;
    // Why the port did not open, for the device line; empty otherwise.
    QString reason() const;
};

// What the search does behind a gateway on `port` (tcp:, rtu-tcp:), one
// short text for the technician; empty for a serial port.
QString SearchNote(const QString& port);

// The search on `port` (a COM name or a device, PortToOpen) for the module
// with serial-number word `serial` at `address`, checked already.
SearchOutcome SearchModule(const QString& port, uint16_t serial, int32_t address);
