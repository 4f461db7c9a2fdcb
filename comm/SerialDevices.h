// The serial devices of this PC and which COM name reaches which of them.
//
// Linux has no COM names. A COMn with an entry in [Ports] of comm_mb.ini
// (COM1=/dev/ttyUSB0) goes where the entry says. The others are dealt out,
// in order, to the serial devices present that no entry names:
//
//   1. USB serial adapters, in the order of their stable names under
//      /dev/serial/by-id (the name is what is opened, so an adapter keeps its
//      COM name when it is plugged in again or another one is added);
//      adapters without such a name (no udev) by their device name;
//   2. built-in serial ports with a UART behind them (/dev/ttyS<n> whose
//      type in /sys/class/tty is not "unknown"), in the order of their
//      numbers; the system console is left out, so no request ever goes out
//      on it.
//
// So with one USB adapter plugged in, COM1 is that adapter. A COMn that gets
// no device reaches nothing and does not open. Windows has COM names of its
// own: there the list is empty and every COMn goes to the system as it is.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace comm {

struct SerialDevice {
    std::string path;        // what is opened: the /dev/serial/by-id name, or the device
    std::string node;        // the device itself, e.g. /dev/ttyUSB0
    std::string description; // what it is, e.g. "FTDI FT232R USB UART"; empty when unknown
    bool usb = false;
};

// The serial devices present, in the order above. `root` stands for "/" (the
// tests give a folder that holds a made-up dev and sys tree); the paths
// returned are those of the system, "/dev/...", whatever the root.
std::vector<SerialDevice> serialDevices(const std::filesystem::path& root = "/");

// Where a COM name leads.
struct PortTarget {
    std::optional<std::string> device; // what init_comm opens; nothing: no device
    bool fromEntry = false;            // named in [Ports], not dealt out
};

// The entries of [Ports] in the library's settings file: COM number ->
// device (resolveEntry), the first of each number; empty values left out.
using PortEntries = std::map<int, std::string>;
PortEntries portEntries(const std::filesystem::path& iniFile);

// The target of COMn (n from 1 to 255) by the rule above, given the entries
// and the devices present.
PortTarget comTarget(int n, const PortEntries& entries, const std::vector<SerialDevice>& present);
inline PortTarget comTarget(int n, const std::filesystem::path& iniFile,
                            const std::vector<SerialDevice>& present) {
    return comTarget(n, portEntries(iniFile), present);
}

// The device behind `path` (the same path, or the same device), if present.
const SerialDevice* findDevice(const std::vector<SerialDevice>& present, const std::string& path);

} // namespace comm
