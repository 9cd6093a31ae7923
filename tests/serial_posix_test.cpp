// Linux-only behaviour of the termios port, on a pseudo-terminal of the
// test's own whose far end the test controls directly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "process_stats.h"
#include "sim_fixture.h"
#include "varek/varek_ddg.h"

namespace {

using varek::test::MillisecondsOf;

double ProcessCpuMs() { return varek::stats::CpuSeconds() * 1000.0; }

class PosixPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        far_end = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(far_end, 0);
        ASSERT_EQ(grantpt(far_end), 0);
        ASSERT_EQ(unlockpt(far_end), 0);
        device_path = ptsname(far_end);
    }
    void TearDown() override {
        if (far_end >= 0) close(far_end);
    }
    bool Open(SerialPort& port, std::int32_t baud = 115200, std::int32_t bits = 8) {
        return port.Open(device_path.c_str(), baud, bits, StopBits::One, Parity::None);
    }

    int far_end = -1;
    std::string device_path;
};

TEST_F(PosixPortTest, SecondOpenerIsRefusedUntilTheFirstCloses) {
    SerialPort first;
    SerialPort second;
    ASSERT_TRUE(Open(first));
    EXPECT_FALSE(Open(second)) << "exclusive even for root";
    EXPECT_FALSE(second.IsOpen());
    first.Close();
    EXPECT_TRUE(Open(second));
}

TEST_F(PosixPortTest, UnsupportedBaudOrDataBitsFailAndLeaveNothingOpen) {
    SerialPort port;
    const std::size_t before = varek::stats::OpenHandles();
    EXPECT_FALSE(Open(port, 12345));
    EXPECT_FALSE(Open(port, 0));
    EXPECT_FALSE(Open(port, 115200, 9));
    EXPECT_FALSE(Open(port, 115200, 4));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetHandle(), -1);
    EXPECT_EQ(varek::stats::OpenHandles(), before);
    SerialPort other;
    EXPECT_TRUE(Open(other)) << "a failed open must not keep the port locked";
}

TEST_F(PosixPortTest, ReadWaitsInPollWithoutSpinning) {
    SerialPort port;
    ASSERT_TRUE(Open(port));
    std::uint8_t byte = 0;
    const double cpu_before = ProcessCpuMs();
    std::int32_t got = -2;
    const long long elapsed = MillisecondsOf([&] { got = port.Read(&byte, 1, 200); });
    const double cpu_ms = ProcessCpuMs() - cpu_before;
    EXPECT_EQ(got, 0);
    EXPECT_GE(elapsed, 190);
    EXPECT_LT(elapsed, 400);
    EXPECT_LT(cpu_ms, 20.0);
}

TEST_F(PosixPortTest, ReadReturnsBytesAsSoonAsTheyArrive) {
    SerialPort port;
    ASSERT_TRUE(Open(port));
    std::thread writer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::uint8_t bytes[] = {1, 2, 3};
        ASSERT_EQ(write(far_end, bytes, 3), 3);
    });
    std::uint8_t buffer[10] = {};
    std::int32_t got = -2;
    const long long elapsed = MillisecondsOf([&] { got = port.Read(buffer, 10, 2000); });
    writer.join();
    EXPECT_EQ(got, 3);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_LT(elapsed, 1000);
}

TEST_F(PosixPortTest, WriteIsBoundedByItsTimeoutAndByTheWriteTimeout) {
    SerialPort port;
    ASSERT_TRUE(Open(port));
    const std::vector<std::uint8_t> flood(1 << 20, 0x55);  // far more than the pty buffers
    std::int32_t written = -2;
    long long elapsed = MillisecondsOf([&] { written = port.Write(flood.data(), 1 << 20, 200); });
    EXPECT_GE(written, 0);
    EXPECT_LT(written, 1 << 20);
    EXPECT_GE(elapsed, 190);
    EXPECT_LT(elapsed, 700);

    ASSERT_TRUE(port.SetTimeout(0, 50));
    elapsed = MillisecondsOf([&] { written = port.Write(flood.data(), 1 << 20, 5000); });
    EXPECT_GE(written, 0);
    EXPECT_LT(elapsed, 500);
}

TEST_F(PosixPortTest, HangUpFailsReadsPromptly) {
    SerialPort port;
    ASSERT_TRUE(Open(port));
    close(far_end);
    far_end = -1;
    std::uint8_t byte = 0;
    std::int32_t got = 0;
    const long long elapsed = MillisecondsOf([&] { got = port.Read(&byte, 1, 1000); });
    EXPECT_EQ(got, -1);
    EXPECT_LT(elapsed, 200);
}

TEST_F(PosixPortTest, WaitingForAReplyThatNeverComesCostsUnderFivePercentOfACore) {
    VarekDDG device;
    ASSERT_TRUE(device.Open(device_path.c_str(), 115200));
    VarekFrame reply;
    const double cpu_before = ProcessCpuMs();
    bool ok = true;
    const long long elapsed =
        MillisecondsOf([&] { ok = device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000); });
    const double cpu_ms = ProcessCpuMs() - cpu_before;
    EXPECT_FALSE(ok);
    EXPECT_GE(elapsed, 1000);
    EXPECT_LT(cpu_ms, 0.05 * static_cast<double>(elapsed));
    std::printf("no-reply wait: %lld ms wall, %.2f ms CPU (%.2f%% of one core)\n", elapsed, cpu_ms,
                100.0 * cpu_ms / static_cast<double>(elapsed));
}

}  // namespace
