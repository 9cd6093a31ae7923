// SerialPort's device side on termios. Method order mirrors
// serial_port_win32.cpp.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "net/network_line.h"
#include "varek/serial_port.h"

namespace {

struct Rate {
    std::int32_t baud;
    speed_t speed;
};
constexpr Rate kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool ToSpeed(std::int32_t baud, speed_t& speed) {
    for (const Rate& rate : kRates) {
        if (rate.baud == baud) {
            speed = rate.speed;
            return true;
        }
    }
    return false;
}

// How long one character takes on the line as it is set now: a start bit,
// the data bits, a parity bit, the stop bits. Zero when the rate is unknown.
std::chrono::nanoseconds CharacterTime(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return {};
    const speed_t speed = cfgetospeed(&settings);
    std::int64_t baud = 0;
    for (const Rate& rate : kRates) {
        if (rate.speed == speed) baud = rate.baud;
    }
    if (baud == 0) return {};
    const tcflag_t size = settings.c_cflag & CSIZE;
    const std::int64_t data_bits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    const std::int64_t bits = 1 + data_bits + ((settings.c_cflag & PARENB) != 0 ? 1 : 0) +
                              ((settings.c_cflag & CSTOPB) != 0 ? 2 : 1);
    return std::chrono::nanoseconds(bits * 1'000'000'000 / baud);
}

bool ToCharacterSize(std::int32_t data_bits, tcflag_t& size) {
    // Only the low byte counts, as in the Windows DCB.
    switch (data_bits & 0xFF) {
    case 5: size = CS5; return true;
    case 6: size = CS6; return true;
    case 7: size = CS7; return true;
    case 8: size = CS8; return true;
    default: return false;
    }
}

tcflag_t ToParityFlags(Parity parity) {
    switch (parity) {
    case Parity::None: return 0;
    case Parity::Odd: return PARENB | PARODD;
    case Parity::Even: return PARENB;
    case Parity::Mark: return PARENB | CMSPAR | PARODD;
    case Parity::Space: return PARENB | CMSPAR;
    }
    return 0;
}

// UARTs send 1.5 stop bits for CSTOPB with 5-bit characters, which is also
// the only size for which Windows accepts ONE5STOPBITS.
tcflag_t ToStopFlags(StopBits stop_bits) {
    switch (stop_bits) {
    case StopBits::One: return 0;
    case StopBits::OnePointFive: return CSTOPB;
    case StopBits::Two: return CSTOPB;
    }
    return 0;
}

VarekOpenFailure FailureOfOpen(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return VarekOpenFailure::NoSuchPort;
    case EACCES:
    case EPERM: return VarekOpenFailure::PermissionDenied;
    case EBUSY: return VarekOpenFailure::Busy;
    default: return VarekOpenFailure::Other;
    }
}

VarekOpenError OpenError(VarekOpenFailure failure, int error) {
    return {failure, static_cast<std::int32_t>(error)};
}

// Sets the line up, or says why it could not.
VarekOpenError ConfigureLine(int fd, std::int32_t baud, std::int32_t data_bits, StopBits stop_bits,
                             Parity parity) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return OpenError(errno == ENOTTY ? VarekOpenFailure::NotASerialDevice : VarekOpenFailure::Other,
                         errno);
    }
    speed_t speed = 0;
    tcflag_t character_size = 0;
    if (!ToSpeed(baud, speed) || !ToCharacterSize(data_bits, character_size)) {
        return OpenError(VarekOpenFailure::SettingsRefused, 0);
    }
    cfmakeraw(&settings);  // binary: no echo, no line editing, no CR/LF mapping
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    const tcflag_t parity_flags = ToParityFlags(parity);
    settings.c_cflag |= CLOCAL | CREAD | character_size | parity_flags | ToStopFlags(stop_bits);
    if (parity_flags != 0) settings.c_iflag |= INPCK;
    // VMIN 1 makes an empty non-blocking read fail with EAGAIN, so that a read
    // of 0 bytes can only mean the line hung up.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (cfsetispeed(&settings, speed) != 0 || cfsetospeed(&settings, speed) != 0 ||
        tcsetattr(fd, TCSANOW, &settings) != 0) {
        return OpenError(VarekOpenFailure::SettingsRefused, errno);
    }
    return {};
}

