// Reads of a known number of bytes over both kinds of network line, from a
// scripted terminal server that sends them in pieces: all of them come, in
// order, with Telnet's escapes and commands taken out; a wait that ends
// first returns what came.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "hostile_peer.h"
#include "sim_fixture.h"
#include "varek/serial_port.h"

namespace {

using varek::test::HostilePeer;
using varek::test::MillisecondsOf;
using Bytes = std::vector<std::uint8_t>;
using Stopping = const std::atomic<bool>&;

std::basic_string<PortNameChar> Wide(const std::string& name) { return {name.begin(), name.end()}; }

const Bytes kTrigger = {0xEB, 0x90, 0x06, 0x00, 0x14, 0x00, 0x00, 0x95, 0x01, 0xCC};

// 300 bytes that include 0xFF, which Telnet sends doubled.
Bytes LineBytes() {
    Bytes bytes(300);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(0xF0 + i % 16);
    return bytes;
}

// `bytes` as the server puts them on the wire, with a Telnet NOP between
// pieces over RFC 2217.
std::vector<Bytes> WirePieces(const Bytes& bytes, bool telnet, std::size_t pieces) {
    std::vector<Bytes> wire(pieces);
    const std::size_t step = bytes.size() / pieces;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        Bytes& piece = wire[std::min(i / step, pieces - 1)];
        piece.push_back(bytes[i]);
        if (telnet && bytes[i] == 0xFF) piece.push_back(0xFF);
    }
    if (telnet) {
        for (Bytes& piece : wire) piece.insert(piece.begin(), {0xFF, 0xF1});
    }
    return wire;
}

TEST(NetworkRead, ReadAllGathersEveryPieceInOrder) {
    const Bytes sent = LineBytes();
    for (const char* scheme : {"socket", "rfc2217"}) {
        SCOPED_TRACE(scheme);
        const bool telnet = std::string(scheme) == "rfc2217";
        HostilePeer peer([&](HostilePeer::Socket& socket, Stopping) {
            if (telnet) HostilePeer::AgreeToComPort(socket);
            // What a line sends before the open has set it up is dropped:
            // the pieces follow a request, as a reply does.
            HostilePeer::AwaitRequest(socket);
            for (const Bytes& piece : WirePieces(sent, telnet, 6)) {
                HostilePeer::Send(socket, piece);
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
        });
        SerialPort port;
        ASSERT_TRUE(port.Open(Wide(peer.Name(scheme)).c_str(), 115200, 8, StopBits::One, Parity::None));
        ASSERT_EQ(port.Write(kTrigger.data(), 10, 1000), 10);
        Bytes got(sent.size());
        std::int32_t count = -2;
        const long long elapsed = MillisecondsOf(
            [&] { count = port.ReadAll(got.data(), static_cast<std::int32_t>(got.size()), 3000); });
        EXPECT_EQ(count, static_cast<std::int32_t>(sent.size()));
        EXPECT_EQ(got, sent);
        EXPECT_LT(elapsed, 1500);
    }
}

TEST(NetworkRead, ReadAllReturnsWhatCameWhenItsWaitEnds) {
    for (const char* scheme : {"socket", "rfc2217"}) {
        SCOPED_TRACE(scheme);
        const bool telnet = std::string(scheme) == "rfc2217";
        HostilePeer peer([&](HostilePeer::Socket& socket, Stopping stopping) {
            if (telnet) HostilePeer::AgreeToComPort(socket);
            HostilePeer::AwaitRequest(socket);
            HostilePeer::Send(socket, {1, 2, 3});
            // Over Telnet, commands keep coming and bring no line bytes.
            if (telnet) HostilePeer::Flood(socket, {0xFF, 0xF1}, stopping);
        });
        SerialPort port;
        ASSERT_TRUE(port.Open(Wide(peer.Name(scheme)).c_str(), 115200, 8, StopBits::One, Parity::None));
        ASSERT_EQ(port.Write(kTrigger.data(), 10, 1000), 10);
        std::uint8_t got[10] = {};
        std::int32_t count = -2;
        const long long elapsed = MillisecondsOf([&] { count = port.ReadAll(got, 10, 300); });
        EXPECT_EQ(count, 3);
        EXPECT_EQ(got[2], 3);
        EXPECT_GE(elapsed, 290);
        EXPECT_LT(elapsed, 300 + 500);
    }
}

}  // namespace
