/* A communication library that is missing entry points, built once per set
 * of STANDIN_* macros. Every entry point it has answers "success",
 * except that init_comm refuses "COM9". */
#include "comm_mb.h"

#include <string.h>

#ifdef STANDIN_INIT
COMM_MB_API int32_t init_comm(const char* port, int32_t baud, uint8_t parity) {
    (void)baud;
    (void)parity;
    /* "COM9" stands for a port that does not exist. */
    return port && strcmp(port, "COM9") == 0 ? 1 : 0;
}
#endif

#ifdef STANDIN_INVOKE
COMM_MB_API int32_t invoke_modb(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                                uint16_t* data) {
    (void)address;
    (void)function;
    (void)first;
    (void)count;
    (void)data;
    return 0;
}
#endif

#ifdef STANDIN_ENUM
COMM_MB_API int32_t EnumParameters(const char* port, int32_t type_code, uint16_t serial,
                                   int32_t address, int32_t* baud, uint8_t* parity) {
    (void)port;
    (void)type_code;
    (void)serial;
    (void)address;
    (void)baud;
    (void)parity;
    return 14;
}
#endif

/* A library with nothing at all must still be a valid shared object. */
int standin_comm_marker;
