#include "FakeModule.h"

#include "Registers.h"

namespace {

FakeModule* Installed = nullptr;

} // namespace

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
    unlocked_ = false;
    Installed = this;
    Comm.init_comm = [](const char*, int32_t, uint8_t) -> int32_t { return COMM_OK; };
    Comm.invoke_modb = [](uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                          uint16_t* buffer) {
        return Installed->invoke({address, function, first, count, {}, COMM_OK}, buffer);
    };
    Comm.EnumParameters = nullptr;
}

int32_t FakeModule::invoke(Call call, uint16_t* buffer) {
    QString entry = (call.function == 3 ? QStringLiteral("R") : QStringLiteral("W")) +
                    QString::number(call.first);
    if (call.count > 1)
        entry += QStringLiteral("x") + QString::number(call.count);
    else if (call.function == 16)
        entry += QStringLiteral("=") + QString::number(buffer[0]);
    log << entry;
    if (call.function == 16)
        call.values.assign(buffer, buffer + call.count);

    if (!results.empty()) {
        call.result = results.front();
        results.erase(results.begin());
    }
    if (call.result == COMM_OK && silentNext > 0) {
        --silentNext;
        call.result = COMM_NO_REPLY;
    }
    for (int r = call.first; r < call.first + call.count; ++r)
        if (call.result == COMM_OK && failing.count(static_cast<uint16_t>(r)))
            call.result = COMM_NO_REPLY;
    if (call.result == COMM_OK)
        call.result = carryOut(call.function, call.first, call.count, buffer);
    if (call.result == COMM_OK && call.function == 3)
        call.values.assign(buffer, buffer + call.count);
    calls.push_back(call);
    return call.result;
}

uint8_t FakeModule::carryOut(uint8_t function, uint16_t first, uint16_t count, uint16_t* buffer) {
    constexpr uint8_t IllegalFunction = 1, IllegalAddress = 2, IllegalValue = 3;
    if (function != 3 && function != 16)
        return IllegalFunction;
    const bool write = function == 16;
    const bool wasUnlocked = unlocked_;
    if (write)
        unlocked_ = false; // every write uses the unlock up, also a refused one
    for (int i = 0; i < count; ++i) {
        const auto r = static_cast<uint16_t>(first + i);
        if (!(write ? reg::IsWritable(r) : reg::IsReadable(r)))
            return IllegalAddress;
        if (write && reg::IsProtected(r) && !wasUnlocked)
            return IllegalValue;
    }
    for (int i = 0; i < count; ++i) {
        const auto r = static_cast<uint16_t>(first + i);
        if (!write)
            buffer[i] = regs[r];
        else
            regs[r] = buffer[i];
        if (write && r == reg::Unlock)
            unlocked_ = buffer[i] == reg::UnlockKey;
    }
    return 0;
}
