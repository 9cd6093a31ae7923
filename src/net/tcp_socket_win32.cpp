// Winsock. Each open socket holds one WSAStartup reference, released when it
// closes, so the library needs no set-up call of its own.
#include <winsock2.h>
#include <ws2tcpip.h>
// After the two above, which it needs.
#include <mstcpip.h>

#include <chrono>

#include "net/tcp_socket.h"

namespace varek::net {

namespace {

using Clock = std::chrono::steady_clock;

SOCKET AsSocket(NativePortHandle handle) { return reinterpret_cast<SOCKET>(handle); }
NativePortHandle AsHandle(SOCKET socket) { return reinterpret_cast<NativePortHandle>(socket); }

// 1 ready, 0 timed out, -1 failed. `for_write` also watches the exception
// set, where Winsock reports a connect that failed.
int AwaitReady(SOCKET socket, bool for_write, bool unlimited, Clock::time_point end) {
    fd_set ready_set;
    fd_set failed_set;
    FD_ZERO(&ready_set);
    FD_ZERO(&failed_set);
    FD_SET(socket, &ready_set);
    FD_SET(socket, &failed_set);
    timeval wait{};
    if (!unlimited) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        const long ms = left > 0 ? static_cast<long>(left) : 0;
        wait.tv_sec = ms / 1000;
        wait.tv_usec = (ms % 1000) * 1000;
    }
    const int ready = select(0, for_write ? nullptr : &ready_set, for_write ? &ready_set : nullptr,
                             for_write ? &failed_set : nullptr, unlimited ? nullptr : &wait);
    if (ready == SOCKET_ERROR) return -1;
    return ready == 0 ? 0 : 1;
}

VarekOpenFailure FailureOfConnect(int error) {
    switch (error) {
    case WSAECONNREFUSED: return VarekOpenFailure::ConnectRefused;
    case WSAETIMEDOUT: return VarekOpenFailure::ConnectTimedOut;
    default: return VarekOpenFailure::Other;
    }
}

// One address, within the time left. 0 or the Winsock error that ended it.
int ConnectOne(SOCKET socket, const addrinfo& address, Clock::time_point end) {
    if (connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return 0;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return WSAGetLastError();
    const int ready = AwaitReady(socket, true, false, end);
    if (ready == 0) return WSAETIMEDOUT;
    if (ready < 0) return WSAGetLastError();
    int error = 0;
    int size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
        return WSAGetLastError();
    }
    return error;
}

}  // namespace

NativePortHandle NoSocket() { return AsHandle(INVALID_SOCKET); }

NativePortHandle Connect(const std::string& host, std::uint16_t port, std::int32_t timeout_ms,
                         VarekOpenError& error) {
    WSADATA data;
    const int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        error = {VarekOpenFailure::Other, started};
        return NoSocket();
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0) {
        error = {VarekOpenFailure::HostNotFound, WSAGetLastError()};
        WSACleanup();
        return NoSocket();
    }
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int last_error = WSAETIMEDOUT;
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        if (Clock::now() >= end) break;
        const SOCKET socket = WSASocketW(address->ai_family, SOCK_STREAM, address->ai_protocol, nullptr, 0,
                                         WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
        if (socket == INVALID_SOCKET) {
            last_error = WSAGetLastError();
            continue;
        }
        u_long non_blocking = 1;
        ioctlsocket(socket, FIONBIO, &non_blocking);
        last_error = ConnectOne(socket, *address, end);
        if (last_error == 0) {
            freeaddrinfo(addresses);
            const BOOL on = TRUE;
            setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            // Acknowledge every segment at once: a terminal server that holds
            // back a reply's next segment until the last is acknowledged
            // (Nagle's rule) would otherwise wait out the delayed
            // acknowledgement. Best effort: older systems refuse it.
            DWORD every_segment = 1;
            DWORD ignored = 0;
            WSAIoctl(socket, SIO_TCP_SET_ACK_FREQUENCY, &every_segment, sizeof every_segment, nullptr, 0,
                     &ignored, nullptr, nullptr);
            return AsHandle(socket);
        }
        closesocket(socket);
    }
    freeaddrinfo(addresses);
    error = {FailureOfConnect(last_error), last_error};
    WSACleanup();
    return NoSocket();
}

// Winsock has no low-water mark for receives: it wakes for the first bytes.
std::int32_t Receive(NativePortHandle handle, std::uint8_t* buffer, std::int32_t count,
                     std::int32_t timeout_ms, std::int32_t /*wake_at*/) {
    const SOCKET socket = AsSocket(handle);
    const bool unlimited = timeout_ms < 0;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeout_ms);
    for (;;) {
        const int got = recv(socket, reinterpret_cast<char*>(buffer), count, 0);
        if (got > 0) return got;
        if (got == 0) return -1;  // the far end closed the connection
        if (WSAGetLastError() != WSAEWOULDBLOCK) return -1;
        const int ready = AwaitReady(socket, false, unlimited, end);
        if (ready <= 0) return ready;
    }
}

std::int32_t Send(NativePortHandle handle, const std::uint8_t* bytes, std::int32_t count,
                  std::int32_t timeout_ms) {
    const SOCKET socket = AsSocket(handle);
    const bool unlimited = timeout_ms < 0;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeout_ms);
    std::int32_t sent = 0;
    while (sent < count) {
        const int put = send(socket, reinterpret_cast<const char*>(bytes + sent), count - sent, 0);
        if (put > 0) {
            sent += put;
            continue;
        }
        if (put == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return -1;
        const int ready = AwaitReady(socket, true, unlimited, end);
        if (ready < 0) return -1;
        if (ready == 0) break;
    }
    return sent;
}

void CloseSocket(NativePortHandle handle) {
    if (AsSocket(handle) == INVALID_SOCKET) return;
    closesocket(AsSocket(handle));
    WSACleanup();
}

}  // namespace varek::net
