"""Drive the varek delay generator from Python, through the library's C interface.

    from varek import Varek

    with Varek("COM12") as ddg:          # Linux: Varek("/dev/ttyUSB0")
        ddg.set_delay(1, 12345)
        ddg.software_trigger()
        print(ddg.read_timing_config(1).delay, ddg.read_temperature())

Every method raises VarekError, naming the operation, when the library
reports a failure. Standard library only (ctypes).
"""
import ctypes
import ctypes.util
import os
import sys
from typing import NamedTuple, Optional

__all__ = ["Varek", "VarekError", "TimingConfig", "load_library"]

OK, NULL_HANDLE, FAILED = 0, -1, -2


class VarekError(Exception):
    """An operation failed; `operation` names it, `code` is the library's result code and
    `reason` says why, as the library saw it."""

    def __init__(self, operation: str, code: int, reason: str = ""):
        if code == NULL_HANDLE:
            reason = "the connection is closed"
        super().__init__(f"{operation} failed: {reason or 'the library gave no reason'}")
        self.operation = operation
        self.code = code
        self.reason = reason


class TimingConfig(NamedTuple):
    delay: int
    pulse_width: int
    reg131: int
    internal_trigger_freq: float


def _library_path() -> str:
    explicit = os.environ.get("VAREK_LIBRARY")
    if explicit:
        return explicit
    beside = os.path.join(os.path.dirname(__file__), "varek.dll" if sys.platform == "win32" else "libvarek.so")
    if os.path.exists(beside):
        return beside
    found = ctypes.util.find_library("varek")
    if found:
        return found
    raise OSError("cannot find the varek library: set VAREK_LIBRARY to its path")


def load_library(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads the library and declares the C interface's signatures on it."""
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
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


class Varek:
    """One open connection with the instrument; a context manager that closes it."""

    def __init__(self, port: str, baud: int = 115200, library: Optional[str] = None):
        self._lib = load_library(library)
        self._port = port
        self._handle = self._lib.varek_init(port.encode(sys.getfilesystemencoding()), baud)
        if not self._handle:
            raise OSError(f"cannot open {port}: no such port, or another program holds it")

    def close(self) -> None:
        if self._handle:
            self._lib.varek_close(self._handle)
            self._handle = None

    def __enter__(self) -> "Varek":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None):
            self.close()

    def last_error(self) -> str:
        """Why the last operation failed, in words; "" when it succeeded."""
        if not self._handle:
            return ""
        size = self._lib.varekx_last_error(self._handle, None, 0)
        buffer = ctypes.create_string_buffer(max(size, 0) + 1)
        self._lib.varekx_last_error(self._handle, buffer, len(buffer))
        return buffer.value.decode(errors="replace")

    def _call(self, operation: str, function, *args) -> None:
        code = function(self._handle, *args)
        if code != OK:
            raise VarekError(f"{operation} on {self._port}", code, self.last_error())

    def set_trigger(self, mode: int) -> None:
        self._call(f"set_trigger({mode})", self._lib.varek_set_trigger, mode)

    def set_trigger_freq(self, frequency: float) -> None:
        self._call(f"set_trigger_freq({frequency})", self._lib.varek_set_trigger_freq, frequency)

    def set_output_channel(self, channel: int, on: bool) -> None:
        self._call(f"set_output_channel({channel}, {on})", self._lib.varek_set_output_channel, channel, int(on))

    def set_delay(self, channel: int, delay: int) -> None:
        self._call(f"set_delay({channel}, {delay})", self._lib.varek_set_delay, channel, delay)

    def set_pulse_width(self, channel: int, pulse_width: int) -> None:
        self._call(f"set_pulse_width({channel}, {pulse_width})", self._lib.varek_set_pulse_width, channel,
                   pulse_width)

    def set_global_output(self, on: bool) -> None:
        self._call(f"set_global_output({on})", self._lib.varek_set_global_output, int(on))

    def software_trigger(self) -> None:
        self._call("software_trigger()", self._lib.varek_software_trigger)

    def read_temperature(self) -> float:
        temperature = ctypes.c_float()
        self._call("read_temperature()", self._lib.varek_read_temperature, ctypes.byref(temperature))
        return temperature.value

    def read_timing_config(self, channel: int) -> TimingConfig:
        delay, width = ctypes.c_int64(), ctypes.c_int64()
        reg131, frequency = ctypes.c_int32(), ctypes.c_double()
        self._call(f"read_timing_config({channel})", self._lib.varek_read_timing_config, channel,
                   ctypes.byref(delay), ctypes.byref(width), ctypes.byref(reg131), ctypes.byref(frequency))
        return TimingConfig(delay.value, width.value, reg131.value, frequency.value)
