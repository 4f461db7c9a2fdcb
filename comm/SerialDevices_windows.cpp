// Windows names its serial ports itself: nothing to deal out.
#include "SerialDevices.h"

namespace comm {

std::vector<SerialDevice> serialDevices(const std::filesystem::path&) {
    return {};
}

} // namespace comm
