// The modules on one RS-485 line: which addresses answer at which speed and
// parity, who answers there (registration number, type, firmware, the
// module's own address, speed and parity), and what is wrong where nothing
// intelligible comes back. The scan only reads (registers 768-769, 0 and
// 257-259) and runs one exchange per step, so that a window can keep its
// events going between the steps.
//
// It uses the library's scan_read where the library has it (one quick look
// per address, a short reply allowance); otherwise today's exchanges
// (invoke_modb, three attempts, the full response time-out), much slower.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace bus {

struct LineSetting {
    int32_t baud = 0;
    uint8_t parity = 0; // 0 none, 1 odd, 2 even
    bool operator==(const LineSetting&) const = default;
};

// "19200 бод, Even"
QString SettingText(const LineSetting& s);

// The settings "Все скорости" tries, each once: the factory setting (19200,
// even), then `present` (the tool's link), then the most likely ones (the
// other parities at 19200, then 9600, 115200, 38400, 57600, 4800, 2400 and
// 28800, each even, none, odd).
std::vector<LineSetting> AllSettings(const LineSetting& present);

// What came back from an address.
enum class State {
    Answers,   // a module of the type this tool serves
    OtherType, // a module of another type
    Exception, // the module refused the identity read (a Modbus exception)
    Garbled,   // damaged replies only: two modules at one address, or noise
};

// The state for the final result `code` of the identity read (registers 768
// and 769) and, when it succeeded, the type code read; nothing for silence.
// Results that stop a scan (the port failed or is not open) are no state
// either: see ScanStopper.
std::optional<State> StateOf(int32_t code, uint16_t typeCode);

// A message that ends the scan for this result of a look, or an empty text
// when the scan goes on. `port` names the port.
QString ScanStopper(int32_t code, const QString& port);

struct Found {
    int address = 0;
    LineSetting at; // where it answered
    int settingIndex = 0;
    State state = State::Garbled;
    int exception = 0; // State::Exception: the code
    std::optional<uint16_t> typeCode, version, serial;
    std::optional<uint16_t> ownAddress, ownSpeedCode, ownParity; // registers 257-259

    // The module's own link (257-259) differs from where it answered: it
    // takes it at its next restart.
    bool ownLinkDiffers() const;
    // The row as the window, the copy and the file show it, one text per column.
    QStringList fields() const;
    QString stateText() const;
};

// The column titles of Found::fields.
QStringList FoundColumns();

// The list as CSV for a spreadsheet (module/Csv.h): a header line, one line
// per module.
QByteArray FoundCsv(const std::vector<Found>& found);
// The list as plain text: `title`, then the columns separated by tabs.
QString FoundText(const std::vector<Found>& found, const QString& title);

class BusScan {
  public:
    struct Options {
        bool allSettings = false; // every speed and parity, else the link's own
        int expected = 0;         // stop once so many modules answered (0: scan all)
    };

    // Scans the line of the tool's link (PortName, BaudRate, ParityIndex).
    explicit BusScan(const Options& options);
    // Puts the link back if the scan did not end.
    ~BusScan();
    BusScan(const BusScan&) = delete;
    BusScan& operator=(const BusScan&) = delete;

    // One step: one exchange at most. Returns whether there is more to do.
    // A failure (the port not open, failed or pulled) ends the scan with the
    // link put back and throws Exception with the message.
    bool step();
    // Ends the scan now; the link is as it was before (the port reopened at
    // the tool's settings after "Все скорости").
    void stop();
    bool running() const { return running_; }

    // True when the library has scan_read: the fast scan.
    static bool Fast();

    // ---- Progress
    int settingCount() const { return static_cast<int>(settings_.size()); }
    int settingIndex() const { return settingIndex_; } // 0-based
    LineSetting setting() const;
    int address() const { return address_; } // the quick pass is at it (1..247)
    // 0 to 1 over the whole scan.
    double fraction() const;
    // Modules that answered intelligibly (all but Garbled).
    int answered() const;
    // What answered, by setting and address.
    const std::vector<Found>& found() const { return found_; }
    // Whether the scan ended before its last address: "Стоп", a failure, or
    // as many modules answered as expected.
    bool stoppedEarly() const { return stoppedEarly_; }

  private:
    struct Look {
        int32_t code = 0;
        uint8_t other = 0; // another slave's reply heard meanwhile
    };
    Look look(int address, uint16_t first, uint16_t count, uint16_t* words, bool patient);
    bool openSetting();
    void quickStep();
    void recheckStep();
    void identityStep();
    void noteOther(int address, const Look& l);
    bool foundHere(int address) const;
    void heard(int address, const Look& l, const uint16_t* words);
    void add(Found f);
    void dropRepeat(size_t row);
    bool enoughFound() const;
    void nextSetting();
    void finish();
    [[noreturn]] void fail(const QString& message);

    Options options_;
    std::vector<LineSetting> settings_;
    int settingIndex_ = 0;
    bool settingOpen_ = false;
    int address_ = 1;
    std::set<int> recheck_;          // addresses to look at again, patiently
    int recheckAddress_ = 0;         // the first of them, looked at
    int recheckTries_ = 0;           // so many times
    std::optional<size_t> identity_; // the row whose identity is being read
    int identityPart_ = 0;           // 0: registration number, 1: own link
    int identityTries_ = 0;
    std::vector<Found> found_;
    bool running_ = true;
    bool reopened_ = false; // the port was opened at other settings
    bool stoppedEarly_ = false;
};

} // namespace bus
