#include "net/telnet_stream.h"

namespace varek::net {

namespace {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;

constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPort = 44;

// The COM port option's commands, client to server.
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kPurgeData = 12;
constexpr std::uint8_t kPurgeReceiveBuffer = 1;

// Options we take on either side; every other one is declined.
bool Accepted(std::uint8_t option, bool ours) {
    return option == kBinary || option == kSuppressGoAhead || (ours && option == kComPort);
}

void Subnegotiation(std::uint8_t command, const std::vector<std::uint8_t>& value,
                    std::vector<std::uint8_t>& out) {
    out.insert(out.end(), {kIac, kSb, kComPort, command});
    TelnetStream::Escape(value.data(), value.size(), out);
    out.insert(out.end(), {kIac, kSe});
}

std::uint8_t ParityValue(Parity parity) {
    switch (parity) {
    case Parity::None: return 1;
    case Parity::Odd: return 2;
    case Parity::Even: return 3;
    case Parity::Mark: return 4;
    case Parity::Space: return 5;
    }
    return 1;
}

std::uint8_t StopSizeValue(StopBits stop_bits) {
    switch (stop_bits) {
    case StopBits::One: return 1;
    case StopBits::Two: return 2;
    case StopBits::OnePointFive: return 3;
    }
    return 1;
}

}  // namespace

std::vector<std::uint8_t> TelnetStream::Greeting() {
    return {kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kDo, kBinary};
}

std::vector<std::uint8_t> TelnetStream::LineSettings(std::int32_t baud, std::int32_t data_bits,
                                                     StopBits stop_bits, Parity parity) {
    const std::int32_t size = data_bits & 0xFF;  // only the low byte counts, as on a serial port
    if (baud < 1 || size < 5 || size > 8) return {};
    const auto rate = static_cast<std::uint32_t>(baud);
    std::vector<std::uint8_t> out;
    Subnegotiation(kSetBaudRate,
                   {static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
                    static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)},
                   out);
    Subnegotiation(kSetDataSize, {static_cast<std::uint8_t>(size)}, out);
    Subnegotiation(kSetParity, {ParityValue(parity)}, out);
    Subnegotiation(kSetStopSize, {StopSizeValue(stop_bits)}, out);
    return out;
}

std::vector<std::uint8_t> TelnetStream::PurgeReceived() {
    std::vector<std::uint8_t> out;
    Subnegotiation(kPurgeData, {kPurgeReceiveBuffer}, out);
    return out;
}

void TelnetStream::Escape(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& wire) {
    for (std::size_t i = 0; i < count; ++i) {
        wire.push_back(bytes[i]);
        if (bytes[i] == kIac) wire.push_back(kIac);
    }
}

std::size_t TelnetStream::LineBytesSent(const std::uint8_t* bytes, std::size_t count, std::size_t sent) {
    std::size_t carried = 0;
    for (std::size_t on_wire = 0; carried < count; ++carried) {
        on_wire += bytes[carried] == kIac ? 2 : 1;
        if (on_wire > sent) break;
    }
    return carried;
}

void TelnetStream::Take(const std::uint8_t* wire, std::size_t count, std::vector<std::uint8_t>& line,
                        std::vector<std::uint8_t>& answers) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = wire[i];
        switch (state_) {
        case State::Data:
            if (byte == kIac) {
                state_ = State::Command;
            } else {
                line.push_back(byte);
            }
            break;
        case State::Command:
            if (byte == kIac) {  // a doubled 0xFF is one line byte
                line.push_back(kIac);
                state_ = State::Data;
            } else if (byte >= kWill && byte <= kDont) {
                verb_ = byte;
                state_ = State::Option;
            } else if (byte == kSb) {
                state_ = State::Subnegotiation;
            } else {
                state_ = State::Data;  // a two-byte command: NOP, go ahead, break...
            }
            break;
        case State::Option:
            Negotiate(verb_, byte, answers);
            state_ = State::Data;
            break;
        case State::Subnegotiation:
            // The server's answers to our settings and purges, and its
            // notifications: nothing the exchange needs.
            if (byte == kIac) state_ = State::SubnegotiationCommand;
            break;
        case State::SubnegotiationCommand: state_ = byte == kSe ? State::Data : State::Subnegotiation; break;
        }
    }
}

TelnetStream::TelnetStream() {
    // What the greeting asks for counts as in force until the server
    // declines it, so that its agreement needs no answer.
    ours_[kComPort] = true;
    ours_[kBinary] = true;
    theirs_[kBinary] = true;
}

void TelnetStream::Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& answers) {
    const bool asks_us = verb == kDo || verb == kDont;
    const bool wants_on = verb == kDo || verb == kWill;
    const bool turn_on = wants_on && Accepted(option, asks_us);
    if (asks_us && option == kComPort) {
        agreement_ = turn_on ? ComPortAgreement::Agreed : ComPortAgreement::Refused;
    }
    bool& in_force = asks_us ? ours_[option] : theirs_[option];
    // A request that changes nothing is not answered, so that two peers
    // never acknowledge each other's acknowledgements; an offer we decline
    // always is, or the server would wait for our answer.
    const bool declined = wants_on && !turn_on;
    if (turn_on == in_force && !declined) return;
    in_force = turn_on;
    const std::uint8_t answer = asks_us ? (turn_on ? kWill : kWont) : (turn_on ? kDo : kDont);
    answers.insert(answers.end(), {kIac, answer, option});
}

}  // namespace varek::net
