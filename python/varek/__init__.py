"""Drive the varek delay generator from Python, through the library's C interface::

    from varek import Varek

    with Varek("COM12") as ddg:          # Linux: Varek("/dev/ttyUSB0")
        ddg.set_delay(1, 12345)
        ddg.software_trigger()
        print(ddg.read_timing_config(1).delay, ddg.read_temperature())

Every method raises VarekError when the library reports a failure; its
message says why, in the library's words, and its `outcome` says what kind
of failure it was (a varek.Outcome). An argument the library refuses before
sending anything raises VarekArgumentError, which is a ValueError too; a port
that cannot be opened raises VarekOpenError, which is an OSError too, with
its `failure` (a varek.OpenFailure) and the system's `errno`.
varek.list_ports() lists this machine's serial ports. Standard library only
(ctypes). For tests without the instrument, see varek.testing and the pytest
fixture varek_sim.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import decimal
import enum
import json
import os
import sys
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Type, Union

try:
    from ._version import LIBRARY_FILES, __version__
except ImportError:  # the repository's own folder, not a built package: VAREK_LIBRARY names the library
    __version__ = "0+source"
    LIBRARY_FILES: Dict[str, str] = {}

__all__ = ["Varek", "VarekError", "VarekArgumentError", "VarekOpenError", "VarekApplyError", "Outcome", "OpenFailure",
           "TimingConfig", "Status", "Limits", "limits", "PortInfo", "list_ports", "load_library", "check_setup",
           "compare_setups", "Difference", "to_units", "format_time", "__version__"]

OK, NULL_HANDLE, FAILED = 0, -1, -2
# apply_setup's result when the instrument read back otherwise than sent.
_SETUP_DIFFERS = 1
_INT32 = (-(2**31), 2**31 - 1)
_INT64 = (-(2**63), 2**63 - 1)
# Room for a reason or a listing; the library says when it needs more.
_TEXT_ROOM = 1024
# Room for a setup document, or the list of what differs in one: far more than either needs.
_SETUP_ROOM = 64 * 1024


def _numbered_names(name_of: Callable[[int], Optional[bytes]]) -> List["tuple[str, int]"]:
    """The library's names of a numbering, 0 up to the first number it has no name for."""
    names = []
    while True:
        name = name_of(len(names))
        if name is None:
            return names
        names.append((name.decode().upper(), len(names)))


def _kinds_from_library() -> "tuple[Type[enum.IntEnum], Type[enum.IntEnum]]":
    """The outcome and open-failure numberings, as the library in use names them."""
    try:
        lib = load_library()
    except OSError as missing:  # no library, no package: say so as an import does
        raise ImportError(f"varek: {missing}") from missing
    outcome = enum.IntEnum("Outcome", _numbered_names(lib.varekx_outcome_name), module=__name__)
    outcome.__doc__ = "How an operation ended, as the library numbers it (varekx_last_outcome)."
    failure = enum.IntEnum("OpenFailure", _numbered_names(lib.varekx_open_failure_name), module=__name__)
    failure.__doc__ = "Why a port did not open, as the library numbers it (varekx_open_v2)."
    return outcome, failure


def _outcome(number: int) -> Optional["Outcome"]:
    try:
        return Outcome(number)
    except ValueError:  # a kind added by a newer library
        return None


class VarekError(Exception):
    """An operation failed.

    `operation` names it, `port` is the connection's port, `code` the library's
    result code (-1 closed connection, -2 failure), `outcome` the kind of
    failure (a varek.Outcome; None for a closed connection) and `reason` says
    why, in the library's words ("nothing arrived from COM12 within 1000 ms: ...").
    """

    def __init__(self, operation: str, code: int, reason: str = "", port: str = "",
                 outcome: Optional[Outcome] = None):
        if code == NULL_HANDLE and not reason:
            reason = "the connection is closed"
        super().__init__(f"{operation} failed: {reason or 'the library gave no reason'}")
        self.operation = operation
        self.code = code
        self.reason = reason
        self.port = port
        self.outcome = outcome


