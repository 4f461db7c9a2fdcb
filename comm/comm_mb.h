/* The communication library of the QS730 service tool.
 *
 * Three C entry points, exported under their undecorated names. The library
 * owns the serial port and the Modbus RTU exchange; the tool never touches the
 * port itself. */
#ifndef COMM_MB_H
#define COMM_MB_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(COMM_MB_BUILD)
#define COMM_MB_API __declspec(dllexport)
#else
#define COMM_MB_API __declspec(dllimport)
#endif
#else
#define COMM_MB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of invoke_modb and EnumParameters. */
enum {
    COMM_OK = 0,
    /* 1..8: the Modbus exception code the slave answered with */
    COMM_NO_REPLY = 14,     /* nothing (or not a whole frame) came back in time */
    COMM_BAD_FUNCTION = 15, /* a function other than 3 or 16 was asked for */
    COMM_BAD_BUFFER = 16,   /* null buffer, or a count outside 1..4 */
    COMM_BAD_CRC = 17,      /* a reply came back with a wrong CRC */
    /* Codes of this library's own, outside everything above. */
    COMM_NOT_OPEN = 20,      /* no port is open */
    COMM_WRONG_SLAVE = 21,   /* the reply came from another slave address */
    COMM_BAD_REPLY = 22,     /* malformed reply: wrong function, byte count or length */
    COMM_IO_ERROR = 23,      /* the port failed while sending or receiving */
    COMM_BAD_PARAMETER = 24, /* init_comm / EnumParameters: bad speed, parity or address */
    COMM_OPEN_FAILED = 25    /* init_comm / EnumParameters: the port could not be opened */
};

/* Opens the port (replacing any link opened before) at the given speed in
 * bit/s and parity (0 none, 1 odd, 2 even). Returns 0 only when the port is
 * open with exactly these parameters. */
COMM_MB_API int32_t init_comm(const char* port, int32_t baud, uint8_t parity);

/* One Modbus exchange with slave `address`: function 3 reads `count`
 * holding registers from `first` into `data`, function 16 writes them from
 * `data`. Word i of `data` belongs to register first + i. */
COMM_MB_API int32_t invoke_modb(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                                uint16_t* data);

/* Looks for the module with the given type code and serial-number word at
 * `address` on `port`, trying every speed and parity. On success (0) the
 * speed and parity it answered at are stored in *baud and *parity. */
COMM_MB_API int32_t EnumParameters(const char* port, int32_t type_code, uint16_t serial,
                                   int32_t address, int32_t* baud, uint8_t* parity);

typedef int32_t (*init_comm_fn)(const char*, int32_t, uint8_t);
typedef int32_t (*invoke_modb_fn)(uint8_t, uint8_t, uint16_t, uint16_t, uint16_t*);
typedef int32_t (*EnumParameters_fn)(const char*, int32_t, uint16_t, int32_t, int32_t*, uint8_t*);

#ifdef __cplusplus
}
#endif

#endif
