/// @file
/// SerialPort: one serial port or terminal server's port, moving raw bytes;
/// its line settings and why an open failed.
#ifndef VAREK_SERIAL_PORT_H
#define VAREK_SERIAL_PORT_H

#include <cstdint>

#include "varek/export.h"

// The class interface exposes the port's operating-system types. On Windows
// they are declared here, not taken from <windows.h>, so that a host's own
// choice of NOMINMAX and WIN32_LEAN_AND_MEAN stands and std::min keeps working.
#ifdef _WIN32
typedef struct _COMMTIMEOUTS COMMTIMEOUTS;
using PortNameChar = wchar_t;    ///< port names are UTF-16, e.g. L"\\\\.\\COM12"
using NativePortHandle = void*;  ///< a HANDLE; INVALID_HANDLE_VALUE while closed
using CommTimeouts = COMMTIMEOUTS;
#else
using PortNameChar = char;     ///< device paths are UTF-8, e.g. "/dev/ttyUSB0"
using NativePortHandle = int;  ///< a file descriptor, -1 while closed

/// The five fields of the Windows record, so that code setting time-outs reads
/// the same on both platforms. Only the write fields take effect here: Read
/// always waits up to its own time-out for the first byte.
struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout;          ///< no effect here
    std::uint32_t ReadTotalTimeoutMultiplier;   ///< no effect here
    std::uint32_t ReadTotalTimeoutConstant;     ///< no effect here
    std::uint32_t WriteTotalTimeoutMultiplier;  ///< ms per byte written, added to the constant
    std::uint32_t WriteTotalTimeoutConstant;    ///< ms a write may take besides the bytes' share
};
#endif

namespace varek::net {
class NetworkLine;
}

/// Stop bits of a serial line, numbered as Windows numbers them.
enum class StopBits : std::int32_t {
    One = 0,           ///< one stop bit
    OnePointFive = 1,  ///< one and a half on Windows; two where termios has no such setting
    Two = 2,           ///< two stop bits
};

/// Parity of a serial line, numbered as Windows numbers it.
enum class Parity : std::int32_t {
    None = 0,   ///< no parity bit
    Odd = 1,    ///< odd parity
    Even = 2,   ///< even parity
    Mark = 3,   ///< the parity bit always 1
    Space = 4,  ///< the parity bit always 0
};

/// Why an Open failed, as the system call that failed said it.
enum class VarekOpenFailure : std::int32_t {
    None = 0,          ///< it did not fail
    NoSuchPort,        ///< no port of that name
    PermissionDenied,  ///< the user may not open it (on Linux, not in the group dialout?)
    Busy,              ///< another program holds the port
    NotASerialDevice,  ///< it opened, but takes no line settings
    SettingsRefused,   ///< a serial device that refused the baud rate or framing
    Other,             ///< another failure, which os_error names
    // A network port (socket://HOST:PORT, rfc2217://HOST:PORT):
    ConnectRefused,      ///< nothing listens there, or the terminal server turned us away
    ConnectTimedOut,     ///< nothing answered the connect in time
    HostNotFound,        ///< the host name does not resolve
    NoComPortAgreement,  ///< an rfc2217:// server refused the COM port option, or never answered
    // A name that picked no port (VarekOpenPort, the C interface):
    NameMalformed,     ///< a name of a kind the resolver knows, written wrong (usb:12:34)
    UsbNameAmbiguous,  ///< a usb: name that more than one port has
};

/// Why an Open failed: the kind, and the operating system's own error.
struct VarekOpenError {
    VarekOpenFailure failure = VarekOpenFailure::None;  ///< the kind of failure
    std::int32_t os_error = 0;  ///< errno, or GetLastError() on Windows; 0 when the library refused
};

