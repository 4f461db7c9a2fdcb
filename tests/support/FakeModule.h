// A module without a line, for the tests above the library: its registers in
// a map that answers as the register table says, every invoke_modb call
// logged, faults on demand. While it lives it stands in the library's
// entry-point slots (Comm of Func.h).
#pragma once

#include <QStringList>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "Func.h"

class FakeModule {
  public:
    struct Call {
        uint8_t address, function;
        uint16_t first, count;
        std::vector<uint16_t> values; // the words written, or those read when answered
        int32_t result;
    };

    // Takes the Comm slots (init_comm answers COMM_OK, no EnumParameters),
    // keeping what was there for the destructor to put back.
    FakeModule();
    ~FakeModule();
    FakeModule(const FakeModule&) = delete;
    FakeModule& operator=(const FakeModule&) = delete;

    // A fresh module, back in the Comm slots: no register set, no call, no
    // fault, no unlock pending.
    void reset();

    // A register outside the table or read or written against its access
    // gets exception 2; a protected write not right after the unlock, 3.
    std::map<uint16_t, uint16_t> regs; // never set: 0
    std::vector<Call> calls;
    QStringList log; // the calls as text: "R264", "W8x4", "W1911=23100"

    // Faults: a call failed by them is logged but never reaches the module.
    std::vector<int32_t> results; // of the next calls in turn; 0 goes on as usual
    int silentNext = 0;           // so many next calls go unanswered (COMM_NO_REPLY)
    std::set<uint16_t> failing;   // so does every call touching these registers
    // So many next writes touching a register are carried out, but their
    // replies are lost on the way back (COMM_NO_REPLY).
    std::map<uint16_t, int> repliesLost;

  private:
    int32_t invoke(Call call, uint16_t* buffer);
    int32_t carryOut(bool write, uint16_t first, uint16_t count, uint16_t* buffer);

    CommEntryPoints saved_;
    bool unlocked_ = false;
};