class VarekArgumentError(VarekError, ValueError):
    """An argument refused before anything is sent; `reason` names it and its limits."""

    def __init__(self, operation: str, reason: str, port: str = ""):
        super().__init__(operation, FAILED, reason, port, Outcome.ARGUMENT_REJECTED)
        self.args = (f"{operation}: {reason}",)

    def __str__(self) -> str:
        return self.args[0]


class VarekApplyError(VarekError):
    """A setup that did not apply, or read back otherwise. `taken` is the setup
    document (a dict) of the fields the instrument took, with the global output
    as the apply left it; `uncertain` that of the field whose request failed
    after it went out, which the instrument may or may not have carried out.
    Whoever keeps what was set keeps `taken` and forgets `uncertain`."""

    def __init__(self, operation: str, code: int, reason: str, port: str, outcome: Optional[Outcome],
                 taken: Dict[str, Any], uncertain: Dict[str, Any]):
        super().__init__(operation, code, reason, port, outcome)
        self.taken = taken
        self.uncertain = uncertain


class VarekOpenError(VarekError, OSError):
    """The port did not open; `reason` says why in the library's words (no such
    port, busy, no permission, a usb: name that matches no port or several),
    `failure` as a varek.OpenFailure (BUSY, NO_SUCH_PORT, ...), and `errno` is
    the system's error number where it gave one (None otherwise; on Windows
    `winerror` is its own). As with OSError, the error raised is also the
    built-in subclass for that number: PermissionError for EACCES,
    FileNotFoundError for ENOENT, ConnectionRefusedError for ECONNREFUSED."""

    def __new__(cls, port: str, reason: str, failure: Optional["OpenFailure"] = None, os_error: int = 0):
        if cls is VarekOpenError:
            cls = _open_error_class(_errno_of(os_error))
        return super().__new__(cls)

    def __init__(self, port: str, reason: str, failure: Optional["OpenFailure"] = None, os_error: int = 0):
        super().__init__(f"opening {port}", FAILED, reason, port, Outcome.OPEN_FAILED)
        self.args = (reason,)
        self.failure = failure
        self.errno = _errno_of(os_error)
        self.strerror = reason
        self.filename = port
        if sys.platform == "win32":
            self.winerror = os_error or None

    def __str__(self) -> str:
        return self.args[0]


def _errno_of(os_error: int) -> Optional[int]:
    """The errno the system's error stands for: itself on Linux; on Windows the
    number Python's own OSError maps a GetLastError value to."""
    if not os_error:
        return None
    if sys.platform == "win32":
        return OSError(None, "", None, os_error).errno
    return os_error


_OPEN_ERROR_CLASSES: Dict[type, type] = {}


def _open_error_class(errno_value: Optional[int]) -> type:
    """VarekOpenError, joined with the OSError subclass the error number has, as
    OSError(errno, ...) itself picks it."""
    builtin = type(OSError(errno_value, "")) if errno_value else OSError
    if builtin is OSError:
        return VarekOpenError
    if builtin not in _OPEN_ERROR_CLASSES:
        _OPEN_ERROR_CLASSES[builtin] = type("VarekOpenError", (VarekOpenError, builtin),
                                            {"__module__": __name__, "__doc__": VarekOpenError.__doc__})
    return _OPEN_ERROR_CLASSES[builtin]


class TimingConfig(NamedTuple):
    """One channel's timing as the instrument reports it."""

    delay: int
    pulse_width: int
    reg131: int
    internal_trigger_freq: float


class Status(NamedTuple):
    """Every channel and the instrument-wide values, from one status read;
    lists are indexed by channel - 1."""

    delay: List[int]
    pulse_width: List[int]
    value_a: List[int]
    value_b: List[int]
    internal_trigger_freq: float
    reg128: int
    reg130: int
    reg131: int
    reg136: int
    reg137: int
    reg138: int
    reg276: float


class _LimitsRecord(ctypes.Structure):
    _fields_ = [("channel_count", ctypes.c_int32), ("trigger_mode_count", ctypes.c_int32),
                ("max_timing_value", ctypes.c_int64), ("min_trigger_freq", ctypes.c_double),
                ("max_trigger_freq", ctypes.c_double), ("default_baud", ctypes.c_int32)]


