// SerialPort on the platform at hand, against the simulated instrument's port.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>  // the time-out record's fields: a host that sets them brings their definition
#endif

#include <cstdio>
#include <vector>

#include "sim_control.h"
#include "sim_fixture.h"
#include "varek/serial_port.h"

namespace {

using varek::test::MillisecondsOf;
using varek::test::MissingPortName;
using varek::test::SimControl;
using varek::test::SimPortName;

const std::vector<std::uint8_t> kSoftwareTrigger = {0xEB, 0x90, 0x06, 0x00, 0x14,
                                                    0x00, 0x00, 0x95, 0x01, 0xCC};

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { sim.Reset(); }
    bool OpenSim(std::int32_t baud = 115200, std::int32_t bits = 8, StopBits stop = StopBits::One,
                 Parity parity = Parity::None) {
        return port.Open(SimPortName().c_str(), baud, bits, stop, parity);
    }
    SimControl sim;
    SerialPort port;
};

TEST_F(SerialPortTest, ClosedPortRefusesEverythingAndCloseIsRepeatable) {
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetHandle(), SerialPort().GetHandle());
    port.Close();
    port.Close();
    std::uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1, 10), -1);
    EXPECT_EQ(port.Write(&byte, 1, 10), -1);
    EXPECT_FALSE(port.SetTimeout(0, 200));
    CommTimeouts timeouts{};
    EXPECT_FALSE(port.SetTimeouts(timeouts));
}

TEST_F(SerialPortTest, FailedOpensLeaveThePortClosed) {
    EXPECT_FALSE(port.Open(nullptr, 115200, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.Open(MissingPortName().c_str(), 115200, 8, StopBits::One, Parity::None));
    EXPECT_FALSE(port.IsOpen());

    ASSERT_TRUE(OpenSim());
    EXPECT_FALSE(port.Open(nullptr, 115200, 8, StopBits::One, Parity::None))
        << "null name closes an open port";
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortTest, ReopeningReleasesTheOldPortFirst) {
    ASSERT_TRUE(OpenSim());
    ASSERT_TRUE(OpenSim(9600)) << "the port this object holds must not block its own re-open";
    EXPECT_TRUE(port.IsOpen());
    EXPECT_NE(sim.LineSettings().find("baud=9600 "), std::string::npos);
}

TEST_F(SerialPortTest, InvalidBuffersAndCountsFailWithoutTouchingTheLine) {
    ASSERT_TRUE(OpenSim());
    std::uint8_t byte = 0;
    EXPECT_EQ(port.Read(nullptr, 1, 10), -1);
    EXPECT_EQ(port.Read(&byte, 0, 10), -1);
    EXPECT_EQ(port.Read(&byte, -3, 10), -1);
    EXPECT_EQ(port.Write(nullptr, 1, 10), -1);
    EXPECT_EQ(port.Write(&byte, 0, 10), -1);
    EXPECT_EQ(port.Write(&byte, -3, 10), -1);
    EXPECT_TRUE(sim.Received().empty());
}

TEST_F(SerialPortTest, WritesReachTheInstrumentAndItsReplyCanBeRead) {
    ASSERT_TRUE(OpenSim());
    ASSERT_EQ(port.Write(kSoftwareTrigger.data(), 10, 1000), 10);
    std::vector<std::uint8_t> reply;
    std::uint8_t chunk[64];
    for (int attempt = 0; attempt < 100 && reply.size() < 10; ++attempt) {
        const std::int32_t got = port.Read(chunk, sizeof chunk, 50);
        ASSERT_GE(got, 0);
        reply.insert(reply.end(), chunk, chunk + got);
    }
    EXPECT_EQ(reply, std::vector<std::uint8_t>({0xEB, 0x90, 0x06, 0x00, 0x14, 0x01, 0x00, 0x96, 0x01, 0xCC}));
    EXPECT_EQ(sim.Received(), kSoftwareTrigger);
}

TEST_F(SerialPortTest, ReadOfAnEmptyLineReturnsZeroWithinItsWait) {
    ASSERT_TRUE(OpenSim());
    std::uint8_t byte = 0;
    std::int32_t got = -2;
    const long long elapsed = MillisecondsOf([&] { got = port.Read(&byte, 1, 50); });
    EXPECT_EQ(got, 0);
    EXPECT_LT(elapsed, 50 + 150);
}

TEST_F(SerialPortTest, ReadAllTakesTheWholeReplyAndLeavesTheHostsTimeoutsAsTheyWere) {
    ASSERT_TRUE(OpenSim());
#ifdef _WIN32
    COMMTIMEOUTS host{};
    ASSERT_TRUE(GetCommTimeouts(port.GetHandle(), &host));
#endif
    ASSERT_EQ(port.Write(kSoftwareTrigger.data(), 10, 1000), 10);
    std::uint8_t reply[10] = {};
    EXPECT_EQ(port.ReadAll(reply, 10, 1000), 10);
    EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + 10),
              std::vector<std::uint8_t>({0xEB, 0x90, 0x06, 0x00, 0x14, 0x01, 0x00, 0x96, 0x01, 0xCC}));
    // Asked for more than came: what came, once the wait is over.
    ASSERT_EQ(port.Write(kSoftwareTrigger.data(), 10, 1000), 10);
    std::uint8_t more[16] = {};
    std::int32_t got = -2;
    long long elapsed = MillisecondsOf([&] { got = port.ReadAll(more, 16, 300); });
    EXPECT_EQ(got, 10);
    EXPECT_EQ(more[9], 0xCC);
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 300 + 400);
#ifdef _WIN32
    // ReadAll sets the driver's time-outs for itself alone: the host's are put back.
    COMMTIMEOUTS after{};
    ASSERT_TRUE(GetCommTimeouts(port.GetHandle(), &after));
    EXPECT_EQ(after.ReadIntervalTimeout, host.ReadIntervalTimeout);
    EXPECT_EQ(after.ReadTotalTimeoutMultiplier, host.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(after.ReadTotalTimeoutConstant, host.ReadTotalTimeoutConstant);
    EXPECT_EQ(after.WriteTotalTimeoutConstant, host.WriteTotalTimeoutConstant);
#endif
}

