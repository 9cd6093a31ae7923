// The platform's TCP sockets, as a network line needs them: a bounded
// connect and bounded sends and receives on a non-blocking socket.
#ifndef VAREK_NET_TCP_SOCKET_H
#define VAREK_NET_TCP_SOCKET_H

#include <cstdint>
#include <string>

#include "varek/serial_port.h"

namespace varek::net {

// The value that stands for no socket.
NativePortHandle NoSocket();

// Connects to `host` (a name or an address) at `port`, trying each address
// the name has in turn, all within `timeout_ms`, with Nagle's delay off: a
// request frame leaves at once. NoSocket() with `error` saying why on failure.
NativePortHandle Connect(const std::string& host, std::uint16_t port, std::int32_t timeout_ms,
                         VarekOpenError& error);

// Up to `count` bytes that arrive within `timeout_ms` (negative: no limit);
// 0 when none came, -1 when the far end closed the connection or it failed.
// With none waiting, it sleeps until `wake_at` of them have come where the
// platform can (a socket's low-water mark), rather than waking for the first.
std::int32_t Receive(NativePortHandle socket, std::uint8_t* buffer, std::int32_t count,
                     std::int32_t timeout_ms, std::int32_t wake_at = 1);

// Sends `count` bytes within `timeout_ms` (negative: no limit) and returns
// how many went; -1 when the connection failed.
std::int32_t Send(NativePortHandle socket, const std::uint8_t* bytes, std::int32_t count,
                  std::int32_t timeout_ms);

void CloseSocket(NativePortHandle socket);

}  // namespace varek::net

#endif
