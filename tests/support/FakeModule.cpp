#include "FakeModule.h"

#include <algorithm>

#include "Registers.h"

static FakeModule* Installed = nullptr; // the one in the Comm slots

FakeModule::FakeModule() : saved_(Comm) {
    reset();
}

FakeModule::~FakeModule() {
    Comm = saved_;
    Installed = nullptr;
}

void FakeModule::reset() {
    regs.clear();
    calls.clear();
    log.clear();
    results.clear();
    silentNext = 0;
    failing.clear();
    repliesLost.clear();
    unlocked_ = false;
    Installed = this;
    Comm.init_comm = [](const char*, int32_t, uint8_t) -> int32_t { return COMM_OK; };
    Comm.invoke_modb = [](uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                          uint16_t* buffer) {
        return Installed->invoke({address, function, first, count, {}, COMM_OK}, buffer);
    };
    Comm.EnumParameters = nullptr;
    Comm.scan_read = nullptr; // a library without the optional entry points
}

int32_t FakeModule::invoke(Call call, uint16_t* buffer) {
    const bool write = call.function == 16;
    log << (write ? QStringLiteral("W") : QStringLiteral("R")) + QString::number(call.first) +
               (call.count > 1 ? QStringLiteral("x%1").arg(call.count)
                : write        ? QStringLiteral("=%1").arg(buffer[0])
                               : QString());
    if (write)
        call.values.assign(buffer, buffer + call.count);
    if (!results.empty()) {
        call.result = results.front();
        results.erase(results.begin());
    }
    bool touchesFailing = false;
    for (int r = call.first; r < call.first + call.count; ++r)
        touchesFailing |= failing.count(static_cast<uint16_t>(r)) > 0;
    if (call.result == COMM_OK && (silentNext > 0 || touchesFailing))
        call.result = COMM_NO_REPLY;
    silentNext = std::max(silentNext - 1, 0);
    const bool reached = call.result == COMM_OK;
    if (reached)
        call.result = carryOut(write, call.first, call.count, buffer);
    for (auto& [r, left] : repliesLost)
        if (reached && write && left > 0 && r >= call.first && r < call.first + call.count) {
            --left;
            call.result = COMM_NO_REPLY;
            break;
        }
    if (call.result == COMM_OK && !write)
        call.values.assign(buffer, buffer + call.count);
    calls.push_back(call);
    return call.result;
}

int32_t FakeModule::carryOut(bool write, uint16_t first, uint16_t count, uint16_t* buffer) {
    const bool wasUnlocked = unlocked_;
    if (write)
        unlocked_ = false; // every write uses the unlock up, also a refused one
    for (int r = first; r < first + count; ++r) {
        if (!(write ? reg::IsWritable(static_cast<uint16_t>(r))
                    : reg::IsReadable(static_cast<uint16_t>(r))))
            return 2; // illegal data address
        if (write && reg::IsProtected(static_cast<uint16_t>(r)) && !wasUnlocked)
            return 3; // illegal data value
    }
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t& word = regs[static_cast<uint16_t>(first + i)];
        if (!write)
            buffer[i] = word;
        else
            word = buffer[i];
        if (write && first + i == reg::Unlock)
            unlocked_ = word == reg::UnlockKey;
    }
    return COMM_OK;
}
