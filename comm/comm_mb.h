/* The communication library of the QS730 service tool.
 *
 * Three C entry points, exported under their undecorated names, and optional
 * ones (read_frames, scan_read, listen_start, listen_read, listen_stop) after
 * them: the tool works without those. The
 * library owns the serial port and the Modbus RTU exchange; the tool never
 * touches the port itself. */
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
                               halfway, which invoke_modb does not tell from silence */
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
    COMM_OPEN_FAILED = 25,   /* the port name is no port, or it cannot be opened
                                or set to the speed and parity asked for */
    COMM_NO_CAPTURE = 26     /* read_frames: this build cannot see the line's bytes */
};

/* Port names: a path ("/dev/ttyUSB0") is opened as it is; "COMn" (any case)
 * is looked up in section [Ports] of comm_mb.ini in the library's folder
 * (e.g. COM1=/dev/ttyUSB0), read anew at every init_comm and EnumParameters;
 * without an entry COMn is /dev/ttyS<n-1> on Linux and \\.\COMn on Windows.
 *
 * A gateway on the network is a port too: "tcp:HOST[:PORT]" a Modbus TCP
 * gateway (MBAP frames, the module's address as the unit identifier, port
 * 502 unless given), "rtu-tcp:HOST:PORT" a transparent serial server (RTU
 * frames as they are over TCP); HOST without spaces, PORT 1..65535, the
 * prefix in any case. A name with the prefix spelt otherwise is no port
 * (COMM_OPEN_FAILED, errno EINVAL). A connection that cannot be made is
 * COMM_OPEN_FAILED with errno ENOENT (the host name does not resolve),
 * ECONNREFUSED, ETIMEDOUT (within comm_mb.ini [Link] ConnectTimeout, 2000 ms
 * unless set), EHOSTUNREACH or ENETUNREACH. Through a gateway the response
 * allowance grows by [Link] NetworkAllowance (200 ms unless set); a
 * connection the gateway closed is made again at the next call, as a lost
 * serial device is opened again; the gateway's exceptions 10 and 11 come
 * back as the codes 10 and 11. The speed and parity given to init_comm only
 * size the time-outs there: the gateway runs the serial line.
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

/* ---- The frames on the line (optional: a tool must work without it)
 *
 * From its loading on, the library keeps every frame it sends or receives
 * on any port and through any entry point, in a ring of the last
 * COMM_FRAME_RING records: requests, replies (also damaged ones, ones from
 * another address and ones cut short), late replies and stray bytes it threw
 * away, and the waits that produced nothing. Nothing grows beyond the ring,
 * and the library never calls back into the caller. */

#define COMM_FRAME_RING 4096
#define COMM_FRAME_BYTES 256 /* the longest Modbus RTU frame */

/* comm_frame.kind */
enum {
    COMM_FRAME_REQUEST = 1, /* a request sent; code 0, or COMM_IO_ERROR when the port
                               refused it */
    COMM_FRAME_REPLY = 2,   /* what came back for the request before it. code: COMM_OK
                               (the answer), 1..11 (the module's exception), COMM_BAD_CRC,
                               COMM_WRONG_SLAVE, COMM_BAD_REPLY, or COMM_NO_REPLY (bytes
                               that stopped before the frame was whole) */
    COMM_FRAME_LATE = 3,    /* a reply to an earlier request, thrown away while the
                               library waited for the replies still owed to it */
    COMM_FRAME_STRAY = 4,   /* bytes that came with no request, thrown away before the
                               next request went out; on a Modbus TCP gateway also a
                               reply thrown away at once: code COMM_WRONG_SLAVE for
                               another transaction or protocol, COMM_BAD_REPLY for a
                               length that disagrees with its bytes, COMM_NO_REPLY for
                               one cut short */
    COMM_FRAME_SILENCE = 5, /* no bytes: nothing came for the request before it
                               (COMM_NO_REPLY) or the port failed (COMM_IO_ERROR) between
                               time_us and end_us */
    COMM_FRAME_WAIT = 6     /* no bytes: the wait for replies still owed, from time_us to
                               end_us, before the next request went out */
};

