/* A communication library that is missing entry points, built once per set
 * of STANDIN_* macros. Every entry point it has answers "success",
 * except that init_comm refuses "COM9". It keeps what init_comm was last
 * called with, for the tests to read back through standin_last_init. */
#include "comm_mb.h"

#include <stdio.h>
#include <string.h>

#ifdef STANDIN_INIT
static char last_port[64];
static int32_t last_baud = -1;
static int32_t last_parity = -1;

COMM_MB_API int32_t init_comm(const char* port, int32_t baud, uint8_t parity) {
    snprintf(last_port, sizeof last_port, "%s", port ? port : "");
    last_baud = baud;
    last_parity = parity;
    /* "COM9" stands for a port that does not exist. */
    return port && strcmp(port, "COM9") == 0 ? 1 : 0;
}

/* The port of the last init_comm call; its speed and parity into the two
 * places (-1 before any call). */
COMM_MB_API const char* standin_last_init(int32_t* baud, int32_t* parity) {
    *baud = last_baud;
    *parity = last_parity;
    return last_port;
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
COMM_MB_API int standin_comm_marker;
