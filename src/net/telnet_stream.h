// Telnet with the COM port option (RFC 2217), as a client of a terminal
// server: what to send to agree on the option and to set the line, and the
// decoding of what comes back into the line's own bytes. Works on bytes
// alone, so that tests can drive it without a connection.
#ifndef VAREK_NET_TELNET_STREAM_H
#define VAREK_NET_TELNET_STREAM_H

#include <cstdint>
#include <vector>

#include "varek/serial_port.h"

namespace varek::net {

enum class ComPortAgreement { Pending, Agreed, Refused };

class TelnetStream {
public:
    TelnetStream();

    // Offers the COM port option and both directions of binary mode: without
    // binary mode a Telnet peer may turn a carriage return into CR NUL.
    static std::vector<std::uint8_t> Greeting();

    // The line settings of an open, as the access server's subnegotiations.
    // Empty when a setting has no RFC 2217 value (data bits outside 5..8, a
    // baud rate below 1).
    static std::vector<std::uint8_t> LineSettings(std::int32_t baud, std::int32_t data_bits,
                                                  StopBits stop_bits, Parity parity);

    // Asks the access server to drop what it received from the instrument
    // and has not yet sent on.
    static std::vector<std::uint8_t> PurgeReceived();

    // The line's bytes as they travel: each 0xFF doubled.
    static void Escape(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& wire);
    // Of `count` line bytes escaped, how many went out whole when `sent`
    // bytes of their escaped form did: a 0xFF counts once both of its halves
    // are out.
    static std::size_t LineBytesSent(const std::uint8_t* bytes, std::size_t count, std::size_t sent);

    // Takes bytes as they arrived, in pieces of any size: the line's bytes go
    // to `line`, every Telnet command is consumed, and the answers our side
    // owes to the server's option requests go to `answers`.
    void Take(const std::uint8_t* wire, std::size_t count, std::vector<std::uint8_t>& line,
              std::vector<std::uint8_t>& answers);

    ComPortAgreement agreement() const { return agreement_; }

private:
    enum class State { Data, Command, Option, Subnegotiation, SubnegotiationCommand };

    void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& answers);

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    // Options in force on each side, so that an answer is sent only when a
    // request changes something and two peers never loop.
    bool ours_[256] = {};
    bool theirs_[256] = {};
    ComPortAgreement agreement_ = ComPortAgreement::Pending;
};

}  // namespace varek::net

#endif