/* comm_frame.flags */
#define COMM_FRAME_SEARCH 1 /* sent or received by EnumParameters */
/* on a Modbus TCP gateway: data is the MBAP frame (header, unit, PDU; no
 * CRC) as it went or came */
#define COMM_FRAME_MBAP 2

/* One record. Times are microseconds: time_us and end_us on the steady
 * clock (CLOCK_MONOTONIC on Linux, QueryPerformanceCounter on Windows; the
 * clock of std::chrono::steady_clock in the same process), wall_us on the
 * wall clock (since 1970-01-01 UTC) at time_us. A request's time_us is when
 * it went to the port and end_us when the port took it; a received record's
 * are its first and last bytes. */
typedef struct comm_frame {
    uint64_t number; /* 1, 2, 3, ... since the library was loaded */
    int64_t time_us;
    int64_t end_us;
    int64_t wall_us;
    int64_t reply_us;  /* REPLY: from the end of the latest request on the line (its
                          sending time reckoned from the speed) to the first byte; -1
                          otherwise */
    int32_t baud;      /* the line's speed and parity (0 none, 1 odd, 2 even) then */
    int32_t code;      /* what the library made of it (see kind), a result code above */
    uint32_t exchange; /* the exchange it belongs to, numbered from 1 (an exchange is one
                          request and the retries of it); 0 for none */
    uint32_t dropped;  /* bytes that came on beyond data (no frame is that long) */
    uint16_t length;   /* bytes in data */
    uint8_t kind;      /* COMM_FRAME_... */
    uint8_t attempt;   /* 1 to 3 within the exchange; 0 for none */
    uint8_t parity;
    uint8_t flags; /* COMM_FRAME_SEARCH, COMM_FRAME_MBAP */
    uint8_t reserved[2];
    uint8_t data[COMM_FRAME_BYTES]; /* the bytes as they went or came, CRC included */
} comm_frame;

/* Copies the records numbered above `after`, oldest first, at most
 * `capacity` of them, into `frames`, and their number into *count. *lost
 * (when `lost` is not null) gets how many records above `after` the ring no
 * longer holds. `frame_size` is sizeof(comm_frame) as the caller knows it.
 * Returns 0; COMM_BAD_BUFFER for a null count, a negative capacity, a null
 * `frames` with a capacity, or another frame size; COMM_NO_CAPTURE when this
 * build of the library cannot see the line (then *count is 0). Safe between
 * and during the other calls, from any thread; it waits for no exchange. */
COMM_MB_API int32_t read_frames(uint64_t after, comm_frame* frames, int32_t capacity,
                                int32_t frame_size, int32_t* count, uint64_t* lost);

typedef int32_t (*init_comm_fn)(const char*, int32_t, uint8_t);
typedef int32_t (*invoke_modb_fn)(uint8_t, uint8_t, uint16_t, uint16_t, uint16_t*);
typedef int32_t (*EnumParameters_fn)(const char*, int32_t, uint16_t, int32_t, int32_t*, uint8_t*);
typedef int32_t (*read_frames_fn)(uint64_t, comm_frame*, int32_t, int32_t, int32_t*, uint64_t*);

/* ---- The bus scan (optional: a tool must work without it) */

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

/* ---- Listening to a line without sending (optional: a tool must work
 * without it)
 *
 * The library opens a port for listening alone, apart from the link of
 * init_comm, and never writes to it. A thread of the library reads it, every
 * read with a time-out of at most 50 ms, and cuts what it hears into frames:
 * by the line's silence (3.5 characters, at least 1.75 ms) and by the length
 * each frame's function allows (functions 1-6, 15 and 16 as request and as
 * reply, exceptions; frames of other functions by silence alone), so that
 * frames an adapter hands on together are told apart. The frames wait in a
 * ring of COMM_LISTEN_RING records until listen_read takes them; when the
 * ring is full the oldest go and are counted as lost. Nothing else grows:
 * a frame holds at most COMM_FRAME_BYTES bytes, the rest of a longer run is
 * only counted. What the driver held from before listen_start is thrown
 * away. These records are apart from read_frames'. */

