#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "net/tcp_socket.h"

namespace varek::net {

namespace {

using Clock = std::chrono::steady_clock;

// A low-water mark beyond the receive buffer would never be reached; this
// one stays well within the 128 KiB Linux gives a socket by default.
constexpr std::int32_t kLargestLowWaterMark = 16384;

int RemainingMs(bool unlimited, Clock::time_point end) {
    if (unlimited) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// 1 ready, 0 timed out, -1 failed. A hang-up counts as ready: the read or
// write that follows says what happened.
int AwaitReady(int socket, short events, bool unlimited, Clock::time_point end) {
    for (;;) {
        pollfd entry{socket, events, 0};
        const int ready = poll(&entry, 1, RemainingMs(unlimited, end));
        if (ready < 0 && errno == EINTR) continue;
        return ready < 0 ? -1 : (ready == 0 ? 0 : 1);
    }
}

// As AwaitReady for input, but poll() reports the socket readable only once
// `bytes` have arrived (or it hung up). The mark goes back to one byte after.
int AwaitSomeBytes(int socket, std::int32_t bytes, bool unlimited, Clock::time_point end) {
    const int mark = std::clamp<std::int32_t>(bytes, 1, kLargestLowWaterMark);
    if (mark > 1) setsockopt(socket, SOL_SOCKET, SO_RCVLOWAT, &mark, sizeof mark);
    const int ready = AwaitReady(socket, POLLIN, unlimited, end);
    const int one = 1;
    if (mark > 1) setsockopt(socket, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
    return ready;
}

VarekOpenFailure FailureOfConnect(int error) {
    switch (error) {
    case ECONNREFUSED: return VarekOpenFailure::ConnectRefused;
    case ETIMEDOUT: return VarekOpenFailure::ConnectTimedOut;
    default: return VarekOpenFailure::Other;
    }
}

// One address, within the time left. 0 or the errno that ended it.
int ConnectOne(int socket, const addrinfo& address, Clock::time_point end) {
    if (connect(socket, address.ai_addr, address.ai_addrlen) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    const int ready = AwaitReady(socket, POLLOUT, false, end);
    if (ready == 0) return ETIMEDOUT;
    if (ready < 0) return errno;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
}

}  // namespace

NativePortHandle NoSocket() { return -1; }

NativePortHandle Connect(const std::string& host, std::uint16_t port, std::int32_t timeout_ms,
                         VarekOpenError& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
    if (lookup != 0) {
        error = {VarekOpenFailure::HostNotFound, lookup == EAI_SYSTEM ? errno : 0};
        return NoSocket();
    }
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int last_error = ETIMEDOUT;
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        if (Clock::now() >= end) break;
        const int socket = ::socket(address->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket < 0) {
            last_error = errno;
            continue;
        }
        last_error = ConnectOne(socket, *address, end);
        if (last_error == 0) {
            freeaddrinfo(addresses);
            const int on = 1;
            setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return socket;
        }
        close(socket);
    }
    freeaddrinfo(addresses);
    error = {FailureOfConnect(last_error), last_error};
    return NoSocket();
}

std::int32_t Receive(NativePortHandle socket, std::uint8_t* buffer, std::int32_t count,
                     std::int32_t timeout_ms, std::int32_t wake_at) {
    // A reply may come in several segments, and a terminal server that
    // holds back the next one until the last is acknowledged (Nagle's rule,
    // ser2net's default) would wait out our delayed acknowledgement, 40 ms
    // an exchange. Linux drops quick acknowledgement by itself, so it is
    // asked for again on every receive.
    const int quick = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &quick, sizeof quick);
    const bool unlimited = timeout_ms < 0;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeout_ms);
    const std::int32_t mark = std::min(wake_at, count);
    bool waited_out = false;
    for (;;) {
        const ssize_t got = recv(socket, buffer, static_cast<std::size_t>(count), 0);
        if (got > 0) return static_cast<std::int32_t>(got);
        if (got == 0) return -1;  // the far end closed the connection
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (waited_out) return 0;
        const int ready = AwaitSomeBytes(socket, mark, unlimited, end);
        if (ready < 0) return -1;
        // Bytes short of the mark may have come while it waited: one more look.
        if (ready == 0 && mark <= 1) return 0;
        waited_out = ready == 0;
    }
}

std::int32_t Send(NativePortHandle socket, const std::uint8_t* bytes, std::int32_t count,
                  std::int32_t timeout_ms) {
    const bool unlimited = timeout_ms < 0;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeout_ms);
    std::int32_t sent = 0;
    while (sent < count) {
        // MSG_NOSIGNAL: a closed connection is a failed send, not a SIGPIPE
        // that ends the host program.
        const ssize_t put = send(socket, bytes + sent, static_cast<std::size_t>(count - sent), MSG_NOSIGNAL);
        if (put > 0) {
            sent += static_cast<std::int32_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        const int ready = AwaitReady(socket, POLLOUT, unlimited, end);
        if (ready < 0) return -1;
        if (ready == 0) break;
    }
    return sent;
}

void CloseSocket(NativePortHandle socket) {
    if (socket >= 0) close(socket);
}

}  // namespace varek::net
