// A serial line reached over the network: a terminal server's raw TCP port,
// or one that speaks RFC 2217. SerialPort holds one when it was opened with a
// network name, and hands it its reads, writes and purges.
#ifndef VAREK_NET_NETWORK_LINE_H
#define VAREK_NET_NETWORK_LINE_H

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "net/network_address.h"
#include "net/telnet_stream.h"
#include "varek/serial_port.h"

namespace varek::net {

// A connect that nothing answers fails after this long.
constexpr std::int32_t kConnectTimeoutMs = 3000;
// An RFC 2217 server agrees to the COM port option within this long, or it
// is not one. Servers that serve one client at a time may take a while to
// turn to the next: pySerial's own server needs up to 3 s after the last
// client left (its reader's time-out), ser2net a few milliseconds.
constexpr std::int32_t kAgreementTimeoutMs = 5000;
// A purge empties what has arrived; a line that keeps sending for this long
// while it does cannot be emptied.
constexpr std::int32_t kDiscardLimitMs = 50;

class NetworkLine {
public:
    // Connects and, for RFC 2217, agrees on the COM port option and sends the
    // line settings. A raw port runs at whatever the terminal server is set
    // to. Null with `error` saying why on failure.
    static std::unique_ptr<NetworkLine> Open(const NetworkAddress& address, std::int32_t baud,
                                             std::int32_t data_bits, StopBits stop_bits, Parity parity,
                                             VarekOpenError& error);
    ~NetworkLine();
    NetworkLine(const NetworkLine&) = delete;
    NetworkLine& operator=(const NetworkLine&) = delete;

    NativePortHandle socket() const { return socket_; }

    // As SerialPort's: the line's bytes, a time-out a short count, -1 when the
    // connection closed or failed.
    std::int32_t Read(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms);
    // As SerialPort's ReadAll. Over Telnet an option request that comes while
    // it sleeps is answered when it wakes, within its wait.
    std::int32_t ReadAll(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms);
    std::int32_t Write(const std::uint8_t* bytes, std::int32_t count, std::int32_t timeout_ms);
    // Drops whatever has arrived; over RFC 2217 the access server drops what
    // it holds for us too. False when bytes kept coming for kDiscardLimitMs.
    bool DiscardInput();

    std::uint64_t telnet_bytes_received() const { return telnet_bytes_; }

private:
    NetworkLine(NativePortHandle socket, bool telnet);
    // Waits up to `timeout_ms` for bytes from the server and decodes them
    // into `line_`, answering its option requests within `answer_ms`; with
    // none waiting, sleeps until `wake_at` bytes have come where the platform
    // can. The bytes received, 0 when none came, -1 when the connection
    // closed or failed, or the answers could not go out in time.
    std::int32_t ReceiveDecoded(std::int32_t timeout_ms, std::int32_t answer_ms, std::int32_t wake_at = 1);
    bool AgreeOnComPort(VarekOpenError& error);

    NativePortHandle socket_;
    std::optional<TelnetStream> telnet_;
    std::vector<std::uint8_t> line_;  // decoded line bytes not yet read
    std::uint64_t telnet_bytes_ = 0;  // received bytes that were Telnet commands
};

}  // namespace varek::net

#endif
