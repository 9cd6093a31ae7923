// The instrument's end of the serial line: a pseudo-terminal the simulator
// makes (Linux), an existing serial port it opens through the library, or a
// TCP port as a terminal server would offer the line.
#ifndef VAREK_SIM_LINE_H
#define VAREK_SIM_LINE_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace varek::sim {

// The line went away under the simulator: a USB adapter unplugged, the other
// end of a pair closed.
struct LineLost : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Line {
public:
    virtual ~Line() = default;

    // The device the host opens: a pty path, or the port's name.
    virtual const std::string& device() const = 0;
    virtual bool up() const = 0;
    // Up to `count` bytes that arrive within `wait`; 0 when none came.
    // Throws LineLost when the line is gone.
    virtual std::size_t Read(std::uint8_t* buffer, std::size_t count, std::chrono::nanoseconds wait) = 0;
    // Puts on the line what it takes now of `count` bytes and returns how
    // many; throws LineLost when the line is gone.
    virtual std::size_t Write(const std::uint8_t* bytes, std::size_t count) = 0;
    // Closes the line as an unplugged cable would.
    virtual void HangUp() = 0;
    // A line again after a hang-up, under the same name. Throws
    // std::runtime_error when it cannot be had.
    virtual void Revive() = 0;
    // The line settings the host applied, where the line can tell; else "".
    virtual std::string HostSettings() const = 0;
};

// A pseudo-terminal whose slave the host opens, with a symlink to it at
// `link_path` unless that is empty. Throws std::runtime_error where there is
// none to be had.
std::unique_ptr<Line> OpenPseudoTerminal(const std::string& link_path);

// The serial port `name` (COM20, /dev/ttyUSB0), opened at `baud`, 8N1, through
// the library. Throws std::runtime_error with the library's reason.
std::unique_ptr<Line> OpenSerialPort(const std::string& name, std::int32_t baud);

// A TCP port on `host` (a name or an address, an IPv6 one without brackets)
// at `port` (0 picks a free one) serving one client at a time; the device is
// its socket:// name. Throws std::runtime_error when it cannot listen there.
std::unique_ptr<Line> ListenTcp(const std::string& host, unsigned short port);

}  // namespace varek::sim

#endif
