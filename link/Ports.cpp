#include "Ports.h"

#include "Link.h"
#include "PortName.h"

std::vector<SerialDevice> SerialDevicesUnder(const QString& root) {
    return comm::serialDevices(root.toStdString());
}

const SerialDevice* FindSerialDevice(const std::vector<SerialDevice>& present,
                                     const std::string& path) {
    return comm::findDevice(present, path);
}

PortEntries PortEntriesIn(const QString& iniFile) {
    return comm::portEntries(iniFile.toLocal8Bit().toStdString());
}

PortTarget ComTarget(int com, const PortEntries& entries,
                     const std::vector<SerialDevice>& present) {
    return comm::comTarget(com, entries, present);
}

int ComNumberOf(const QString& name) {
    return comm::comNumberOf(name.toStdString());
}

ResponseAllowanceMs NetworkAllowanceBounds() {
    return {static_cast<int32_t>(comm::DefaultNetworkAllowance.count()), 0,
            static_cast<int32_t>(comm::MaxNetworkAllowance.count())};
}

ResponseAllowanceMs ConnectTimeoutBounds() {
    return {static_cast<int32_t>(comm::DefaultConnectTimeout.count()),
            static_cast<int32_t>(comm::MinConnectTimeout.count()),
            static_cast<int32_t>(comm::MaxConnectTimeout.count())};
}

ResponseAllowanceMs ResponseAllowanceBounds() {
    return {static_cast<int32_t>(comm::DefaultResponseAllowance.count()),
            static_cast<int32_t>(comm::MinResponseAllowance.count()),
            static_cast<int32_t>(comm::MaxResponseAllowance.count())};
}