class _StatusRecord(ctypes.Structure):
    _fields_ = [("delay", ctypes.c_int64 * 8), ("pulse_width", ctypes.c_int64 * 8), ("value_a", ctypes.c_int64 * 8),
                ("value_b", ctypes.c_int64 * 8), ("internal_trigger_freq", ctypes.c_double),
                ("reg128", ctypes.c_int32), ("reg130", ctypes.c_int32), ("reg131", ctypes.c_int32),
                ("reg136", ctypes.c_int32), ("reg137", ctypes.c_int32), ("reg138", ctypes.c_int32),
                ("reg276", ctypes.c_float)]


def _bundled_candidates(here: str, name: str) -> List[str]:
    """Where a compiled part of ours (the library, varek-sim) may be, in the
    order looked at: beside the package (a wheel), then in the bin folder two
    levels up, where the Windows release zip keeps it (python/varek/ and
    bin/varek.dll)."""
    return [os.path.join(here, name), os.path.normpath(os.path.join(here, "..", "..", "bin", name))]


def _library_candidates(here: str, platform: str) -> List[str]:
    name = LIBRARY_FILES.get("win32" if platform == "win32" else "linux")
    return _bundled_candidates(here, name) if name else []


def _library_path() -> str:
    explicit = os.environ.get("VAREK_LIBRARY")
    if explicit:
        return explicit
    for candidate in _library_candidates(os.path.dirname(os.path.abspath(__file__)), sys.platform):
        if os.path.exists(candidate):
            return candidate
    found = ctypes.util.find_library("varek")
    if found:
        return found
    raise OSError("cannot find the varek library: install the varek package, or set VAREK_LIBRARY to its path")


