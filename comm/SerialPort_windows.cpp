// Windows: CreateFile opens a COM port for one handle at a time; the speed
// goes to the driver as it is (28800 included) and the line is read back.
// Every read has a time-out: the port never blocks the library for good.
#include "SerialPort.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace comm {

namespace {

static_assert(sizeof(DCB) <= 64, "SerialPort::savedLine_ holds a DCB");

HANDLE handleOf(void* h) {
    return static_cast<HANDLE>(h);
}

int errnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EBUSY;
    default:
        return EIO;
    }
}

// With a constant: ReadFile comes back as soon as any byte has come, else
// after `ms`. Without: at once with what is there. A write gets a second.
bool setTimeouts(HANDLE h, DWORD ms) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = ms > 0 ? MAXDWORD : 0;
    t.ReadTotalTimeoutConstant = ms;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = 1000;
    return SetCommTimeouts(h, &t) != 0;
}

} // namespace

int SerialPort::open(const std::string& device, int32_t baud, int32_t parity) {
    close();
    if (baud <= 0)
        return EINVAL;
    const HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return errnoOf(GetLastError());
    DCB found{};
    found.DCBlength = sizeof(DCB);
    if (!GetCommState(h, &found)) {
        CloseHandle(h);
        return ENOTTY;
    }
    DCB dcb = found; // hardware handshaking as it was
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.StopBits = parity == 0 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.Parity = parity == 0 ? NOPARITY : parity == 1 ? ODDPARITY : EVENPARITY;
    dcb.fParity = parity == 0 ? FALSE : TRUE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fBinary = TRUE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(h, &dcb)) {
        CloseHandle(h);
        return EINVAL;
    }
    // A driver may take a speed it cannot make and quietly keep another.
    // Parity is not compared: a pseudo-terminal behind wine reports none
    // whatever was set, and a driver that cannot make a parity refuses
    // SetCommState.
    DCB back{};
    back.DCBlength = sizeof(DCB);
    if (!GetCommState(h, &back) || back.BaudRate != dcb.BaudRate || back.ByteSize != dcb.ByteSize ||
        back.StopBits != dcb.StopBits) {
        SetCommState(h, &found);
        CloseHandle(h);
        return EINVAL;
    }
    std::memcpy(savedLine_, &found, sizeof found);
    handle_ = h;
    // No read or write ever waits without a time-out.
    timeoutsSet_ = setTimeouts(h, 0);
    readTimeoutMs_ = 0;
    return 0;
}

void SerialPort::close() {
    if (handle_ == nullptr)
        return;
    DCB found{};
    std::memcpy(&found, savedLine_, sizeof found);
    SetCommState(handleOf(handle_), &found);
    CloseHandle(handleOf(handle_));
    handle_ = nullptr;
}

bool SerialPort::isOpen() const {
    return handle_ != nullptr;
}

int SerialPort::read(uint8_t* bytes, int max, std::chrono::microseconds timeout) {
    if (handle_ == nullptr)
        return -1;
    // Whole milliseconds, rounded up: a wait is never cut short.
    const int64_t us = std::max<int64_t>(timeout.count(), 0);
    const DWORD ms = static_cast<DWORD>(std::min<int64_t>((us + 999) / 1000, MAXDWORD - 1));
    if (!timeoutsSet_ || ms != readTimeoutMs_) {
        if (!setTimeouts(handleOf(handle_), ms))
            return -1;
        readTimeoutMs_ = ms;
        timeoutsSet_ = true;
    }
    DWORD n = 0;
    if (!ReadFile(handleOf(handle_), bytes, static_cast<DWORD>(max), &n, nullptr))
        return -1;
    return static_cast<int>(n);
}

bool SerialPort::write(const uint8_t* bytes, int length) {
    if (handle_ == nullptr)
        return false;
    DWORD n = 0;
    return WriteFile(handleOf(handle_), bytes, static_cast<DWORD>(length), &n, nullptr) &&
           n == static_cast<DWORD>(length);
}

void SerialPort::discard() {
    if (handle_ != nullptr)
        PurgeComm(handleOf(handle_), PURGE_RXCLEAR);
}

} // namespace comm