TEST_F(SerialPortTest, SetTimeoutsWorkOnAnOpenPort) {
    ASSERT_TRUE(OpenSim());
    EXPECT_TRUE(port.SetTimeout(12345, 200));
    CommTimeouts timeouts{};
    timeouts.ReadIntervalTimeout = 0xFFFFFFFF;
    EXPECT_TRUE(port.SetTimeouts(timeouts));
    EXPECT_EQ(port.Write(kSoftwareTrigger.data(), 10, 1000), 10);
}

// What Open configured, as the tty itself holds it. A pseudo-terminal forces
// 8 data bits and clears PARENB whatever the host asks, so parity shows in
// the PARODD and CMSPAR flags it keeps: odd sets PARODD, mark both, space
// CMSPAR alone; even and none look alike.
struct LineCase {
    std::int32_t baud;
    StopBits stop;
    Parity parity;
    const char* expected;
};

TEST_F(SerialPortTest, OpenAppliesTheLineSettings) {
    const LineCase cases[] = {
        {115200, StopBits::One, Parity::None,
         "baud=115200 bits=8 parenb=0 parodd=0 cmspar=0 stop=1 crtscts=0 ixon=0 ixoff=0 echo=0 icanon=0"},
        {9600, StopBits::Two, Parity::Even, "baud=9600 bits=8 parenb=0 parodd=0 cmspar=0 stop=2 "},
        {19200, StopBits::One, Parity::Odd, "baud=19200 bits=8 parenb=0 parodd=1 cmspar=0 stop=1 "},
        {57600, StopBits::One, Parity::Mark, "baud=57600 bits=8 parenb=0 parodd=1 cmspar=1 stop=1 "},
        {57600, StopBits::One, Parity::Space, "baud=57600 bits=8 parenb=0 parodd=0 cmspar=1 stop=1 "},
        {4800, static_cast<StopBits>(7), static_cast<Parity>(9),
         "baud=4800 bits=8 parenb=0 parodd=0 cmspar=0 stop=1 "},
    };
    const bool every_setting_shows = varek::test::TtysCarryEveryLineSetting();
    for (const LineCase& line : cases) {
        if (!every_setting_shows && (line.parity == Parity::Mark || line.parity == Parity::Space)) {
            std::printf("not checked here, where ttys lose CMSPAR: %s\n", line.expected);
            continue;
        }
        ASSERT_TRUE(OpenSim(line.baud, 8, line.stop, line.parity)) << line.expected;
        const std::string settings = sim.LineSettings();
        EXPECT_EQ(settings.rfind(line.expected, 0), 0u) << settings;
        EXPECT_NE(settings.find("crtscts=0 ixon=0 ixoff=0 echo=0 icanon=0"), std::string::npos) << settings;
        port.Close();
    }
}

TEST_F(SerialPortTest, OnlyTheLowByteOfTheDataBitsCounts) {
    ASSERT_TRUE(OpenSim(115200, 264)) << "264 is 8 in its low byte";
}

}  // namespace