/// One serial port, opened exclusively, moving raw bytes with a time-out per
/// call. Read and Write return the byte count (a time-out is a short count, not
/// an error) or -1 on failure.
///
/// Open also takes a terminal server's port: socket://HOST:PORT for one in raw
/// TCP mode, rfc2217://HOST:PORT for one that speaks RFC 2217, which gets the
/// baud rate, data bits, parity and stop bits of the open. HOST is a name, an
/// IPv4 address or an IPv6 address in brackets. GetHandle() is then the
/// connected socket, the time-out records have no effect, and a connection the
/// far end closed fails Read and Write.
class VAREK_API SerialPort {
public:
    /// A closed port.
    SerialPort();
    /// Closes the port, if open.
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    /// Opens `port_name` for exclusive use (a device path, COMn, or a
    /// network name as above) with the line settings given. A port already
    /// open is closed first. False when it cannot be opened; the overload
    /// below says why.
    bool Open(const PortNameChar* port_name, std::int32_t baud, std::int32_t data_bits, StopBits stop_bits,
              Parity parity);
    /// The same, saying in `error` why it failed.
    bool Open(const PortNameChar* port_name, std::int32_t baud, std::int32_t data_bits, StopBits stop_bits,
              Parity parity, VarekOpenError& error);
    /// Closes the port; a closed port stays closed.
    void Close();
    /// True while the port is open.
    bool IsOpen() const;
    /// The operating system's handle (a descriptor on Linux, a HANDLE on
    /// Windows, the socket for a network port), for waits of the host's own.
    NativePortHandle GetHandle() const;

    /// Sets the port's time-out records (on Windows, as SetCommTimeouts takes
    /// them; here only the write fields take effect). False on failure or a
    /// closed port.
    bool SetTimeouts(const CommTimeouts& timeouts);
    /// The first argument has no effect; the second is the write time-out in ms.
    bool SetTimeout(std::int32_t unused, std::int32_t write_timeout_ms);

    /// Reads up to `count` bytes into `buffer`, waiting up to `timeout_ms`
    /// for the first: returns as soon as some have come, with their count; 0
    /// when none came in time; -1 when the port failed or is closed, the far
    /// end of a network line closed it, `buffer` is null or `count` is not
    /// positive.
    std::int32_t Read(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms);
    /// As Read, but returns only once all `count` bytes have come or the wait
    /// is over, with what came: for bytes whose number is known, such as the
    /// rest of a frame. It sleeps while they are on their way (by the line's
    /// rate, the serial driver's time-outs or the socket's low-water mark),
    /// where Read returns with each chunk. The port's time-out records have
    /// no effect on it.
    std::int32_t ReadAll(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms);
    /// Writes `count` bytes, waiting up to `timeout_ms` for them to leave:
    /// the count written (short when the time ran out), -1 on failure.
    std::int32_t Write(const std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms);

    /// Discards every byte received and not yet read, and ends a read in
    /// progress. On an RFC 2217 line the terminal server also drops what it
    /// has received from the instrument and not yet sent on. False when a
    /// network line kept sending for as long as a purge may take, so that it
    /// could not be emptied; a serial device is emptied at once.
    bool DiscardInput();
    /// The bytes of Telnet commands an RFC 2217 line has received since it
    /// opened, which carry none of the line's own bytes; 0 on other ports.
    std::uint64_t TelnetBytesReceived() const;

private:
    /// The serial device's own side of the methods above.
    bool OpenDevice(const PortNameChar* port_name, std::int32_t baud, std::int32_t data_bits,
                    StopBits stop_bits, Parity parity, VarekOpenError& error);
    void CloseDevice();
    bool SetDeviceTimeouts(const CommTimeouts& timeouts);
    std::int32_t ReadDevice(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms);
    std::int32_t ReadDeviceAll(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms);
    std::int32_t WriteDevice(const std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms);
    void DiscardDeviceInput();

#ifdef _WIN32
    /// Room for a Windows OVERLAPPED record, which the port constructs in it.
    struct OverlappedStorage {
        alignas(void*) unsigned char bytes[3 * sizeof(void*) + 8];
    };

    bool CreateOverlappedEvents();
    void DestroyOverlappedEvents();

    NativePortHandle handle;
    OverlappedStorage read_overlapped;
    OverlappedStorage write_overlapped;
#else
    int handle;
    CommTimeouts timeouts;
#endif
    /// The connection when the port is a network name; null for a device.
    varek::net::NetworkLine* network;
};

#endif
