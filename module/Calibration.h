// The two-point calibration of both input ranges, without widgets: the
// wizard's state (step, readings R1-R4, the coefficients as read, as held and
// as computed), its register sequence and arithmetic, and a result that says
// what a calibration found and what it wrote.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

// The prompt of each step 0..4 (there is none for step 5).
extern const std::array<QString, 5> CalibrationPrompts;
// The reading (register 1025: uA in current mode, mV in voltage mode) each
// step 1..4 expects; index 0 is unused.
constexpr std::array<int, 5> ExpectedReadings = {0, 2000, 20000, 1000, 10000};
constexpr int ReadingTolerance = 400;

// The windows around the default coefficients: 1 % of the range's default gain.
constexpr uint32_t CurrentWindow = 100947;
constexpr uint32_t VoltageWindow = 80854;

struct Coefficients {
    uint32_t gain = 0;
    uint32_t offset = 0;
};

// The new gain and offset of one range from the readings at its low and high
// reference (2 and 20 mA with factor 2, 1 and 10 V with factor 4). Computed in
// double precision from the coefficients held before; each result truncated
// toward zero and kept to its low 32 bits.
Coefficients CalibrateRange(uint32_t gain, uint32_t offset, int16_t lowReading, int16_t highReading,
                            int factor);

// `value`, or `def` when `value` lies more than `window` away from it.
uint32_t CheckCoefficient(uint32_t value, uint32_t def, uint32_t window);

// Whether a reading (unsigned 16 bits) is accepted at step 1..4.
bool ReadingAccepted(int step, uint16_t reading);

// What identifies a module in a record: its passport and the dates.
struct ModuleRecordId {
    uint16_t type = 0;            // register 768
    uint16_t serial = 0;          // register 0, the serial-number word
    uint16_t version = 0;         // register 769, the version word
    uint16_t manufactureDate = 0; // register 1, PackedDate
    uint16_t calibrationDate = 0; // register 256, PackedDate
};
// Reads them: registers 0-1, 256, 768-769 (three block reads). Throws ECommError.
ModuleRecordId ReadModuleRecordId();
// "A0042" as the passport shows it: the letter, then the number in four
// digits; `noLetter` in place of the letter when the word has none.
QString RegistrationText(uint16_t serialWord, const QString& noLetter = QString());
// "dd.mm.yyyy" of a PackedDate (its year within the century taken in the
// 2000s), or "—" when it holds no valid date.
QString PackedDateText(uint16_t packed);

// The coefficients in register order: current gain, current offset, voltage
// gain, voltage offset (registers 8, 10, 12, 14).
using CoefficientSet = std::array<uint32_t, 4>;
CoefficientSet DefaultCoefficients();
// Registers 8-11 and 12-15, two block reads. Throws ECommError.
CoefficientSet ReadCoefficients();
// Registers 8, 10, 12, 14, each an unlocked block write of 2 followed by a
// pause of 20 ms. Throws ECommError.
void WriteCoefficients(const CoefficientSet& c);

// What a calibration found and wrote. The readings R1..R4 were taken with
// the coefficients `held`, i.e. those the module had after the window check
// on entering step 1: they are the as-found record when no accuracy check
// came before.
struct CalibrationResult {
    ModuleRecordId module;              // filled by whoever reads the passport
    bool checksumError = false;         // flag bit 3 set: registers 8-15 not read
    CoefficientSet asRead{};            // as read on entering step 1 (defaults if not read)
    std::array<bool, 4> reset{};        // put back to its default by the window check
    CoefficientSet held{};              // what the module had while R1..R4 were taken
    std::array<uint16_t, 4> readings{}; // R1..R4
    std::array<int, 4> nominal = {ExpectedReadings[1], ExpectedReadings[2], ExpectedReadings[3],
                                  ExpectedReadings[4]};
    CoefficientSet written{}; // the new coefficients
    uint16_t dateWritten = 0; // PackedDate written to register 256
    bool complete = false;    // coefficients and date written
};

class Calibration {
  public:
    Calibration(); // the coefficients at their defaults, step 0

    int step() const { return step_; }
    void setStep(int step) { step_ = step; }
    uint16_t savedMode() const { return savedMode_; }
    uint16_t savedIntegrationTime() const { return savedIntegrationTime_; }
    const CoefficientSet& held() const { return result_.held; }
    const CalibrationResult& result() const { return result_; }

    // Register 264, then 265: what the close writes back.
    void saveUserSettings();
    // Entering the current range: take the module's coefficients (unless their
    // checksum is bad), put back the defaults for any that stray outside their
    // window, write all four back and switch the module to current.
    void enterCurrentRange();
    // Register 264 <- mode, 1911 <- the key, then the pause.
    static void switchMode(uint16_t mode, int pauseMs);
    // After the settle pause, reads register 1025 and keeps it as R<step>;
    // a reading too far from the nominal one throws and keeps nothing.
    void takeReading(int step);
    // Computes the new coefficients from those held since step 1 (not taken
    // over into them: a repeat after a failed write computes the very same
    // values), writes them and today's date.
    void computeAndWrite();
    // Registers 264 and 265 back to what saveUserSettings read, and the
    // apply command (1911), so that the module measures in that mode again.
    void restoreUserSettings() const;

  private:
    int step_ = 0;
    uint16_t savedMode_ = 0;
    uint16_t savedIntegrationTime_ = 0;
    CalibrationResult result_;
};