// Remaining wait for a deadline; -1 stands for no limit, as for poll().
class Deadline {
public:
    explicit Deadline(std::int32_t timeout_ms)
        : unlimited_(timeout_ms < 0),
          end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms)) {}
    int RemainingMs() const {
        if (unlimited_) return -1;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    bool unlimited() const { return unlimited_; }
    std::chrono::steady_clock::time_point end() const { return end_; }

private:
    bool unlimited_;
    std::chrono::steady_clock::time_point end_;
};

// Waits until `fd` is ready for `events`. 1 ready, 0 timed out, -1 failed or
// hung up.
int AwaitReady(int fd, short events, const Deadline& deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, deadline.RemainingMs());
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return ready;
        if ((entry.revents & events) != 0) return 1;
        return -1;  // POLLHUP, POLLERR or POLLNVAL without data
    }
}

// A read of bytes still to come sleeps until they are due at the line's
// rate, less this margin, so that timer slack and scheduling never make it
// wake after the last of them; it takes the final few as they arrive. Bytes
// due sooner than twice the margin are not worth a sleep.
constexpr std::chrono::microseconds kWakeBeforeDue{500};

// The write total time-out of SetTimeouts, as a Windows driver applies it
// (multiplier x bytes + constant, 0 for none), bounds a write besides the
// caller's own wait.
std::int32_t WriteBoundMs(const CommTimeouts& timeouts, std::int32_t count, std::int32_t timeout_ms) {
    const std::uint64_t driver_total =
        static_cast<std::uint64_t>(timeouts.WriteTotalTimeoutMultiplier) * static_cast<std::uint32_t>(count) +
        timeouts.WriteTotalTimeoutConstant;
    if (driver_total == 0 || driver_total > INT32_MAX) return timeout_ms;
    const auto driver_ms = static_cast<std::int32_t>(driver_total);
    return timeout_ms < 0 || driver_ms < timeout_ms ? driver_ms : timeout_ms;
}

}  // namespace

SerialPort::SerialPort() : handle(-1), timeouts{}, network(nullptr) {}

bool SerialPort::OpenDevice(const PortNameChar* port_name, std::int32_t baud, std::int32_t data_bits,
                            StopBits stop_bits, Parity parity, VarekOpenError& error) {
    handle = open(port_name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        error = OpenError(FailureOfOpen(errno), errno);
        handle = -1;
        return false;
    }
    // TIOCEXCL does not stop root, and it outlives our descriptor when another
    // process keeps the tty open; an flock is held exactly as long as we are.
    if (flock(handle, LOCK_EX | LOCK_NB) != 0) {
        // The lock says EWOULDBLOCK; to the host the port is busy, as open()
        // says of a tty another process holds with TIOCEXCL.
        const bool held = errno == EWOULDBLOCK;
        error = OpenError(held ? VarekOpenFailure::Busy : VarekOpenFailure::Other, held ? EBUSY : errno);
        CloseDevice();
        return false;
    }
    error = ConfigureLine(handle, baud, data_bits, stop_bits, parity);
    if (error.failure != VarekOpenFailure::None) {
        CloseDevice();
        return false;
    }
    // Pseudo-terminals have no modem lines and refuse this; real ports obey.
    int modem_lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(handle, TIOCMBIS, &modem_lines);
    tcflush(handle, TCIOFLUSH);
    timeouts = CommTimeouts{};
    return true;
}

void SerialPort::CloseDevice() {
    if (handle >= 0) {
        close(handle);  // also releases the flock
        handle = -1;
    }
}

