// How the result codes of libmodbus's errno values map onto the library's
// (declared in Link.h): the tests that run libmodbus beside the library
// compare through this.
#include "Link.h"
#include "comm_mb.h"

#include <cerrno>
#include <modbus.h>

namespace comm {

int32_t codeForModbusErrno(int error) {
    if (error > MODBUS_ENOBASE && error < MODBUS_ENOBASE + MODBUS_EXCEPTION_MAX) {
        // An exception reply: libmodbus hands over the slave's code as
        // MODBUS_ENOBASE + code for codes 1 to 11.
        return error - MODBUS_ENOBASE;
    }
    switch (error) {
    case ETIMEDOUT:
        return COMM_NO_REPLY;
    case EMBBADCRC:
        return COMM_BAD_CRC;
    case EMBBADSLAVE:
        return COMM_WRONG_SLAVE;
    case EMBBADDATA:
    case EMBMDATA:
    case EMBBADEXC:
    case EMBUNKEXC:
        return COMM_BAD_REPLY;
    default:
        return COMM_IO_ERROR;
    }
}

} // namespace comm
