// Systems without termios2 (Windows): the port driver takes the speed from
// libmodbus as it is, and there is nothing more to check through libmodbus.
#include "LineCheck.h"

namespace comm {

bool setAndCheckLine(int, int32_t, int32_t) {
    return true;
}

} // namespace comm