bool SerialPort::IsOpen() const { return handle >= 0 || network != nullptr; }

NativePortHandle SerialPort::GetHandle() const { return network != nullptr ? network->socket() : handle; }

bool SerialPort::SetDeviceTimeouts(const CommTimeouts& new_timeouts) {
    timeouts = new_timeouts;
    return true;
}

bool SerialPort::SetTimeout(std::int32_t /*unused*/, std::int32_t write_timeout_ms) {
    CommTimeouts read_at_once_write_bounded{};
    read_at_once_write_bounded.ReadIntervalTimeout = UINT32_MAX;
    read_at_once_write_bounded.WriteTotalTimeoutConstant = static_cast<std::uint32_t>(write_timeout_ms);
    return SetTimeouts(read_at_once_write_bounded);
}

std::int32_t SerialPort::ReadDevice(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms) {
    const Deadline deadline(timeout_ms);
    for (;;) {
        const ssize_t got = read(handle, buffer, static_cast<std::size_t>(count));
        if (got > 0) return static_cast<std::int32_t>(got);
        if (got == 0) return -1;  // the line hung up: the device or pty end is gone
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return -1;
        const int ready = AwaitReady(handle, POLLIN, deadline);
        if (ready <= 0) return ready;
    }
}

std::int32_t SerialPort::ReadDeviceAll(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms) {
    using Clock = std::chrono::steady_clock;
    const Deadline deadline(timeout_ms);
    const Clock::time_point started = Clock::now();
    const std::chrono::nanoseconds character = CharacterTime(handle);
    std::int32_t got = 0;
    bool slept_since_bytes = false;
    while (got < count) {
        const ssize_t taken = read(handle, buffer + got, static_cast<std::size_t>(count - got));
        if (taken > 0) {
            got += static_cast<std::int32_t>(taken);
            slept_since_bytes = false;
            continue;
        }
        if (taken < 0 && errno == EINTR) continue;
        // A hang-up or failure after some bytes returns them; the next read fails.
        if (taken == 0 || errno != EAGAIN) return got > 0 ? got : -1;
        const Clock::time_point now = Clock::now();
        const std::chrono::nanoseconds rest_due = character * (count - got);
        // Only bytes that came at the line's pace say when the rest will:
        // a pseudo-terminal or an adapter's burst brings them sooner.
        const bool paced = got > 0 && (now - started) * 2 >= character * got;
        if (paced && !slept_since_bytes && rest_due >= 2 * kWakeBeforeDue) {
            Clock::time_point wake = now + rest_due - kWakeBeforeDue;
            if (!deadline.unlimited() && wake > deadline.end()) wake = deadline.end();
            std::this_thread::sleep_until(wake);
            slept_since_bytes = true;
            continue;
        }
        const int ready = AwaitReady(handle, POLLIN, deadline);
        if (ready < 0) return got > 0 ? got : -1;
        if (ready == 0) return got;
    }
    return got;
}

std::int32_t SerialPort::WriteDevice(const std::uint8_t* buffer, std::int32_t count,
                                     std::int32_t timeout_ms) {
    const Deadline deadline(WriteBoundMs(timeouts, count, timeout_ms));
    std::int32_t written = 0;
    while (written < count) {
        const ssize_t put = write(handle, buffer + written, static_cast<std::size_t>(count - written));
        if (put > 0) {
            written += static_cast<std::int32_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return -1;
        const int ready = AwaitReady(handle, POLLOUT, deadline);
        if (ready < 0) return -1;
        if (ready == 0) break;
    }
    return written;
}

void SerialPort::DiscardDeviceInput() {
    // The transmit side is left alone: only stale input must not be taken for
    // the coming reply. Always flush: FIONREAD does not count bytes still in
    // the tty's flip buffer, so asking first lets a reply that landed just
    // before the request through.
    tcflush(handle, TCIFLUSH);
}
