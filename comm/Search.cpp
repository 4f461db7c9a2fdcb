#include "Search.h"

#include "Link.h"
#include "PortName.h"
#include "comm_mb.h"

#include <cerrno>

namespace comm {

namespace {

// The library stands on its own, under the tool: it keeps the few register
// facts the search needs here rather than take them from the tool's register
// table.
constexpr uint8_t ReadFunction = 3;    // read holding registers
constexpr uint16_t TypeRegister = 768; // module type code
constexpr uint16_t SerialRegister = 0; // serial-number word
constexpr int TriesOnCorruption = 3;

// What came back for one register at one setting.
enum class Answer { Value, Silence, Corrupted, Other };

Answer classify(int32_t code) {
    switch (code) {
    case COMM_OK:
        return Answer::Value;
    case COMM_NO_REPLY:
        return Answer::Silence;
    case COMM_BAD_CRC:
    case COMM_BAD_REPLY:
    case COMM_WRONG_SLAVE:
        return Answer::Corrupted;
    default:
        return Answer::Other; // an exception reply or a port failure
    }
}

struct Sweep {
    Link& link;
    uint8_t address;
    bool sawClean = false;     // some reply came through intact
    bool sawCorrupted = false; // some reply came back damaged

    // Reads one register, repeating the request while the replies are damaged.
    Answer read(uint16_t reg, uint16_t& value, int32_t& code, Link::Guard guard) {
        Answer answer = Answer::Silence;
        for (int i = 0; i < TriesOnCorruption; ++i) {
            code = link.exchange(address, ReadFunction, reg, 1, &value, guard);
            answer = classify(code);
            if (answer == Answer::Corrupted) {
                sawCorrupted = true;
                continue;
            }
            if (answer != Answer::Silence) {
                sawClean = true;
            }
            break;
        }
        return answer;
    }

    // Whether the module of that type and serial number answers at the open
    // setting. Stops the search (returns the code) on a port failure.
    bool matches(uint16_t typeCode, uint16_t serial, Link::Guard guard, int32_t& failure) {
        uint16_t value = 0;
        int32_t code = COMM_OK;
        Answer answer = read(TypeRegister, value, code, guard);
        if (answer == Answer::Other && code == COMM_IO_ERROR) {
            failure = code;
            return false;
        }
        if (answer != Answer::Value || value != typeCode) {
            return false;
        }
        answer = read(SerialRegister, value, code, guard);
        return answer == Answer::Value && value == serial;
    }
};

} // namespace

const std::vector<LineSetting>& searchOrder() {
    static const std::vector<LineSetting> order = [] {
        std::vector<LineSetting> v;
        for (int32_t baud : {19200, 9600, 115200, 38400, 57600, 4800, 2400, 28800}) {
            for (uint8_t parity : {uint8_t{2}, uint8_t{0}, uint8_t{1}}) {
                v.push_back({baud, parity});
            }
        }
        return v;
    }();
    return order;
}

int32_t searchModule(Link& link, const std::string& device, uint16_t typeCode, uint16_t serial,
                     uint8_t address, int32_t* baud, uint8_t* parity) {
    const auto fullAllowance = link.responseAllowance();
    Sweep sweep{link, address};
    const int32_t result = [&]() -> int32_t {
        // Behind a gateway the serial line's settings are the gateway's: no
        // sweep can change them. The address alone is looked for, once, with
        // the full allowance.
        const bool network = parseNetName(device, nullptr) == NetName::Good;
        static const std::vector<LineSetting> gatewaySetting = {{19200, 2}};
        const std::vector<std::chrono::microseconds> passes =
            network ? std::vector<std::chrono::microseconds>{fullAllowance}
                    : std::vector<std::chrono::microseconds>{QuickPassAllowance, fullAllowance};
        for (const auto allowance : passes) {
            link.setResponseAllowance(allowance);
            for (const LineSetting& s : network ? gatewaySetting : searchOrder()) {
                if (const int32_t rc = link.open(device, s.baud, s.parity); rc != COMM_OK) {
                    // A setting the port cannot run at (a driver without
                    // 28800) is skipped; a port that cannot be opened at all
                    // ends the search.
                    if (link.openError() == EINVAL) {
                        continue;
                    }
                    return rc;
                }
                int32_t failure = COMM_OK;
                bool found = sweep.matches(typeCode, serial, Link::Guard::Sweep, failure);
                if (found && link.unanswered() > 0) {
                    // The replies may have been late ones from another
                    // setting: ask again once none of those can come any more.
                    link.settle();
                    found = sweep.matches(typeCode, serial, Link::Guard::Settle, failure);
                }
                if (failure != COMM_OK) {
                    return failure;
                }
                if (found) {
                    *baud = s.baud;
                    *parity = s.parity;
                    return COMM_OK;
                }
            }
        }
        return sweep.sawCorrupted && !sweep.sawClean ? COMM_BAD_CRC : COMM_NO_REPLY;
    }();
    link.setResponseAllowance(fullAllowance);
    link.close();
    return result;
}

} // namespace comm