#define COMM_LISTEN_RING 8192

/* comm_heard.code */
enum {
    COMM_HEARD_FRAME = 0,   /* a whole frame with a right CRC */
    COMM_HEARD_BAD_CRC = 1, /* as long as a frame of its function, with a wrong CRC */
    COMM_HEARD_CUT = 2,     /* fewer bytes than its function calls for, then silence */
    COMM_HEARD_NOISE = 3,   /* bytes that form no frame */
    COMM_HEARD_LONG = 4,    /* a run without silence longer than any frame that held
                               none: its first COMM_FRAME_BYTES in data, the rest
                               counted in dropped */
    COMM_HEARD_FAILED = 5   /* no bytes: the port failed (the adapter went away);
                               listening has ended */
};

/* comm_heard.flags */
#define COMM_HEARD_JOINED 1 /* came right after the frame before, without silence */

/* One frame heard. Times in microseconds on the clocks of comm_frame: the
 * first and last byte as reckoned from when the read returned (the last byte
 * of a read just before it, each one before a character earlier). */
typedef struct comm_heard {
    uint64_t number; /* 1, 2, 3, ... since listen_start */
    int64_t time_us;
    int64_t end_us;
    int64_t wall_us;
    int64_t gap_us; /* silence since the end of the frame before; -1 for the first */
    int32_t baud;
    int32_t code;     /* COMM_HEARD_... */
    uint32_t dropped; /* bytes of the run beyond data (COMM_HEARD_LONG) */
    uint16_t length;  /* bytes in data */
    uint8_t parity;
    uint8_t flags; /* COMM_HEARD_JOINED */
    uint8_t data[COMM_FRAME_BYTES];
} comm_heard;

/* Starts listening on `port` (names as for init_comm) at `baud` bit/s (any
 * speed the driver takes) and `parity` (0 none, 1 odd, 2 even), ending any
 * listening before. When `port` is the port of the link opened by
 * init_comm, that link is closed first (call init_comm again after
 * listen_stop). Returns 0; COMM_BAD_PARAMETER for a speed of 0 or less or
 * another parity; COMM_OPEN_FAILED when the port cannot be opened or the
 * driver refuses the speed (errno tells why, as after init_comm). */
COMM_MB_API int32_t listen_start(const char* port, int32_t baud, uint8_t parity);

/* Takes the frames heard and not yet taken, oldest first, at most `capacity`,
 * into `frames`, and their number into *count; *lost (when not null) gets how
 * many the ring dropped since the last call. Waits up to `wait_ms` (0 to
 * 1000) for the first one when none waits. Returns 0 while listening and
 * while frames wait; COMM_NOT_OPEN once listening has ended and every frame
 * is taken (after listen_stop, or after a COMM_HEARD_FAILED record);
 * COMM_BAD_BUFFER for a null count, a negative capacity, a null `frames` with
 * a capacity, another `frame_size` than sizeof(comm_heard) or a wait outside
 * 0..1000. */
COMM_MB_API int32_t listen_read(comm_heard* frames, int32_t capacity, int32_t frame_size,
                                int32_t wait_ms, int32_t* count, uint64_t* lost);

/* Ends listening and gives the port up, within about 50 ms. Frames not yet
 * taken stay to be taken. Returns 0, also when nothing was listening. */
COMM_MB_API int32_t listen_stop(void);

typedef int32_t (*listen_start_fn)(const char*, int32_t, uint8_t);
typedef int32_t (*listen_read_fn)(comm_heard*, int32_t, int32_t, int32_t, int32_t*, uint64_t*);
typedef int32_t (*listen_stop_fn)(void);

#ifdef __cplusplus
}
#endif

#endif
