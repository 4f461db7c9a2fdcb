// A module without a line, for the tests of the layers above the library:
// its registers in a map with the access of the register table, every
// invoke_modb call logged, faults on demand. While it lives it stands in the
// library's entry-point slots (Comm of Func.h).
#pragma once

#include <QStringList>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "Func.h"

class FakeModule {
  public:
    // One call of invoke_modb as it came.
    struct Call {
        uint8_t address = 0;
        uint8_t function = 0;
        uint16_t first = 0;
        uint16_t count = 0;
        std::vector<uint16_t> values; // the words written, or those read when answered
        int32_t result = COMM_OK;
    };

    // Takes the Comm slots (init_comm answers COMM_OK, no EnumParameters),
    // keeping what was there; the destructor puts that back.
    FakeModule();
    ~FakeModule();
    FakeModule(const FakeModule&) = delete;
    FakeModule& operator=(const FakeModule&) = delete;

    // A fresh module, back in the Comm slots: no register set, no call, no
    // fault, no unlock pending.
    void reset();

    // The module answers as the register table says: exception 2 for a
    // register it does not read or write, exception 3 for a protected write
    // that does not come right after UnlockKey went to Unlock.
    std::map<uint16_t, uint16_t> regs; // registers never set read 0
    std::vector<Call> calls;
    QStringList log; // the calls as text: "R264", "W8x4", "W1911=23100"

    // Faults. A call that fails by them is logged but never reaches the module.
    std::vector<int32_t> results; // results of the next calls in turn; 0 goes on as usual
    int silentNext = 0;           // so many next calls go unanswered (COMM_NO_REPLY)
    std::set<uint16_t> failing;   // so does every call touching these registers

  private:
    int32_t invoke(Call call, uint16_t* buffer);
    uint8_t carryOut(uint8_t function, uint16_t first, uint16_t count, uint16_t* buffer);

    CommEntryPoints saved_;
    bool unlocked_ = false;
};
