// The library against bare libmodbus, the independent reference: the same
// exchange with the same simulated module and the same fault, once through
// libmodbus and once through the built library. Both must send the same
// bytes and come to the same result, and the library's record of the line
// must be, byte for byte, what the module read and wrote.
#include "Link.h"
#include "Rtu.h"
#include "SimModule.h"
#include "comm_mb.h"

#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <modbus.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::microseconds;

struct Exchange {
    const char* name;
    std::function<void(sim::SimModule&)> fault;
    uint8_t function;
    uint16_t first;
    uint16_t count;
    std::vector<uint16_t> values; // written, or the place for those read
};

struct Outcome {
    int32_t code = -1;
    std::vector<uint16_t> values;
    std::vector<sim::WireFrame> wire;
};

Outcome throughLibmodbus(const Exchange& e) {
    sim::SimModule module;
    e.fault(module);
    Outcome out;
    modbus_t* ctx = modbus_new_rtu(module.devicePath().c_str(), 19200, 'E', 8, 1);
    EXPECT_NE(ctx, nullptr);
    if (ctx == nullptr || modbus_connect(ctx) != 0) {
        ADD_FAILURE() << "libmodbus cannot open " << module.devicePath();
        if (ctx != nullptr)
            modbus_free(ctx);
        return out;
    }
    // The library's time-outs, so that both wait alike.
    const auto t = comm::timeoutsFor(19200, comm::requestBytes(e.function, e.count));
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 0, static_cast<uint32_t>(t.response.count()));
    modbus_set_byte_timeout(ctx, 0, static_cast<uint32_t>(t.byte.count()));
    out.values = e.values;
    errno = 0;
    const int rc = e.function == 3
                       ? modbus_read_registers(ctx, e.first, e.count, out.values.data())
                       : modbus_write_registers(ctx, e.first, e.count, out.values.data());
    out.code = rc == e.count ? COMM_OK : rc >= 0 ? COMM_BAD_REPLY : comm::codeForModbusErrno(errno);
    modbus_close(ctx);
    modbus_free(ctx);
    out.wire = module.wire();
    return out;
}

std::vector<comm_frame> framesAfter(uint64_t after) {
    std::vector<comm_frame> all;
    std::vector<comm_frame> chunk(64);
    for (;;) {
        int32_t count = 0;
        EXPECT_EQ(read_frames(after, chunk.data(), static_cast<int32_t>(chunk.size()),
                              sizeof(comm_frame), &count, nullptr),
                  COMM_OK);
        all.insert(all.end(), chunk.begin(), chunk.begin() + count);
        if (count == 0)
            return all;
        after = chunk[static_cast<std::size_t>(count - 1)].number;
    }
}

Outcome throughLibrary(const Exchange& e, std::vector<comm_frame>& frames) {
    sim::SimModule module;
    e.fault(module);
    Outcome out;
    EXPECT_EQ(init_comm(module.devicePath().c_str(), 19200, 2), COMM_OK);
    const auto before = framesAfter(0);
    const uint64_t after = before.empty() ? 0 : before.back().number;
    out.values = e.values;
    out.code = invoke_modb(1, e.function, e.first, e.count, out.values.data());
    frames = framesAfter(after);
    out.wire = module.wire();
    return out;
}

Bytes fromModule(const std::vector<sim::WireFrame>& wire) {
    Bytes all;
    for (const auto& w : wire)
        if (w.fromModule)
            all.insert(all.end(), w.bytes.begin(), w.bytes.end());
    return all;
}

std::vector<Bytes> toModule(const std::vector<sim::WireFrame>& wire) {
    std::vector<Bytes> all;
    for (const auto& w : wire)
        if (!w.fromModule)
            all.push_back(w.bytes);
    return all;
}

class AgainstLibmodbus : public ::testing::TestWithParam<Exchange> {};

} // namespace

TEST_P(AgainstLibmodbus, SameBytesSameResult) {
    const Exchange& e = GetParam();
    const Outcome reference = throughLibmodbus(e);
    std::vector<comm_frame> frames;
    const Outcome library = throughLibrary(e, frames);

    // libmodbus's own CRC on the requests it made is the library's CRC.
    for (const Bytes& r : toModule(reference.wire)) {
        ASSERT_GE(r.size(), 4u);
        const uint16_t crc = rtu::crc16(r.data(), r.size() - 2);
        EXPECT_EQ(r[r.size() - 2], crc & 0xFF);
        EXPECT_EQ(r[r.size() - 1], crc >> 8);
    }
    EXPECT_EQ(library.code, reference.code);
    EXPECT_EQ(library.values, reference.values);
    // The same request went out, and the module answered both alike.
    EXPECT_EQ(toModule(library.wire), toModule(reference.wire));
    EXPECT_EQ(fromModule(library.wire), fromModule(reference.wire));

    // The library's record: the request it sent, and the bytes it heard for
    // it, as the module wrote them (a dropped request: none).
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().kind, COMM_FRAME_REQUEST);
    const auto requests = toModule(library.wire);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(Bytes(frames.front().data, frames.front().data + frames.front().length),
              requests.front());
    Bytes heard;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_NE(frames[i].kind, COMM_FRAME_REQUEST);
        heard.insert(heard.end(), frames[i].data, frames[i].data + frames[i].length);
    }
    const Bytes written = fromModule(library.wire);
    // Bytes behind the reply (garbage) stay at the port until the next
    // exchange: what was heard is where the module's bytes begin.
    ASSERT_LE(heard.size(), written.size());
    EXPECT_EQ(heard, Bytes(written.begin(), written.begin() + static_cast<long>(heard.size())));
    EXPECT_EQ(frames.back().code, library.code);
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, AgainstLibmodbus,
    ::testing::Values(
        Exchange{"read", [](sim::SimModule&) {}, 3, 1024, 3, {0, 0, 0}},
        Exchange{"read_one", [](sim::SimModule&) {}, 3, 768, 1, {0}},
        Exchange{"read_four", [](sim::SimModule&) {}, 3, 0, 4, {0, 0, 0, 0}},
        Exchange{"write", [](sim::SimModule&) {}, 16, 1024, 1, {0}},
        Exchange{
            "exception", [](sim::SimModule& m) { m.exceptionNext(2, 1); }, 3, 1024, 3, {0, 0, 0}},
        Exchange{
            "write_refused", [](sim::SimModule& m) { m.refuseWrites(1024, 3); }, 16, 1024, 1, {7}},
        Exchange{"bad_crc", [](sim::SimModule& m) { m.corruptCrcNext(1); }, 3, 1024, 3, {0, 0, 0}},
        Exchange{"foreign", [](sim::SimModule& m) { m.foreignNext(1); }, 3, 1024, 3, {0, 0, 0}},
        Exchange{"cut", [](sim::SimModule& m) { m.cutNext(1); }, 3, 1024, 3, {0, 0, 0}},
        Exchange{
            "garbage_behind", [](sim::SimModule& m) { m.garbageNext(1); }, 3, 1024, 3, {0, 0, 0}},
        Exchange{"dropped", [](sim::SimModule& m) { m.dropNext(1); }, 3, 1024, 3, {0, 0, 0}},
        Exchange{"write_reply_lost",
                 [](sim::SimModule& m) { m.loseWriteReplies(1024, 1); },
                 16,
                 1024,
                 1,
                 {0}}),
    [](const ::testing::TestParamInfo<Exchange>& info) { return std::string(info.param.name); });
