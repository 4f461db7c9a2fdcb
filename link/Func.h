// The link to the module: the communication library's binding, the one
// process-wide set of link settings, and the register operations.
//
// Every operation runs on the user-interface thread and blocks it until the
// exchange (with its retries) has ended.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "Errors.h"
#include "Profile.h"
#include "Registers.h"
#include "comm_mb.h"

// ---- The communication library

// Loaded from beside the executable, under the platform's name for
// "comm_mb" (libcomm_mb.so here, comm_mb.dll on Windows).
QString CommLibraryPath();
// Binds the library and resolves init_comm, invoke_modb and EnumParameters in
// that order. On failure shows the one error box (no owner) and returns false.
// The optional entry points are resolved where the library has them.
bool LoadCommLibrary();
bool LoadCommLibraryFrom(const QString& path);

// The three entry-point slots, and those of the optional entry points (null
// when the library has not got them). Tests may put stand-ins here.
struct CommEntryPoints {
    init_comm_fn init_comm = nullptr;
    invoke_modb_fn invoke_modb = nullptr;
    EnumParameters_fn EnumParameters = nullptr;
    scan_read_fn scan_read = nullptr; // the bus scan's quick look
    // Listening without sending (Listen.h).
    listen_start_fn listen_start = nullptr;
    listen_read_fn listen_read = nullptr;
    listen_stop_fn listen_stop = nullptr;
};
extern CommEntryPoints Comm;

// ---- Link settings

extern QString PortName;
extern int32_t BaudRate;
extern uint8_t ParityIndex;   // 0 none, 1 odd, 2 even
extern uint8_t ModuleAddress; // slave address of every request
extern QString SerialLetter;  // first character: the serial number's letter

// The letter of SerialLetter as an index, 0 for "A" to 25 for "Z" (its first
// character, in upper case), or -1 when it holds no such letter.
int SerialLetterIndexSetting();

// The settings file: the executable's name with the extension ".ini", in the
// folder that SettingsFolder.h chooses (beside the executable when that
// folder is writable). The link keys are read and saved in module/.
QString SettingsFilePath();
// The same name beside the executable, wherever SettingsFolder.h puts the
// settings: where they were before the program's folder became read-only.
QString ProgramFolderSettingsFilePath();

// The tool's settings file as every reader and writer of it, whatever its
// section, takes it: the file at SettingsFilePath(), which, while it does not
// exist yet, reads as the one at ProgramFolderSettingsFilePath() and is
// first saved from the whole of that one (ProfileFile with an older file).
ProfileFile ToolSettingsFile();

// The name the status line gives a parity index: "None", "Odd", "Even", or
// "?" for any other value.
QString ParityName(int parity);
// The status line for the current link settings.
QString LinkStateText(bool opened);
// Where ShowLinkState puts the text (the main window's status bar).
extern std::function<void(const QString&)> LinkStateSink;
void ShowLinkState(bool opened);
// init_comm with these values; on failure the box "Невозможно открыть <port>".
// Refreshes the status line either way; changes no link setting.
bool OpenPort(const QString& port, int32_t baud, uint8_t parity);
// OpenPort with init_comm handed `device` in place of the port name: the
// port settings open a COM port on the device just chosen for it, before the
// choice is stored in the library's port map. The box names `port`.
bool OpenPortOn(const QString& port, const QString& device, int32_t baud, uint8_t parity);

// Opens the port `port` at `baud` and `parity` for a while, apart from the
// link: no box, no status line, no link setting changed (the bus scan at
// other settings, the tool following a module to its new link). The
// library's result code; `error`, when given, gets the errno it left.
int32_t OpenLineAt(const QString& port, int32_t baud, uint8_t parity, int* error = nullptr);

// Why the last OpenPort could not open its port: the errno the library left
// (ENOENT no such device, EACCES no permission, EBUSY held by another
// program, ENOTTY not a serial port, ...); 0 after a successful open.
extern int LastOpenError;
// The reason for the technician, one short Russian sentence; empty for 0.
// For a gateway on the network (`port` a tcp: or rtu-tcp: name) it names
// the host and port; without `port`, the port of the link settings.
QString OpenFailureReason(int error);
QString OpenFailureReason(int error, const QString& port);

// Whether `port` names a gateway on the network (tcp:, rtu-tcp:), spelt
// well or not.
bool IsNetworkPort(const QString& port);
// Whether `port` names a gateway, spelt as it must be.
bool IsGoodNetworkPort(const QString& port);

// ---- The library's own settings file and the serial devices (Linux)

// comm_mb.ini, where the communication library reads its port map.
QString CommSettingsFilePath();
// Where the serial devices are looked for: "/" (tests give a made-up tree).
extern QString SerialDeviceRoot;

// ---- Holding the periodic poll

// While one lives, the main window's periodic poll lets its ticks go by
// without polling (the switch stays on): whatever moves the module's link
// holds it, so that no poll goes to a link on the move and polling goes on,
// once all are gone, on the link the tool is on then. They nest.
class PollHold {
  public:
    PollHold();
    ~PollHold();
    PollHold(const PollHold&) = delete;
    PollHold& operator=(const PollHold&) = delete;
    static bool held();
};

// ---- Register operations (up to three attempts each; ECommError on failure)

constexpr int MaxAttempts = 3;

void ReadRegisters(uint16_t first, uint16_t count, uint16_t* buffer);
void WriteRegisters(uint16_t first, uint16_t count, const uint16_t* buffer);
void ReadRegister(uint16_t number, uint16_t& value);
void WriteRegister(uint16_t number, uint32_t value); // low 16 bits are written
// A protected write: each attempt of the write is preceded by its own
// WriteRegister(1912, UnlockKey), with its three attempts; when the unlock
// fails, its ECommError ends the write. `sent`, when given, tells also after
// a failure whether the write itself went out: the module may then hold the
// new value, whatever became of its reply.
void WriteRegistersUnlocked(uint16_t first, uint16_t count, const uint16_t* buffer,
                            bool* sent = nullptr);
void WriteRegisterUnlocked(uint16_t number, uint32_t value, bool* sent = nullptr);

constexpr uint16_t UnlockKey = reg::UnlockKey;

// ---- The bus scan's look at one address

// Whether the library has scan_read: one quick look per address. Without it
// a look is today's exchange, much slower.
bool QuickLooks();

// One read of `count` registers from `first` at the slave `address` for the
// scan of the line (ScanLook, not the module's address): with scan_read a
// single attempt with the short reply allowance (`patient`: the full one),
// `other` getting the address of an intact reply from another slave heard
// meanwhile (0: none); otherwise invoke_modb with up to three attempts. Like
// every exchange it is counted in the link statistics, as a look of the scan
// (LinkStats.h), and its frames are taken in. Returns the library's result
// code and throws nothing.
int32_t ScanLook(uint8_t address, uint16_t first, uint16_t count, uint16_t* words, bool patient,
                 uint8_t* other);

// ---- The automatic search

// EnumParameters on `port` for the module of type `typeCode` with
// serial-number word `serial` at `address`: the library's result code, the
// speed and parity it found, and the errno it left in `error`. Its frames are
// taken in.
int32_t SearchLine(const QString& port, uint16_t typeCode, uint16_t serial, int32_t address,
                   int32_t& baud, uint8_t& parity, int& error);
