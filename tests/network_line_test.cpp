// Network port names and the Telnet side of RFC 2217, on bytes alone. The
// connections themselves are tested through ser2net and the simulator.
#include <gtest/gtest.h>

#include "net/network_address.h"
#include "net/telnet_stream.h"

namespace {

using varek::net::ComPortAgreement;
using varek::net::NetworkKind;
using varek::net::ParseNetworkAddress;
using varek::net::TelnetStream;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;

TEST(NetworkAddress, TakesBothKindsWithNamesAndAddressesOfBothFamilies) {
    std::string why;
    auto raw = ParseNetworkAddress("socket://terminal-7.lab:4001", why);
    ASSERT_TRUE(raw) << why;
    EXPECT_EQ(raw->kind, NetworkKind::Raw);
    EXPECT_EQ(raw->host, "terminal-7.lab");
    EXPECT_EQ(raw->port, 4001);
    auto telnet = ParseNetworkAddress("RFC2217://[::1]:65535", why);
    ASSERT_TRUE(telnet) << why;
    EXPECT_EQ(telnet->kind, NetworkKind::Rfc2217);
    EXPECT_EQ(telnet->host, "::1");
    EXPECT_EQ(telnet->HostAndPort(), "[::1]:65535");
    EXPECT_EQ(ParseNetworkAddress("socket://10.0.0.5:1", why)->HostAndPort(), "10.0.0.5:1");
}

TEST(NetworkAddress, RefusesWhatIsNoHostAndPort) {
    for (const char* name :
         {"socket://10.0.0.5", "socket://10.0.0.5:", "socket://10.0.0.5:0", "socket://10.0.0.5:65536",
          "socket://10.0.0.5:40a1", "socket://:4001", "socket://::1:4001", "rfc2217://[::1]",
          "rfc2217://[::1]4001", "rfc2217://[host]:4001", "socket://user@host:4001", "socket://a b:4001",
          "socket://host:4001/path", "COM12"}) {
        std::string why;
        EXPECT_FALSE(ParseNetworkAddress(name, why)) << name;
        EXPECT_NE(why.find(name), std::string::npos) << why;
    }
}

TEST(TelnetStream, DoublesEach0xFFOnTheWayOut) {
    Bytes wire;
    const Bytes line = {0x01, 0xFF, 0xFF, 0x02};
    TelnetStream::Escape(line.data(), line.size(), wire);
    EXPECT_EQ(wire, (Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}));
}

// Feeds `wire` one byte at a time, as the network may split it anywhere.
Bytes TakeBytewise(TelnetStream& stream, const Bytes& wire, Bytes& answers) {
    Bytes line;
    for (std::uint8_t byte : wire) stream.Take(&byte, 1, line, answers);
    return line;
}

TEST(TelnetStream, KeepsTheLineBytesAndConsumesEveryCommandWhereverTheStreamIsSplit) {
    const Bytes wire = {0xEB, IAC,  IAC, 0x90,  // a doubled 0xFF
                        IAC,  241,              // NOP
                        IAC,  SB,   44,  101,  0x00, 0x01, IAC,
                        IAC,  0x00, IAC, SE,                    // baud answer holding 0xFF
                        IAC,  SB,   44,  107,  0x31, IAC,  SE,  // a line state notice
                        0xCC};
    const Bytes expected = {0xEB, 0xFF, 0x90, 0xCC};
    TelnetStream whole;
    Bytes answers;
    Bytes line;
    whole.Take(wire.data(), wire.size(), line, answers);
    EXPECT_EQ(line, expected);
    TelnetStream split;
    EXPECT_EQ(TakeBytewise(split, wire, answers), expected);
    EXPECT_TRUE(answers.empty());
}

TEST(TelnetStream, AgreesToBinaryAndTheComPortOptionAndDeclinesTheRestOnce) {
    TelnetStream stream;
    Bytes answers;
    EXPECT_EQ(stream.agreement(), ComPortAgreement::Pending);
    TakeBytewise(stream, {IAC, DO, 44, IAC, DO, 0, IAC, WILL, 0}, answers);
    EXPECT_EQ(stream.agreement(), ComPortAgreement::Agreed);
    EXPECT_TRUE(answers.empty()) << "an agreement to our own offer needs no answer";

    TakeBytewise(stream, {IAC, WILL, 1, IAC, DO, 24, IAC, WILL, 3, IAC, WILL, 3, IAC, WONT, 1}, answers);
    // Echo and terminal type declined, go-ahead suppression taken once, and
    // the server's confirmation that it will not echo left unanswered.
    EXPECT_EQ(answers, (Bytes{IAC, DONT, 1, IAC, WONT, 24, IAC, DO, 3}));
}

TEST(TelnetStream, ARefusedComPortOptionIsAcknowledgedAndReported) {
    TelnetStream stream;
    Bytes answers;
    TakeBytewise(stream, {IAC, DONT, 44}, answers);
    EXPECT_EQ(stream.agreement(), ComPortAgreement::Refused);
    EXPECT_EQ(answers, (Bytes{IAC, WONT, 44}));
}

TEST(TelnetStream, LineSettingsCarryTheOpenAsRfc2217Values) {
    EXPECT_EQ(TelnetStream::LineSettings(57600, 8, StopBits::One, Parity::None),
              (Bytes{IAC, SB,  44, 1,  0x00, 0x00, 0xE1, 0x00, IAC, SE, IAC, SB, 44, 2,   8, IAC,
                     SE,  IAC, SB, 44, 3,    1,    IAC,  SE,   IAC, SB, 44,  4,  1,  IAC, SE}));
    const Bytes odd = TelnetStream::LineSettings(0xFF00, 7, StopBits::Two, Parity::Odd);
    EXPECT_EQ(Bytes(odd.begin(), odd.begin() + 11),
              (Bytes{IAC, SB, 44, 1, 0x00, 0x00, 0xFF, 0xFF, 0x00, IAC, SE}))
        << "a 0xFF in a value is doubled";
    EXPECT_EQ(Bytes(odd.begin() + 11, odd.end()),
              (Bytes{IAC, SB, 44, 2, 7, IAC, SE, IAC, SB, 44, 3, 2, IAC, SE, IAC, SB, 44, 4, 2, IAC, SE}));
    EXPECT_TRUE(TelnetStream::LineSettings(115200, 9, StopBits::One, Parity::None).empty());
    EXPECT_TRUE(TelnetStream::LineSettings(0, 8, StopBits::One, Parity::None).empty());
    EXPECT_EQ(TelnetStream::PurgeReceived(), (Bytes{IAC, SB, 44, 12, 1, IAC, SE}));
}

TEST(TelnetStream, APartialSendCarriesOnlyTheLineBytesWhoseWholeFormWent) {
    const Bytes line = {0x01, 0xFF, 0x02, 0xFF};  // on the wire: 01 FF FF 02 FF FF
    const std::size_t carried_after[] = {0, 1, 1, 2, 3, 3, 4};
    for (std::size_t sent = 0; sent <= 6; ++sent) {
        EXPECT_EQ(TelnetStream::LineBytesSent(line.data(), line.size(), sent), carried_after[sent]) << sent;
    }
}

}  // namespace
