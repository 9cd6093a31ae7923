/// @file
/// The machine's serial ports, and the one rule that turns a port name as a
/// user writes it into what the system opens. The class interface's Open
/// takes system names as they are; hosts of it resolve a user's name here
/// first. The C interface, varekctl, varek-server, Python and Tango all go
/// through the same resolver.
#ifndef VAREK_PORTS_H
#define VAREK_PORTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "varek/export.h"
#include "varek/serial_port.h"
#include "varek/varek_ddg.h"

/// One serial port as the system lists it. Text is UTF-8; "" where the system
/// knows nothing.
struct VarekPortInfo {
    std::string name;           ///< as a user names it and the resolver takes it: COM12, /dev/ttyUSB0
    std::string description;    ///< the system's description of the device
    std::string vid;            ///< USB vendor id, 4 hex digits; "" when not USB
    std::string pid;            ///< USB product id, 4 hex digits; "" when not USB
    std::string serial_number;  ///< the USB device's serial number
    std::string manufacturer;   ///< the USB device's manufacturer, as it names itself
    std::string product;        ///< the USB device's product name, as it names itself
    std::string location;       ///< where on the USB tree: 1-2:1.0, Port_#0002.Hub_#0001
    std::string by_id;          ///< Linux: the stable /dev/serial/by-id link
    /// The usb:VID:PID[:SERIAL] name that picks this port alone, wherever it
    /// is plugged in; "" when it is no USB port or no such name is unique.
    std::string locator;

    /// True for a port on a USB device.
    bool is_usb() const { return !vid.empty(); }
};

/// Every serial port the system lists, in natural order (COM2 before COM10).
/// Windows: SetupAPI's COM-port devices, and the names the registry's
/// SERIALCOMM map adds. Linux: the ttys with a device behind them in sysfs,
/// under $VAREK_SYSFS_ROOT (default /sys), named under $VAREK_DEV_ROOT
/// (default /dev).
VAREK_API std::vector<VarekPortInfo> VarekListPorts();

/// How a port name resolved.
enum class VarekPortResolution : std::int32_t {
    Resolved = 0,  ///< `system_name` is what to open
    Malformed,     ///< a name of a kind the resolver knows, written wrong (usb:12:34, socket://host)
    NoMatch,       ///< a usb: name that no listed port has
    Ambiguous,     ///< a usb: name that more than one listed port has
    Empty,         ///< nothing to open: an empty name, or COM with a number beyond 32 bits
};

/// What a user's port name resolved to, or why it did not.
struct VarekResolvedPort {
    VarekPortResolution resolution = VarekPortResolution::Empty;  ///< how it resolved
    /// What SerialPort::Open and VarekDDG::Open take: `\\.\COM12` for COM12.
    std::basic_string<PortNameChar> system_name;
    /// The port as a user knows it, for messages: the listed name a usb: name
    /// picked, else the name given.
    std::string name;
    /// Why it did not resolve, naming the candidates; "" when it did.
    std::string why;
    /// A terminal server's port (socket://, rfc2217://), not one of this
    /// machine's, so no listing of the machine's ports can help with it.
    bool network = false;

    /// True when it resolved.
    bool ok() const { return resolution == VarekPortResolution::Resolved; }
};

/// Resolves `name` (in the encoding the C interface takes: the ANSI code page
/// on Windows, bytes on Linux) by its kind:
/// - usb:VID:PID or usb:VID:PID:SERIAL (hex ids in any letter case): the one
///   listed port with that identity;
/// - socket://HOST:PORT or rfc2217://HOST:PORT: a terminal server's port,
///   which SerialPort::Open takes as it is (see serial_port.h);
/// - COM followed by a number above 9 (any letter case): `\\.\COMn`, as the
///   C interface has always opened it;
/// - any other name: unchanged.
VAREK_API VarekResolvedPort VarekResolvePort(const char* name);

/// The open failure a name that picked no port stands for: a usb: name no
/// port has, or an empty one, is no such port; None when it resolved.
VAREK_API VarekOpenFailure VarekResolutionFailure(VarekPortResolution resolution);

/// How opening a port by a user's name ended.
struct VarekPortOpening {
    VarekOpenError error;  ///< failure None when it opened
    std::string why;       ///< the reason, in the words of VarekDescribeOutcome; "" when it opened
    std::string name;      ///< the port as the user knows it: the listed name a usb: name picked
    bool network = false;  ///< a terminal server's port

    /// True when the port opened.
    bool ok() const { return error.failure == VarekOpenFailure::None; }
};

/// Resolves `name` as VarekResolvePort does, afresh each time (a USB adapter
/// may come back on another port), and opens `device` on it at `baud` (0 or
/// less: the default). The one way every host opens a port by a user's name.
VAREK_API VarekPortOpening VarekOpenPort(VarekDDG& device, const char* name, std::int32_t baud);

#endif
