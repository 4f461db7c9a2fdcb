// Port names as the tool passes them, and the library's own settings file
// that maps COM names to devices.
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

// The device to open for `name`, or nothing when the name is no port or
// reaches no device:
// - a path (starting with '/', or "\\.\" on Windows) is taken as it is;
// - "COMn" (any case, n from 1 to 255) goes where [Ports] of `iniFile` says
//   (resolveEntry); without an entry, on Linux to the device the rule of
//   SerialDevices.h deals out to it, if any; on Windows to \\.\COMn;
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
