#include "NetSocket.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace comm {

namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

#if defined(_WIN32)
using Handle = SOCKET;
constexpr Handle NoSocket = INVALID_SOCKET;

int lastError() {
    switch (WSAGetLastError()) {
    case WSAECONNREFUSED:
        return ECONNREFUSED;
    case WSAETIMEDOUT:
        return ETIMEDOUT;
    case WSAEHOSTUNREACH:
        return EHOSTUNREACH;
    case WSAENETUNREACH:
        return ENETUNREACH;
    case WSAECONNRESET:
        return ECONNRESET;
    default:
        return EIO;
    }
}

bool started() {
    static const bool ok = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}

void closeHandle(Handle s) {
    closesocket(s);
}

int pollOne(Handle s, short events, int timeoutMs, short* revents) {
    WSAPOLLFD p{};
    p.fd = s;
    p.events = events;
    const int n = WSAPoll(&p, 1, timeoutMs);
    *revents = p.revents;
    return n;
}

bool setBlocking(Handle s, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

bool inProgress() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

// A connection under way, waited for with select: WSAPoll of older Windows
// does not report a refused connection at all.
int waitConnected(Handle s, int timeoutMs, short* revents) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval t{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int n = select(0, nullptr, &writable, &failed, &t);
    *revents = n > 0 ? POLLOUT : 0;
    return n;
}

constexpr int SendFlags = 0;
#else
using Handle = int;
constexpr Handle NoSocket = -1;

int lastError() {
    return errno;
}

void closeHandle(Handle s) {
    ::close(s);
}

int pollOne(Handle s, short events, int timeoutMs, short* revents) {
    pollfd p{s, events, 0};
    int n = 0;
    do {
        n = ::poll(&p, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    *revents = p.revents;
    return n;
}

bool setBlocking(Handle s, bool blocking) {
    const int flags = fcntl(s, F_GETFL);
    return flags >= 0 &&
           fcntl(s, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

bool inProgress() {
    return errno == EINPROGRESS;
}

int waitConnected(Handle s, int timeoutMs, short* revents) {
    return pollOne(s, POLLOUT, timeoutMs, revents);
}

constexpr int SendFlags = MSG_NOSIGNAL;
#endif

// Milliseconds for poll, rounded up so that a short wait is no busy loop.
int pollMs(microseconds timeout) {
    if (timeout.count() <= 0)
        return 0;
    return static_cast<int>((timeout.count() + 999) / 1000);
}

} // namespace

#if defined(_WIN32)
#define COMM_HANDLE static_cast<Handle>(socket_)
#define COMM_SET_HANDLE(s) (socket_ = static_cast<uintptr_t>(s))
#else
#define COMM_HANDLE fd_
#define COMM_SET_HANDLE(s) (fd_ = (s))
#endif

bool NetSocket::isOpen() const {
    return COMM_HANDLE != NoSocket;
}

void NetSocket::close() {
    if (isOpen()) {
        closeHandle(COMM_HANDLE);
        COMM_SET_HANDLE(NoSocket);
    }
}

int NetSocket::open(const std::string& host, uint16_t port, milliseconds timeout) {
    close();
#if defined(_WIN32)
    if (!started())
        return EIO;
#endif
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
        return ENOENT;
    int error = ECONNREFUSED;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        const Handle s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == NoSocket) {
            error = lastError();
            continue;
        }
        if (!setBlocking(s, false)) {
            error = lastError();
            closeHandle(s);
            continue;
        }
        bool connected = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0;
        if (!connected && inProgress()) {
            short revents = 0;
            const int n = waitConnected(s, static_cast<int>(timeout.count()), &revents);
            if (n == 0) {
                error = ETIMEDOUT;
            } else if (n > 0) {
                int soError = 0;
                socklen_t len = sizeof soError;
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
#if defined(_WIN32)
                if (soError != 0) {
                    WSASetLastError(soError);
                    error = lastError();
                }
#else
                error = soError;
#endif
                connected = soError == 0;
            } else {
                error = lastError();
            }
        } else if (!connected) {
            error = lastError();
        }
        if (connected) {
            setBlocking(s, true);
            // Requests are small and each waits for its answer: no Nagle delay.
            int on = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            COMM_SET_HANDLE(s);
            freeaddrinfo(found);
            return 0;
        }
        closeHandle(s);
    }
    freeaddrinfo(found);
    return error;
}

int NetSocket::read(uint8_t* bytes, int max, microseconds timeout) {
    if (!isOpen())
        return -1;
    short revents = 0;
    const int n = pollOne(COMM_HANDLE, POLLIN, pollMs(timeout), &revents);
    if (n < 0)
        return -1;
    if (n == 0)
        return 0;
    const auto got = ::recv(COMM_HANDLE, reinterpret_cast<char*>(bytes), max, 0);
    if (got <= 0)
        return -1; // closed by the other side, or failed
    return static_cast<int>(got);
}

bool NetSocket::write(const uint8_t* bytes, int length) {
    if (!isOpen())
        return false;
    int done = 0;
    while (done < length) {
        const auto n = ::send(COMM_HANDLE, reinterpret_cast<const char*>(bytes + done),
                              length - done, SendFlags);
        if (n <= 0) {
#if !defined(_WIN32)
            if (n < 0 && errno == EINTR)
                continue;
#endif
            return false;
        }
        done += static_cast<int>(n);
    }
    return true;
}

bool NetSocket::peerClosed() {
    if (!isOpen())
        return true;
    short revents = 0;
    const int n = pollOne(COMM_HANDLE, POLLIN, 0, &revents);
    if (n < 0)
        return true;
    if (n == 0)
        return false;
    if (revents & (POLLERR | POLLHUP | POLLNVAL))
        return true;
    char byte = 0;
    const auto got = ::recv(COMM_HANDLE, &byte, 1, MSG_PEEK);
    return got <= 0;
}

#undef COMM_HANDLE
#undef COMM_SET_HANDLE

} // namespace comm
