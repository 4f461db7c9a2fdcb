/* The communication library of the QS730 service tool.
 *
 * Three C entry points, exported under their undecorated names, and optional
 * ones at the end. The library owns the serial port and the Modbus RTU
 * exchange; the tool never touches the port itself. */
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

/* Result codes of the three entry points. */
enum {
    COMM_OK = 0,
    /* 1..8: the Modbus exception code the slave answered with (the rare
     * gateway codes 10 and 11 are passed on the same way) */
    COMM_NO_REPLY = 14,     /* nothing came back in time; also a reply that stops
                               halfway, which libmodbus cannot tell from silence */
    COMM_BAD_FUNCTION = 15, /* a function other than 3 or 16 was asked for */
    COMM_BAD_BUFFER = 16,   /* null buffer, or a count outside 1..4; for
                               EnumParameters a null place for the result */
    COMM_BAD_CRC = 17,      /* a reply came back with a wrong CRC */
    /* Codes of this library's own, outside everything above. */
    COMM_NOT_OPEN = 20,      /* no port is open */
    COMM_WRONG_SLAVE = 21,   /* the reply came from another slave address */
    COMM_BAD_REPLY = 22,     /* malformed reply: wrong function, byte count or length */
    COMM_IO_ERROR = 23,      /* the port failed while sending or receiving */
    COMM_BAD_PARAMETER = 24, /* bad speed, parity or address (1..247) */
    COMM_OPEN_FAILED = 25    /* the port name is no port, or it cannot be opened
                                or set to the speed and parity asked for */
};

/* Port names: a path ("/dev/ttyUSB0") is opened as it is; "COMn" (any case)
 * is looked up in section [Ports] of comm_mb.ini in the library's folder
 * (e.g. COM1=/dev/ttyUSB0), read anew at every init_comm and EnumParameters;
 * without an entry COMn is /dev/ttyS<n-1> on Linux and \\.\COMn on Windows.
 *
 * Characters are 8 data bits with odd or even parity and one stop bit, or
 * without parity and two stop bits. */

/* Opens the port (replacing any link opened before) at the given speed in
 * bit/s and parity (0 none, 1 odd, 2 even). Returns 0 only when the port is
 * open with exactly these parameters. Speeds: 1200, 2400, 4800, 9600, 19200,
 * 28800, 38400, 57600, 115200. The link opened before is closed first in any
 * case, so after a failure no link is open (COMM_BAD_PARAMETER,
 * COMM_OPEN_FAILED). */
COMM_MB_API int32_t init_comm(const char* port, int32_t baud, uint8_t parity);

/* One Modbus exchange with slave `address`: function 3 reads `count`
 * holding registers from `first` into `data`, function 16 writes them from
 * `data`. Word i of `data` belongs to register first + i.
 * Checks in this order: function (15), buffer and count (16), address 1..247
 * (COMM_BAD_PARAMETER), open port (COMM_NOT_OPEN); then the exchange, with
 * one response time-out: the time the request takes on the line plus the
 * response allowance (250 ms unless comm_mb.ini [Link] ResponseTimeout says
 * otherwise), so 0.25 s at 115200 bit/s, 0.26 s at 19200 and 0.30 to 0.34 s
 * at 2400 bit/s. Three calls with no module answering take about 0.77 s at
 * 19200 and at 115200 bit/s. Replies still owed to earlier calls, up to
 * 1 s late, are waited for and thrown away before the next call's request
 * goes out; only an identical call right after a failed one (a retry, up to
 * three calls in a row) may take a late reply of its own predecessors. */
COMM_MB_API int32_t invoke_modb(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                                uint16_t* data);

/* Looks for the module with the given type code (register 768) and
 * serial-number word (register 0) at `address` on `port`, trying the speeds
 * 2400 to 115200 with every parity, the factory setting 19200 even first. On
 * success (0) the speed and parity it answered at are stored in *baud and
 * *parity. 14: nothing answered, or only modules of another type or serial
 * number; 17: replies came, but only corrupted ones; COMM_BAD_BUFFER,
 * COMM_BAD_PARAMETER (address outside 1..247), COMM_OPEN_FAILED. The link
 * opened by init_comm is closed by the search (unless the arguments are
 * rejected first); call init_comm afterwards. With no module on the line the
 * search takes about 8 s. */
COMM_MB_API int32_t EnumParameters(const char* port, int32_t type_code, uint16_t serial,
                                   int32_t address, int32_t* baud, uint8_t* parity);

typedef int32_t (*init_comm_fn)(const char*, int32_t, uint8_t);
typedef int32_t (*invoke_modb_fn)(uint8_t, uint8_t, uint16_t, uint16_t, uint16_t*);
typedef int32_t (*EnumParameters_fn)(const char*, int32_t, uint16_t, int32_t, int32_t*, uint8_t*);

/* ---- Optional entry points: the tool works without them. */

/* The bus scan's look at one address: one read of `count` (1..4) holding
 * registers from `first` at slave `address`, a single attempt. With `patient`
 * 0 it waits for the reply a short allowance derived from the line speed
 * (about 33 ms at 19200 bit/s, see Scan.h), otherwise the response allowance
 * of invoke_modb. Unlike invoke_modb it does not wait for the replies still
 * owed to earlier calls, but hears them out: an intact reply from another
 * slave, before the request or after it, is not taken for the answer, and its
 * address goes to *other (0 when none came; `other` may be null). Results as
 * invoke_modb's, except COMM_BAD_CRC for bytes that made no intact frame (a
 * damaged reply, or two slaves answering at once) and COMM_BAD_REPLY for an
 * intact reply of this slave that does not answer this read. It only reads. */
COMM_MB_API int32_t scan_read(uint8_t address, uint16_t first, uint16_t count, uint16_t* data,
                              uint8_t patient, uint8_t* other);

typedef int32_t (*scan_read_fn)(uint8_t, uint16_t, uint16_t, uint16_t*, uint8_t, uint8_t*);

#ifdef __cplusplus
}
#endif

#endif
