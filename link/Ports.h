// The serial ports of this PC as the library deals them out, for the port
// settings: the devices present, the [Ports] map of the library's
// comm_mb.ini, the device a COM name leads to, and the bounds of the reply
// allowance the library reads from the same file. The rules themselves are
// the library's; the windows and the module's settings reach them here.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "SerialDevices.h"

using SerialDevice = comm::SerialDevice;
using PortEntries = comm::PortEntries;
using PortTarget = comm::PortTarget;

// The serial devices below the file system root `root` ("/" but in tests).
std::vector<SerialDevice> SerialDevicesUnder(const QString& root);
// The device of `present` that `path` names (its stable name or the device
// itself); nullptr when none does.
const SerialDevice* FindSerialDevice(const std::vector<SerialDevice>& present,
                                     const std::string& path);
// The [Ports] entries of the settings file `iniFile`.
PortEntries PortEntriesIn(const QString& iniFile);
// Where COMn leads with `entries`, the devices `present` dealt out to the
// COM names without an entry.
PortTarget ComTarget(int com, const PortEntries& entries, const std::vector<SerialDevice>& present);
// n of "COMn" (any case, 1 to 255); 0 for any other name.
int ComNumberOf(const QString& name);

// [Link] ResponseTimeout of comm_mb.ini: the library's default and the
// bounds it takes, in milliseconds.
struct ResponseAllowanceMs {
    int32_t fallback;
    int32_t least;
    int32_t most;
};
ResponseAllowanceMs ResponseAllowanceBounds();
// [Link] NetworkAllowance and ConnectTimeout of comm_mb.ini (a gateway on
// the network) in the same way.
ResponseAllowanceMs NetworkAllowanceBounds();
ResponseAllowanceMs ConnectTimeoutBounds();