def load_library(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads the library (VAREK_LIBRARY, the copy inside this package, or the
    system's) and declares the C interface's signatures on it."""
    lib = ctypes.CDLL(path or _library_path())
    handle = ctypes.c_void_p  # a pointer: the default int result would cut it to 32 bits
    i32, i64, f64 = ctypes.c_int32, ctypes.c_int64, ctypes.c_double
    signatures = {
        "varek_init": (handle, [ctypes.c_char_p, i32]),
        "varek_close": (None, [handle]),
        "varek_set_trigger": (i32, [handle, i32]),
        "varek_set_trigger_freq": (i32, [handle, f64]),
        "varek_set_output_channel": (i32, [handle, i32, i32]),
        "varek_set_delay": (i32, [handle, i32, i64]),
        "varek_set_pulse_width": (i32, [handle, i32, i64]),
        "varek_set_global_output": (i32, [handle, i32]),
        "varek_software_trigger": (i32, [handle]),
        "varek_read_temperature": (i32, [handle, ctypes.POINTER(ctypes.c_float)]),
        "varek_read_timing_config": (i32, [handle, i32, ctypes.POINTER(i64), ctypes.POINTER(i64),
                                           ctypes.POINTER(i32), ctypes.POINTER(f64)]),
        "varekx_last_error": (i32, [handle, ctypes.c_char_p, i32]),
        "varekx_read_status": (i32, [handle, ctypes.POINTER(_StatusRecord)]),
        "varekx_limits": (None, [ctypes.POINTER(i32), ctypes.POINTER(i64), ctypes.POINTER(f64), ctypes.POINTER(f64)]),
        "varekx_get_limits": (None, [ctypes.POINTER(_LimitsRecord)]),
        "varekx_last_outcome": (i32, [handle]),
        "varekx_open": (handle, [ctypes.c_char_p, i32, ctypes.c_char_p, i32]),
        "varekx_open_v2": (handle, [ctypes.c_char_p, i32, ctypes.c_char_p, i32, ctypes.POINTER(i32),
                                    ctypes.POINTER(i32)]),
        "varekx_outcome_name": (ctypes.c_char_p, [i32]),
        "varekx_compare_setups": (i32, [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, i32]),
        "varekx_port_lost": (i32, [handle]),
        "varekx_open_failure_name": (ctypes.c_char_p, [i32]),
        "varekx_list_ports": (i32, [ctypes.c_char_p, i32]),
        "varekx_check_setup": (i32, [ctypes.c_char_p, ctypes.c_char_p, i32]),
        "varekx_read_setup": (i32, [handle, ctypes.c_char_p, ctypes.c_char_p, i32]),
        "varekx_apply_setup": (i32, [handle, ctypes.c_char_p, i32, ctypes.c_char_p, i32, ctypes.c_char_p, i32,
                                     ctypes.c_char_p, i32]),
        "varekx_parse_time": (i32, [ctypes.c_char_p, ctypes.c_char_p, ctypes.POINTER(i64), ctypes.c_char_p, i32]),
        "varekx_format_time": (i32, [i64, ctypes.c_char_p, ctypes.c_char_p, i32]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


class Limits(NamedTuple):
    """The library's limits: channels 1..channel_count, delays and widths
    0..max_timing_value, frequencies above min_trigger_freq up to max_trigger_freq,
    trigger modes 0..trigger_mode_count - 1, and the baud rate it opens at by default."""

    channel_count: int
    max_timing_value: int
    min_trigger_freq: float
    max_trigger_freq: float
    trigger_mode_count: int
    default_baud: int


def limits(library: Optional[str] = None) -> Limits:
    """The limits of the library in use, as it checks them."""
    record = _LimitsRecord()
    load_library(library).varekx_get_limits(ctypes.byref(record))
    return Limits(record.channel_count, record.max_timing_value, record.min_trigger_freq, record.max_trigger_freq,
                  record.trigger_mode_count, record.default_baud)


class PortInfo(NamedTuple):
    """A serial port as the system lists it ("" for what it does not know);
    `locator` is the usb:VID:PID[:SERIAL] name that opens it by identity."""

    name: str
    description: str
    vid: str
    pid: str
    serial_number: str
    manufacturer: str
    product: str
    location: str
    by_id: str
    locator: str


def _text(fill: Callable[[Optional[ctypes.Array], int], int]) -> str:
    """Text from a length-returning library call, with room enough."""
    buffer = ctypes.create_string_buffer(_TEXT_ROOM)
    needed = fill(buffer, len(buffer))
    if needed >= len(buffer):
        buffer = ctypes.create_string_buffer(needed + 1)
        fill(buffer, len(buffer))
    return buffer.value.decode(errors="replace")


def list_ports(library: Optional[str] = None) -> List[PortInfo]:
    """This machine's serial ports, in natural order, as the library lists them."""
    lib = load_library(library)
    listing = _text(lib.varekx_list_ports)
    return [PortInfo(*line.split("\t")) for line in listing.splitlines() if line]


def _setup_text(document: Union[str, Dict[str, Any]]) -> str:
    """A setup document as the library reads it: text as it stands, a dict as JSON."""
    return document if isinstance(document, str) else json.dumps(document)


def _check_setup(lib: ctypes.CDLL, text: str) -> None:
    encoded = text.encode()
    why = _text(lambda buffer, size: lib.varekx_check_setup(encoded, buffer, size))
    if why:
        raise VarekArgumentError("setup", why)


def check_setup(document: Union[str, Dict[str, Any]], library: Union[None, str, "Varek"] = None) -> None:
    """Checks a setup document whole, as applying it would, sending nothing; raises
    VarekArgumentError naming the field's path ("channels.3.delay: ..."). `library`
    names the library to load, or is a connection whose library to use."""
    lib = library._lib if isinstance(library, Varek) else load_library(library)
    _check_setup(lib, _setup_text(document))


class Difference(NamedTuple):
    """A field whose values differ: its path ("channels.3.delay"), the value wanted and the value found."""

    field: str
    wanted: Any
    found: Any


def _differences(report: str) -> List[Difference]:
    """The library's difference lines, PATH<TAB>WANTED<TAB>FOUND, the values as JSON."""
    return [Difference(path, json.loads(wanted), json.loads(found))
            for path, wanted, found in (line.split("\t") for line in report.splitlines())]


def compare_setups(wanted: Union[str, Dict[str, Any]], found: Union[str, Dict[str, Any]],
                   library: Optional[str] = None) -> List[Difference]:
    """The fields in which two setup documents differ, compared as the library compares
    them (as the instrument holds the values; a field absent or null in either is not
    compared); VarekArgumentError when either is no setup document."""
    lib = load_library(library)
    report = ctypes.create_string_buffer(_SETUP_ROOM)
    count = lib.varekx_compare_setups(_setup_text(wanted).encode(), _setup_text(found).encode(), report, len(report))
    if count < 0:
        raise VarekArgumentError("compare_setups", report.value.decode(errors="replace"))
    return _differences(report.value.decode())


def to_units(time: Union[str, float, int], unit: str, library: Optional[str] = None) -> int:
    """`time` ("12.5us", or a number of seconds) as a whole number of units of `unit`
    ("1ns"); VarekArgumentError when it is not one."""
    units = ctypes.c_int64()
    text = _time_text(time).encode()
    lib = load_library(library)
    why = _text(lambda buffer, size: lib.varekx_parse_time(text, unit.encode(), ctypes.byref(units), buffer, size))
    if why:
        raise VarekArgumentError(f"to_units({time!r})", why)
    return units.value


def format_time(units: int, unit: str, library: Optional[str] = None) -> str:
    """`units` of `unit` as a time with an SI prefix ("12.345 us"); the plain number
    when `unit` is ""."""
    lib = load_library(library)
    return _text(lambda buffer, size: lib.varekx_format_time(units, unit.encode(), buffer, size))


def _time_text(time: Union[str, float, int]) -> str:
    """A time as the library reads it: text as it stands ("12.5us"), a number
    as that many seconds, written out exactly as Python holds it."""
    if isinstance(time, str):
        return time
    if isinstance(time, bool) or not isinstance(time, (int, float)):
        raise TypeError(f"a time is seconds or text such as '12.5us', got {time!r}")
    return format(decimal.Decimal(repr(time)), "f") + "s"


def _whole(operation: str, name: str, value: Any, limits: "tuple[int, int]") -> int:
    """`value` as the C integer it is passed as: a value the C type cannot hold
    would reach the library cut short, so it is refused here."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise VarekArgumentError(operation, f"{name} must be a whole number, got {value!r}")
    if not limits[0] <= value <= limits[1]:
        raise VarekArgumentError(operation, f"{name} {value} does not fit the library's {name} argument")
    return value


class Varek:
    """One open connection with the instrument; a context manager that closes it.

    Opens `port` ("COM12", "/dev/ttyUSB0", "usb:0403:6001") at `baud` (None:
    the library's default, 115200), 8 data bits, no parity, one stop bit, for
    exclusive use; raises VarekOpenError (an OSError) with the library's reason
    when the port cannot be opened. `library` names the varek library to load
    instead of the bundled one. `unit` says what one unit of the instrument is,
    as its manual gives it ("1ns", "10ps"): the `*_time` methods then take times,
    and read_setup records it.
    """

    def __init__(self, port: str, baud: Optional[int] = None, library: Optional[str] = None,
                 unit: Optional[str] = None):
        self._lib = load_library(library)
        self._library = library
        self._port = port
        self._handle: Optional[int] = None
        self._unit = unit or ""
        if self._unit:
            self.to_units("0s")  # a unit that is not a time is refused before the port opens
        why = ctypes.create_string_buffer(_TEXT_ROOM)
        failure, os_error = ctypes.c_int32(), ctypes.c_int32()
        handle = self._lib.varekx_open_v2(port.encode(sys.getfilesystemencoding()),
                                          0 if baud is None else _whole(f"Varek({port!r})", "baud", baud, _INT32),
                                          why, len(why), ctypes.byref(failure), ctypes.byref(os_error))
        if not handle:
            raise VarekOpenError(port, why.value.decode(errors="replace") or f"cannot open {port}",
                                 _open_failure(failure.value), os_error.value)
        self._handle = handle

    @property
    def port(self) -> str:
        """The port this connection was opened on."""
        return self._port

    @property
    def unit(self) -> Optional[str]:
        """What one unit of the instrument is, as declared; None when not declared."""
        return self._unit or None

    def to_units(self, time: Union[str, float, int]) -> int:
        """`time` ("12.5us", or a number of seconds) as a whole number of units in
        the declared unit; VarekArgumentError when it is not one, or when no unit
        is declared."""
        try:
            return to_units(time, self._unit, self._library)
        except VarekArgumentError as refused:
            raise VarekArgumentError(refused.operation, refused.reason, self._port) from None

    def format_time(self, units: int) -> str:
        """`units` as a time with an SI prefix ("12.345 us"); the plain number
        without a declared unit."""
        return format_time(units, self._unit, self._library)

    def close(self) -> None:
        """Closes the port; harmless when closed already."""
        if self._handle:
            self._lib.varek_close(self._handle)
            self._handle = None

    def __enter__(self) -> "Varek":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None):
            self.close()

    def last_error(self) -> str:
        """Why the last operation failed, in the library's words; "" when it succeeded."""
        if not self._handle:
            return ""
        return _text(lambda buffer, size: self._lib.varekx_last_error(self._handle, buffer, size))

    def port_lost(self) -> bool:
        """Whether the last operation failed because the port itself went away (an adapter
        unplugged, a terminal server's connection closed): only opening it again can help."""
        return bool(self._handle) and self._lib.varekx_port_lost(self._handle) == 1

    def last_outcome(self) -> Optional[Outcome]:
        """How the last operation ended; None on a closed connection."""
        return _outcome(self._lib.varekx_last_outcome(self._handle)) if self._handle else None

    def _call(self, operation: str, function: Callable[..., int], *args: Any) -> None:
        code = function(self._handle, *args)
        if code == OK:
            return
        outcome = self.last_outcome()
        if outcome == Outcome.ARGUMENT_REJECTED:
            raise VarekArgumentError(operation, self.last_error(), self._port)
        raise VarekError(f"{operation} on {self._port}", code, self.last_error(), self._port, outcome)

    def set_trigger(self, mode: int) -> None:
        """Sets the trigger mode 0, 1 or 2 (any other value acts as 0)."""
        operation = f"set_trigger({mode})"
        self._call(operation, self._lib.varek_set_trigger, _whole(operation, "mode", mode, _INT32))

    def set_trigger_freq(self, frequency: float) -> None:
        """Sets the internal trigger frequency; one the instrument has no setting for
        (not finite, above 250 MHz, below about 0.0582 Hz) raises VarekArgumentError."""
        operation = f"set_trigger_freq({frequency})"
        if isinstance(frequency, bool) or not isinstance(frequency, (int, float)):
            raise VarekArgumentError(operation, f"frequency must be a number, got {frequency!r}")
        self._call(operation, self._lib.varek_set_trigger_freq, float(frequency))

    def set_output_channel(self, channel: int, on: bool) -> None:
        """Switches channel 1..8's output on or off."""
        operation = f"set_output_channel({channel}, {on})"
        self._call(operation, self._lib.varek_set_output_channel, _whole(operation, "channel", channel, _INT32),
                   int(bool(on)))

    def set_delay(self, channel: int, delay: int) -> None:
        """Sets channel 1..8's delay, in the instrument's units (0 or more)."""
        operation = f"set_delay({channel}, {delay})"
        self._call(operation, self._lib.varek_set_delay, _whole(operation, "channel", channel, _INT32),
                   _whole(operation, "delay", delay, _INT64))

    def set_pulse_width(self, channel: int, pulse_width: int) -> None:
        """Sets channel 1..8's pulse width, in the instrument's units (0 or more)."""
        operation = f"set_pulse_width({channel}, {pulse_width})"
        self._call(operation, self._lib.varek_set_pulse_width, _whole(operation, "channel", channel, _INT32),
                   _whole(operation, "pulse_width", pulse_width, _INT64))

    def set_delay_time(self, channel: int, time: Union[str, float, int]) -> None:
        """Sets channel 1..8's delay as a time ("12.5us", or seconds) in the declared unit."""
        self.set_delay(channel, self.to_units(time))

    def set_pulse_width_time(self, channel: int, time: Union[str, float, int]) -> None:
        """Sets channel 1..8's pulse width as a time ("500ns", or seconds) in the declared unit."""
        self.set_pulse_width(channel, self.to_units(time))

    def read_setup(self) -> Dict[str, Any]:
        """What the instrument reports, from one status read, as a setup document:
        the trigger mode and the outputs, which it cannot report, are None."""
        unit = self._unit.encode()
        buffer = ctypes.create_string_buffer(_SETUP_ROOM)
        length = self._lib.varekx_read_setup(self._handle, unit, buffer, len(buffer))
        if length < 0:
            raise VarekError(f"read_setup() on {self._port}", length, self.last_error(), self._port,
                             self.last_outcome())
        return json.loads(buffer.value.decode())

    def apply_setup(self, document: Union[str, Dict[str, Any]], verify: bool = True) -> None:
        """Applies a setup document (a dict, or its JSON text): checked whole first
        (VarekArgumentError naming the field; nothing sent), the global output off
        while timing changes, then with `verify` read back and compared. A failed
        operation, or fields that read back otherwise (each listed), raise a
        VarekApplyError whose `taken` and `uncertain` say what the instrument
        holds as far as the apply knows."""
        text = _setup_text(document)
        _check_setup(self._lib, text)
        report, taken, uncertain = (ctypes.create_string_buffer(_SETUP_ROOM) for _ in range(3))
        code = self._lib.varekx_apply_setup(self._handle, text.encode(), int(bool(verify)), report, len(report),
                                            taken, len(taken), uncertain, len(uncertain))
        reason = report.value.decode(errors="replace")
        operation = f"apply_setup() on {self._port}"
        if code == NULL_HANDLE:
            raise VarekError(operation, code, reason, self._port)
        applied = tuple(json.loads(buffer.value.decode() or "{}") for buffer in (taken, uncertain))
        if code == _SETUP_DIFFERS:
            differences = "; ".join(f"{d.field}: sent {json.dumps(d.wanted)}, read {json.dumps(d.found)}"
                                    for d in _differences(reason))
            raise VarekApplyError(operation, FAILED, "the instrument reads back otherwise: " + differences,
                                  self._port, None, *applied)
        if code != OK:
            raise VarekApplyError(operation, code, reason, self._port, self.last_outcome(), *applied)

    def set_global_output(self, on: bool) -> None:
        """Switches all outputs on or off together."""
        self._call(f"set_global_output({on})", self._lib.varek_set_global_output, int(bool(on)))

    def software_trigger(self) -> None:
        """Fires one trigger."""
        self._call("software_trigger()", self._lib.varek_software_trigger)

    def read_temperature(self) -> float:
        """The instrument's temperature."""
        temperature = ctypes.c_float()
        self._call("read_temperature()", self._lib.varek_read_temperature, ctypes.byref(temperature))
        return temperature.value

    def read_timing_config(self, channel: int) -> TimingConfig:
        """Channel 1..8's delay and pulse width, the global output and the internal
        trigger frequency, from the instrument's status block."""
        delay, width = ctypes.c_int64(), ctypes.c_int64()
        reg131, frequency = ctypes.c_int32(), ctypes.c_double()
        operation = f"read_timing_config({channel})"
        self._call(operation, self._lib.varek_read_timing_config, _whole(operation, "channel", channel, _INT32),
                   ctypes.byref(delay), ctypes.byref(width), ctypes.byref(reg131), ctypes.byref(frequency))
        return TimingConfig(delay.value, width.value, reg131.value, frequency.value)

    def read_status(self) -> Status:
        """Every channel's timing and the instrument-wide values, from one status read."""
        record = _StatusRecord()
        self._call("read_status()", self._lib.varekx_read_status, ctypes.byref(record))
        return Status(list(record.delay), list(record.pulse_width), list(record.value_a), list(record.value_b),
                      record.internal_trigger_freq, record.reg128, record.reg130, record.reg131, record.reg136,
                      record.reg137, record.reg138, record.reg276)


def _open_failure(number: int) -> Optional["OpenFailure"]:
    try:
        return OpenFailure(number)
    except ValueError:  # a kind added by a newer library
        return None


Outcome, OpenFailure = _kinds_from_library()
