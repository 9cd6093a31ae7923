// Linux-only behaviour of the termios port, on a pseudo-terminal of the
// test's own whose far end the test controls directly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "line_settings.h"
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

// What a careless earlier program could leave on the line: flow control both
// ways, two stop bits, odd mark parity, a cooked line that echoes.
void LeaveTheWorstLineSettings(int tty) {
    termios settings{};
    ASSERT_EQ(tcgetattr(tty, &settings), 0);
    settings.c_cflag |= CRTSCTS | CSTOPB | PARENB | PARODD | CMSPAR;
    settings.c_iflag |= IXON | IXOFF | IXANY | INPCK | ISTRIP | ICRNL;
    settings.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    settings.c_oflag |= OPOST | ONLCR;
    cfsetspeed(&settings, B300);
    ASSERT_EQ(tcsetattr(tty, TCSANOW, &settings), 0);
}

TEST_F(PosixPortTest, OpenSetsExactlyTheRequestedFramingWhateverTheLineHeld) {
    const int keeper = open(device_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(keeper, 0);
    LeaveTheWorstLineSettings(keeper);
    SerialPort port;
    ASSERT_TRUE(Open(port, 9600));
    EXPECT_EQ(varek::sim::DescribeLineSettings(port.GetHandle()),
              "baud=9600 bits=8 parenb=0 parodd=0 cmspar=0 stop=1 crtscts=0 ixon=0 ixoff=0 echo=0 icanon=0");
    termios settings{};
    ASSERT_EQ(tcgetattr(port.GetHandle(), &settings), 0);
    EXPECT_EQ(settings.c_iflag & (IXANY | INPCK | ISTRIP | ICRNL), 0u);
    EXPECT_EQ(settings.c_lflag & (ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    close(keeper);
}

TEST_F(PosixPortTest, EveryAcceptedBaudRateSetsItsOwnSpeed) {
    // The rates written out on purpose, against the speed the tty reports as a number.
    const std::int32_t rates[] = {50,      75,      110,     134,     150,     200,    300,     600,
                                  1200,    1800,    2400,    4800,    9600,    19200,  38400,   57600,
                                  115200,  230400,  460800,  500000,  576000,  921600, 1000000, 1152000,
                                  1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
    const bool every_rate_shows = varek::test::TtysCarryEveryLineSetting();
    SerialPort port;
    for (const std::int32_t baud : rates) {
        ASSERT_TRUE(Open(port, baud)) << baud;
        if (!every_rate_shows && baud > varek::test::kFastestRateEveryTtyCarries) {
            std::printf("not checked here, where ttys lose rates above %d: %d\n",
                        varek::test::kFastestRateEveryTtyCarries, baud);
            continue;
        }
        EXPECT_EQ(
            varek::sim::DescribeLineSettings(port.GetHandle()).rfind("baud=" + std::to_string(baud) + " ", 0),
            0u)
            << baud;
    }
}

TEST_F(PosixPortTest, OneAndAHalfStopBitsSetTheLongerStop) {
    SerialPort port;
    ASSERT_TRUE(port.Open(device_path.c_str(), 115200, 5, StopBits::OnePointFive, Parity::None));
    EXPECT_NE(varek::sim::DescribeLineSettings(port.GetHandle()).find(" stop=2 "), std::string::npos);
}

TEST_F(PosixPortTest, BytesWaitingBeforeOpenAreGoneAfterIt) {
    const int keeper = open(device_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(keeper, 0);
    termios raw{};
    ASSERT_EQ(tcgetattr(keeper, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(keeper, TCSANOW, &raw), 0);
    const std::uint8_t stale[] = {0xEB, 0x90, 0x06, 0x00};
    ASSERT_EQ(write(far_end, stale, sizeof stale), 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SerialPort port;
    ASSERT_TRUE(Open(port));
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(port.Read(buffer, sizeof buffer, 100), 0);
    close(keeper);
}

TEST_F(PosixPortTest, ReadWithATimeoutOfZeroReturnsAtOnce) {
    SerialPort port;
    ASSERT_TRUE(Open(port));
    // A byte that comes late, so that a read which waited would end anyway.
    std::thread late_writer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        const std::uint8_t byte = 0x42;
        ASSERT_EQ(write(far_end, &byte, 1), 1);
    });
    std::uint8_t byte = 0;
    std::int32_t got = -2;
    const long long elapsed = MillisecondsOf([&] { got = port.Read(&byte, 1, 0); });
    late_writer.join();
    EXPECT_EQ(got, 0);
    EXPECT_LT(elapsed, 100);
}

// Writes `bytes` to `tty` one at a time, each when the line at `baud` (10
// bits a character) would deliver it.
void WriteAtTheLineRate(int tty, const std::vector<std::uint8_t>& bytes, int baud) {
    const auto character = std::chrono::nanoseconds(10'000'000'000LL / baud);
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::this_thread::sleep_until(start + character * static_cast<long long>(i));
        ASSERT_EQ(write(tty, &bytes[i], 1), 1);
    }
}

std::vector<std::uint8_t> Counting(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    return bytes;
}

TEST_F(PosixPortTest, ReadAllTakesBytesComingAtTheLineRateInOrderAndEndsWithTheLast) {
    SerialPort port;
    ASSERT_TRUE(Open(port, 115200));
    const std::vector<std::uint8_t> sent = Counting(358);  // a status reply: 31 ms at 115200
    std::chrono::steady_clock::time_point last_written;
    std::thread writer([&] {
        WriteAtTheLineRate(far_end, sent, 115200);
        last_written = std::chrono::steady_clock::now();
    });
    std::vector<std::uint8_t> got(sent.size());
    std::int32_t count = -2;
    MillisecondsOf([&] { count = port.ReadAll(got.data(), static_cast<std::int32_t>(got.size()), 2000); });
    const auto read_ended = std::chrono::steady_clock::now();
    writer.join();
    EXPECT_EQ(count, static_cast<std::int32_t>(sent.size()));
    EXPECT_EQ(got, sent);
    // It sleeps while the bytes are due, but not past the last of them.
    EXPECT_LT(read_ended - last_written, std::chrono::milliseconds(20));
}

TEST_F(PosixPortTest, ReadAllIsNotFooledByABurstFasterThanTheLine) {
    // A pseudo-terminal, or an adapter's USB packet, brings bytes sooner than
    // the line rate would: the rest is not slept for as though still due.
    SerialPort port;
    ASSERT_TRUE(Open(port, 9600));  // 358 bytes would take 373 ms at 9600
    const std::vector<std::uint8_t> sent = Counting(358);
    std::thread writer([&] {
        ASSERT_EQ(write(far_end, sent.data(), 100), 100);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(write(far_end, sent.data() + 100, sent.size() - 100),
                  static_cast<ssize_t>(sent.size() - 100));
    });
    std::vector<std::uint8_t> got(sent.size());
    std::int32_t count = -2;
    const long long elapsed = MillisecondsOf(
        [&] { count = port.ReadAll(got.data(), static_cast<std::int32_t>(got.size()), 2000); });
    writer.join();
    EXPECT_EQ(count, static_cast<std::int32_t>(sent.size()));
    EXPECT_EQ(got, sent);
    EXPECT_LT(elapsed, 200);
}

TEST_F(PosixPortTest, ReadAllReturnsWhatCameWhenItsWaitEndsOrTheLineHangsUp) {
    SerialPort port;
    ASSERT_TRUE(Open(port));
    const std::uint8_t five[] = {1, 2, 3, 4, 5};
    ASSERT_EQ(write(far_end, five, 5), 5);
    std::uint8_t got[10] = {};
    std::int32_t count = -2;
    const long long elapsed = MillisecondsOf([&] { count = port.ReadAll(got, 10, 200); });
    EXPECT_EQ(count, 5);
    EXPECT_EQ(got[4], 5);
    EXPECT_GE(elapsed, 190);
    EXPECT_LT(elapsed, 600);

    std::thread hang_up([this, &five] {
        ASSERT_EQ(write(far_end, five, 3), 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        close(far_end);
        far_end = -1;
    });
    const long long until_hang_up = MillisecondsOf([&] { count = port.ReadAll(got, 10, 2000); });
    hang_up.join();
    EXPECT_EQ(count, 3);
    EXPECT_LT(until_hang_up, 1000);
    EXPECT_EQ(port.ReadAll(got, 10, 200), -1);
}

TEST_F(PosixPortTest, SecondOpenerIsRefusedUntilTheFirstCloses) {
    SerialPort first;
    SerialPort second;
    ASSERT_TRUE(Open(first));
    EXPECT_FALSE(Open(second)) << "exclusive even for root";
    EXPECT_FALSE(second.IsOpen());
    first.Close();
    EXPECT_TRUE(Open(second));
}

TEST_F(PosixPortTest, AFailedOpenSaysWhyFromTheCallThatFailed) {
    SerialPort holder;
    ASSERT_TRUE(Open(holder));
    VarekOpenError error;
    SerialPort port;
    EXPECT_FALSE(port.Open(device_path.c_str(), 115200, 8, StopBits::One, Parity::None, error));
    EXPECT_EQ(error.failure, VarekOpenFailure::Busy);
    // The lock's EWOULDBLOCK, given as the busy device it means.
    EXPECT_EQ(error.os_error, EBUSY);
    holder.Close();

    EXPECT_FALSE(port.Open(device_path.c_str(), 12345, 8, StopBits::One, Parity::None, error));
    EXPECT_EQ(error.failure, VarekOpenFailure::SettingsRefused);
    EXPECT_FALSE(port.Open("/dev/null", 115200, 8, StopBits::One, Parity::None, error));
    EXPECT_EQ(error.failure, VarekOpenFailure::NotASerialDevice);
    EXPECT_EQ(error.os_error, ENOTTY);
    EXPECT_FALSE(port.Open("/dev/varek-no-such-port", 115200, 8, StopBits::One, Parity::None, error));
    EXPECT_EQ(error.failure, VarekOpenFailure::NoSuchPort);
    EXPECT_EQ(error.os_error, ENOENT);
    EXPECT_TRUE(port.Open(device_path.c_str(), 115200, 8, StopBits::One, Parity::None, error));
    EXPECT_EQ(error.failure, VarekOpenFailure::None);
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

TEST_F(PosixPortTest, ARequestNotFullyWrittenFailsWithoutWaitingForAReply) {
    VarekDDG device;
    ASSERT_TRUE(device.Open(device_path.c_str(), 115200));
    // Nobody reads the far end: fill the line until it takes no more.
    const std::vector<std::uint8_t> flood(1 << 20, 0x55);
    ASSERT_LT(device.Port().Write(flood.data(), 1 << 20, 200), 1 << 20);
    ASSERT_TRUE(device.Port().SetTimeout(0, 50));
    VarekFrame reply;
    reply.valid = true;
    reply.cmd = 0x55;
    bool ok = true;
    const long long elapsed =
        MillisecondsOf([&] { ok = device.SendFrame(0x14, 0, nullptr, 0, &reply, 1000); });
    EXPECT_FALSE(ok);
    EXPECT_LT(elapsed, 500) << "a reply wait of 1000 ms followed the short write";
    EXPECT_TRUE(reply.valid);
    EXPECT_EQ(reply.cmd, 0x55);
}

// Answers every request the far end receives with a temperature of 25.0.
class TemperatureResponder {
public:
    explicit TemperatureResponder(int far_end) : far_end_(far_end), thread_([this] { Serve(); }) {}
    ~TemperatureResponder() {
        stop_.store(true);
        thread_.join();
    }

private:
    void Serve() {
        std::vector<std::uint8_t> pending;
        std::vector<std::uint8_t> reply;
        const std::uint8_t reading[] = {0x00, 0x00, 0xC8, 0x41};
        VarekDDG::BuildFrame(VarekDDG::CMD_READ_TEMPERATURE, 1, reading, 4, reply);
        while (!stop_.load()) {
            pollfd entry{far_end_, POLLIN, 0};
            if (poll(&entry, 1, 5) <= 0) continue;
            std::uint8_t chunk[64];
            const ssize_t got = read(far_end_, chunk, sizeof chunk);
            if (got <= 0) return;
            pending.insert(pending.end(), chunk, chunk + got);
            for (; pending.size() >= 10; pending.erase(pending.begin(), pending.begin() + 10)) {
                if (write(far_end_, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) return;
            }
        }
    }

    int far_end_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(PosixPortTest, AStaleReplyThatJustArrivedIsNeverTakenForTheAnswer) {
    VarekDDG device;
    ASSERT_TRUE(device.Open(device_path.c_str(), 115200));
    std::vector<std::uint8_t> stale;
    const std::uint8_t old_reading[] = {0x00, 0x00, 0xC6, 0x42};  // 99.0
    VarekDDG::BuildFrame(VarekDDG::CMD_READ_TEMPERATURE, 1, old_reading, 4, stale);
    TemperatureResponder responder(far_end);
    int stale_answers = 0;
    for (int round = 0; round < 200; ++round) {
        // Lands on the line just before the request: still in the tty's
        // buffers, not yet counted as waiting input.
        ASSERT_EQ(write(far_end, stale.data(), stale.size()), static_cast<ssize_t>(stale.size()));
        float temperature = 0;
        ASSERT_TRUE(device.ReadTemperature(&temperature)) << round;
        if (temperature != 25.0f) ++stale_answers;
    }
    EXPECT_EQ(stale_answers, 0);
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
