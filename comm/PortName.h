// Port names as the tool passes them, and the library's own settings file
// that maps COM names to devices.
//
// Besides serial ports, a port may be a gateway on the network:
//
//     tcp:HOST[:PORT]       a Modbus TCP gateway (MBAP frames, the module's
//                           address as the unit identifier), port 502 unless
//                           given
//     rtu-tcp:HOST:PORT     a transparent serial server: RTU frames as they
//                           are, over a TCP connection
//
// HOST is a name or a dotted address without spaces; PORT is 1..65535. The
// prefixes are taken in any case.
//
// comm_mb.ini lies in the folder of the loaded library, or where the rule of
// SettingsFolder.h puts it when that folder cannot be written:
//
//     [Ports]
//     COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K4ZQX-if00-port0
//     COM2=/dev/ttyACM0
//
// (COM names without an entry: see SerialDevices.h.)
//
// It reads as a Windows profile file (IniText.h): section and keys
// case-insensitive, lines starting with ';' or '#' are comments, a ';' after
// a value is part of the value, one pair of quotes around a value is dropped.
// The file is read anew for every port name, so edits take effect at the next
// init_comm or EnumParameters.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace comm {

enum class NetKind {
    ModbusTcp, // tcp:
    RtuTcp,    // rtu-tcp:
};

struct NetAddress {
    NetKind kind = NetKind::ModbusTcp;
    std::string host;
    uint16_t port = 0;
};

constexpr uint16_t ModbusTcpPort = 502;

// How a port name reads as a network port.
enum class NetName {
    NotNetwork, // no tcp: or rtu-tcp: prefix: a serial port's name, or none
    Good,
    Bad, // the prefix, but no host, a host with spaces or other signs, no or a bad port
};

// Reads `name` as a network port into *address (when Good).
NetName parseNetName(std::string_view name, NetAddress* address);

// The one spelling of a network port: "tcp:10.0.0.5:502",
// "rtu-tcp:10.0.0.5:4001" (the port always written).
std::string netName(const NetAddress& address);

// "HOST:PORT", as messages name it.
std::string hostAndPort(const NetAddress& address);

// The device to open for `name`, or nothing when the name is no port or
// reaches no device:
// - a path (starting with '/', or "\\.\" on Windows) is taken as it is;
// - "COMn" (any case, n from 1 to 255) goes where [Ports] of `iniFile` says
//   (resolveEntry); without an entry, on Linux to the device the rule of
//   SerialDevices.h deals out to it, if any; on Windows to \\.\COMn;
// - a good network name is its one spelling (netName), which the line opens
//   as a connection; a bad one is no port;
// - everything else (empty text, other words, COM0) is no port.
std::optional<std::string> resolvePort(std::string_view name, const std::filesystem::path& iniFile);

// An entry of [Ports] as a device: a relative path lies in the folder of
// `iniFile`; on Windows a value "COMm" is the port \\.\COMm.
std::string resolveEntry(const std::string& value, const std::filesystem::path& iniFile);

// n of "COMn" (any case, 1 to 255), or 0 for any other name.
int comNumberOf(std::string_view name);

// The value of `key` in `section` of an INI file, read by the rules of
// IniText.h; nothing when the file, the section or the key is missing.
std::optional<std::string> readIniValue(const std::filesystem::path& iniFile,
                                        std::string_view section, std::string_view key);
// The same value as a number (ini::integer); nothing when it is missing or
// no number.
std::optional<int32_t> readIniInteger(const std::filesystem::path& iniFile,
                                      std::string_view section, std::string_view key);

// comm_mb.ini in the settings folder (SettingsFolder.h) of the module
// (library or executable) that holds this code; empty when that folder
// cannot be found.
std::filesystem::path defaultIniFile();

} // namespace comm
