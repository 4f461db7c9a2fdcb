// A libmodbus RTU master on the simulated module's device, for the tests.
#pragma once

#include <gtest/gtest.h>
#include <modbus/modbus.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

// errno of a Modbus exception reply
constexpr int Ex(int code) {
    return MODBUS_ENOBASE + code;
}

class Master {
  public:
    // parity 0 none (two stop bits: 11-bit characters), 1 odd, 2 even
    explicit Master(const std::string& device, int baud = 19200, int parity = 2, int slave = 1,
                    int timeoutMs = 250) {
        ctx_ = modbus_new_rtu(device.c_str(), baud, "NOE"[parity], 8, parity == 0 ? 2 : 1);
        EXPECT_NE(ctx_, nullptr);
        EXPECT_EQ(modbus_connect(ctx_), 0) << modbus_strerror(errno);
        modbus_set_slave(ctx_, slave);
        modbus_set_response_timeout(ctx_, 0, static_cast<uint32_t>(timeoutMs) * 1000);
    }
    ~Master() {
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
    Master(const Master&) = delete;
    Master& operator=(const Master&) = delete;

    modbus_t* ctx() { return ctx_; }
    void setSlave(int slave) { modbus_set_slave(ctx_, slave); }

    // 0 on success, otherwise the errno libmodbus left (Ex(code), ETIMEDOUT, EMBBADCRC).
    int read(uint16_t first, int count, std::vector<uint16_t>* out = nullptr) {
        std::vector<uint16_t> buf(static_cast<size_t>(count > 0 ? count : 1));
        errno = 0;
        if (modbus_read_registers(ctx_, first, count, buf.data()) != count)
            return errno ? errno : -1;
        if (out)
            *out = buf;
        return 0;
    }
    int write(uint16_t first, const std::vector<uint16_t>& values) {
        errno = 0;
        const int n = static_cast<int>(values.size());
        if (modbus_write_registers(ctx_, first, n, values.data()) != n)
            return errno ? errno : -1;
        return 0;
    }
    // The values, or an empty vector after a failure.
    std::vector<uint16_t> values(uint16_t first, int count) {
        std::vector<uint16_t> v;
        const int rc = read(first, count, &v);
        EXPECT_EQ(rc, 0) << "reading " << first << ": " << modbus_strerror(rc);
        return rc == 0 ? v : std::vector<uint16_t>{};
    }
    // Sends a request as given (CRC appended) and returns the raw answer.
    std::vector<uint8_t> raw(const std::vector<uint8_t>& pdu) {
        if (modbus_send_raw_request(ctx_, pdu.data(), static_cast<int>(pdu.size())) < 0)
            return {};
        uint8_t rsp[MODBUS_RTU_MAX_ADU_LENGTH];
        const int n = modbus_receive_confirmation(ctx_, rsp);
        return n > 0 ? std::vector<uint8_t>(rsp, rsp + n) : std::vector<uint8_t>{};
    }

  private:
    modbus_t* ctx_ = nullptr;
};

} // namespace simtest
