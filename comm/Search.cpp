#include "Search.h"

#include "Link.h"
#include "comm_mb.h"

namespace comm {

namespace {

constexpr uint16_t TypeRegister = 768;
constexpr uint16_t SerialRegister = 0;
constexpr int Passes = 2;
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
    Link link;
    bool sawClean = false;     // some reply came through intact
    bool sawCorrupted = false; // some reply came back damaged

    // Reads one register, repeating the request while the replies are damaged.
    Answer read(uint8_t address, uint16_t reg, uint16_t& value, int32_t& code) {
        Answer answer = Answer::Silence;
        for (int i = 0; i < TriesOnCorruption; ++i) {
            code = link.exchange(address, 3, reg, 1, &value);
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

int32_t searchModule(const std::string& device, uint16_t typeCode, uint16_t serial, uint8_t address,
                     int32_t* baud, uint8_t* parity) {
    Sweep sweep;
    for (int pass = 0; pass < Passes; ++pass) {
        for (const LineSetting& s : searchOrder()) {
            if (const int32_t rc = sweep.link.open(device, s.baud, s.parity); rc != COMM_OK) {
                return rc;
            }
            uint16_t value = 0;
            int32_t code = COMM_OK;
            Answer answer = sweep.read(address, TypeRegister, value, code);
            if (answer == Answer::Other && code == COMM_IO_ERROR) {
                return COMM_IO_ERROR;
            }
            if (answer != Answer::Value || value != typeCode) {
                continue;
            }
            answer = sweep.read(address, SerialRegister, value, code);
            if (answer == Answer::Value && value == serial) {
                *baud = s.baud;
                *parity = s.parity;
                return COMM_OK;
            }
        }
    }
    return sweep.sawCorrupted && !sweep.sawClean ? COMM_BAD_CRC : COMM_NO_REPLY;
}

} // namespace comm
