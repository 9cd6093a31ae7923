"""The delay generator as a Bluesky device (ophyd-async), in two kinds::

    from bluesky import RunEngine
    import bluesky.plans as bp
    from varek.bluesky import VarekDelayGenerator

    ddg = VarekDelayGenerator("/dev/ttyUSB0", name="ddg")     # through the package, no EPICS
    RE = RunEngine()
    RE(ensure_connected(ddg))
    RE(bp.scan([detector], ddg.channels[3].delay, 0, 1000, 11))
    RE(bp.count([ddg], num=5))                               # fires it at each point

`EpicsVarekDelayGenerator(prefix)` is the same device over varek-ioc's
records, by Channel Access. Each channel (1..8) has `delay` and
`pulse_width` (read back from a status read; a set completes when the
instrument has acknowledged) and `output` (as set); the device has
`trigger_mode`, `trigger_frequency`, `global_output` and `temperature`, and
`trigger()` fires one software trigger. Delays and widths are read, the
rest configuration. With a unit, `delay_time` and `pulse_width_time`
(seconds) beside them. A value the library refuses fails the set's status
with its words, and nothing is sent.
"""
import asyncio
import time
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Callable, Dict, Optional

from bluesky.protocols import Reading
from event_model import DataKey
from ophyd_async.core import (AsyncStatus, DeviceVector, SignalBackend, SignalR, SignalRW, StandardReadable,
                              StandardReadableFormat, StrictEnum, make_datakey)
from ophyd_async.epics.core import CaSignalBackend, epics_signal_r, epics_signal_w

from . import VarekError, compare_setups, limits, to_units
from .service import InstrumentService, field_of

__all__ = ["VarekDelayGenerator", "EpicsVarekDelayGenerator", "TriggerMode"]

# Reads within this long of a status read share it: a device's read of all
# its channels is one status read.
STATUS_SHARED_FOR_S = 0.25
# How long a set through varek-ioc waits for its read-back: the IOC's one status read after it.
READ_BACK_WAIT_S = 2.5
_LIMITS = limits()

# The trigger modes by the names varek-ioc's TriggerMode record gives its states: "Mode 0", ...
TriggerMode = StrictEnum("TriggerMode", [(f"MODE_{mode}", f"Mode {mode}")
                                         for mode in range(_LIMITS.trigger_mode_count)])
_MODE_NUMBERS = {mode: number for number, mode in enumerate(TriggerMode)}


class _Instrument:
    """One instrument behind a device's signals: its service, and the one thread its calls
    run on, in turn, off the event loop (each may block for a second)."""

    def __init__(self, port: str, unit: Optional[str]):
        self.service = InstrumentService(port, unit=unit)
        self._thread = ThreadPoolExecutor(max_workers=1, thread_name_prefix="varek")
        self._connected: Optional[asyncio.Future] = None

    async def run(self, function: Callable[..., Any], *args: Any) -> Any:
        return await asyncio.get_running_loop().run_in_executor(self._thread, function, *args)

    async def connect(self) -> None:
        if self._connected is None:
            self._connected = asyncio.ensure_future(self.run(self.service.open))
        if not await asyncio.shield(self._connected):
            self._connected = None
            raise ConnectionError(f"cannot reach the instrument on {self.service.port}: {self.service.last_error}")

    def close(self) -> None:
        """Closes the port and ends the thread the library's calls run on."""
        self.service.close()
        self._thread.shutdown(wait=True)


class _InstrumentBackend(SignalBackend):
    """A signal of the instrument: a field of the setup document, read back from the
    instrument ("read") or as set here ("as_set"), or its temperature ("temperature");
    `to_field`/`from_field` convert between the signal's values and the field's."""

    def __init__(self, datatype: type, instrument: _Instrument, kind: str, path: str = "",
                 to_field: Callable[[Any], Any] = lambda value: value,
                 from_field: Callable[[Any], Any] = lambda value: value, units: Optional[str] = None,
                 low: Optional[float] = None, high: Optional[float] = None):
        super().__init__(datatype)
        self._instrument, self._kind, self._path = instrument, kind, path
        self._to_field, self._from_field = to_field, from_field
        self._units, self._low, self._high = units, low, high
        self._callback: Optional[Callable[[Reading], None]] = None
        self._setpoint: Any = None

    def source(self, name: str, read: bool) -> str:
        return f"varek://{self._instrument.service.port}/{self._path or self._kind}"

    async def connect(self, timeout: float) -> None:
        await asyncio.wait_for(self._instrument.connect(), timeout)

    async def put(self, value: Any) -> None:
        # A refused value raises here, before anything is sent; a failed exchange with the reason.
        await self._instrument.run(self._instrument.service.set, self._path, self._to_field(value))
        self._setpoint = value
        if self._callback is not None:
            self._callback(await self.get_reading())

    async def _field(self) -> Any:
        service = self._instrument.service
        if self._kind == "temperature":
            return await self._instrument.run(service.read_temperature)
        if self._kind == "read":
            return field_of(await self._instrument.run(service.read_back, STATUS_SHARED_FOR_S), self._path)
        return field_of(service.as_set(), self._path)

    async def get_reading(self) -> Reading:
        value = await self._field()
        # What was never set here (or whose reply was lost) has no value: a stand-in, marked invalid.
        if value is None:
            return {"value": _stand_in(self.datatype), "timestamp": time.time(), "alarm_severity": -1}
        return {"value": self.datatype(self._from_field(value)), "timestamp": time.time(), "alarm_severity": 0}

    async def get_value(self) -> Any:
        return (await self.get_reading())["value"]

    async def get_setpoint(self) -> Any:
        return self._setpoint if self._setpoint is not None else await self.get_value()

    async def get_datakey(self, source: str) -> DataKey:
        metadata: Dict[str, Any] = {}
        if self._units:
            metadata["units"] = self._units
        if self._low is not None:
            metadata["limits"] = {"control": {"low": self._low, "high": self._high}}
        return make_datakey(self.datatype, await self.get_value(), source, metadata)

    def set_callback(self, callback: Optional[Callable[[Reading], None]]) -> None:
        # No monitor: a subscriber hears each value this device sets.
        self._callback = callback


def _stand_in(datatype: type) -> Any:
    """The value an unknown reading carries, which no one should use: the first choice of an enum."""
    return list(datatype)[0] if isinstance(datatype, type) and issubclass(datatype, StrictEnum) else datatype()


class _Channel(StandardReadable):
    def __init__(self, instrument: _Instrument, channel: int, name: str = ""):
        unit = instrument.service.unit
        timing = dict(units=unit or "units", low=0, high=_LIMITS.max_timing_value)
        with self.add_children_as_readables(StandardReadableFormat.HINTED_UNCACHED_SIGNAL):
            self.delay = SignalRW(_InstrumentBackend(int, instrument, "read", f"channels.{channel}.delay", **timing))
            self.pulse_width = SignalRW(_InstrumentBackend(int, instrument, "read", f"channels.{channel}.pulse_width",
                                                           **timing))
        if unit:
            seconds = 1.0 / to_units("1s", unit)
            with self.add_children_as_readables(StandardReadableFormat.UNCACHED_SIGNAL):
                for name_, field in (("delay_time", "delay"), ("pulse_width_time", "pulse_width")):
                    setattr(self, name_, SignalRW(_InstrumentBackend(
                        float, instrument, "read", f"channels.{channel}.{field}",
                        to_field=lambda time_s: to_units(time_s, unit), from_field=lambda units: units * seconds,
                        units="s", low=0, high=_LIMITS.max_timing_value * seconds)))
        with self.add_children_as_readables(StandardReadableFormat.CONFIG_SIGNAL):
            self.output = SignalRW(_InstrumentBackend(bool, instrument, "as_set", f"channels.{channel}.output"))
        super().__init__(name)


class VarekDelayGenerator(StandardReadable):
    """The instrument on `port` (any name the library resolves, or "sim"), through the
    package; `unit` ("1ns") adds the `*_time` signals. `close()` closes the port."""

    def __init__(self, port: str, name: str = "", unit: Optional[str] = None):
        self._instrument = _Instrument(port, unit)
        with self.add_children_as_readables():
            self.channels = DeviceVector({channel: _Channel(self._instrument, channel)
                                          for channel in range(1, _LIMITS.channel_count + 1)})
        with self.add_children_as_readables(StandardReadableFormat.CONFIG_SIGNAL):
            self.trigger_mode = SignalRW(_InstrumentBackend(
                TriggerMode, self._instrument, "as_set", "trigger.mode",
                to_field=lambda mode: _MODE_NUMBERS[TriggerMode(mode)],
                from_field=lambda number: list(TriggerMode)[number]))
            self.trigger_frequency = SignalRW(_InstrumentBackend(
                float, self._instrument, "read", "trigger.frequency", units="Hz",
                low=_LIMITS.min_trigger_freq, high=_LIMITS.max_trigger_freq))
            self.global_output = SignalRW(_InstrumentBackend(bool, self._instrument, "as_set", "global_output"))
            self.temperature = SignalR(_InstrumentBackend(float, self._instrument, "temperature", units="degC"))
        super().__init__(name)

    @AsyncStatus.wrap
    async def trigger(self) -> None:
        """Fires one software trigger; the status completes on the acknowledgement."""
        await self._instrument.run(self._instrument.service.fire)

    def close(self) -> None:
        """Closes the instrument's port; the device cannot be used afterwards."""
        self._instrument.close()


class _CheckedCaBackend(CaSignalBackend):
    """A setpoint record of varek-ioc over Channel Access: its put completes when the
    instrument has answered, and a write the IOC could not carry out (its record left in
    INVALID alarm) fails with the IOC's LastError. With a read-back record beside it (the
    setup field `path`), the set completes once the read-back shows what was written, as the
    library compares them (a frequency by its frequency word), so that a read right after
    it sees the new value: the IOC reads the status back just after each write."""

    def __init__(self, datatype: type, read_pv: str, write_pv: str, last_error_pv: str, path: str = ""):
        super().__init__(datatype, read_pv, write_pv)
        self._last_error_pv, self._path = last_error_pv, path

    async def put(self, value: Any) -> None:
        from aioca import DBR_CHAR_STR, FORMAT_TIME, caget

        await super().put(value)
        written = await caget(self.write_pv, format=FORMAT_TIME, timeout=10)
        if written.severity >= 3:  # INVALID: refused, or its reply lost
            reason = await caget(self._last_error_pv, datatype=DBR_CHAR_STR, timeout=10)
            raise VarekError(f"setting {self.write_pv}", -2, str(reason), self.write_pv)
        if self._path:
            await self._await_read_back(self.datatype(written))

    async def _await_read_back(self, written: Any) -> None:
        from aioca import caget

        deadline = time.monotonic() + READ_BACK_WAIT_S
        while time.monotonic() < deadline:
            read = await caget(self.read_pv, timeout=10)
            if not compare_setups(_setup_of(self._path, written), _setup_of(self._path, type(written)(read))):
                return
            await asyncio.sleep(0.02)
        # Read back otherwise (the instrument drifted, or ignored it): the reading says what it holds.


def _setup_of(path: str, value: Any) -> Dict[str, Any]:
    document: Dict[str, Any] = {"varek_setup": 1}
    *groups, key = path.split(".")
    inner = document
    for group in groups:
        inner = inner.setdefault(group, {})
    inner[key] = value
    return document


def _ioc_setting(datatype: type, prefix: str, setpoint: str, readback: Optional[str] = None,
                 path: str = "") -> SignalRW:
    return SignalRW(_CheckedCaBackend(datatype, prefix + (readback or setpoint), prefix + setpoint,
                                      prefix + "LastError", path))


class _EpicsChannel(StandardReadable):
    def __init__(self, prefix: str, channel: int, name: str = ""):
        base = f"CH{channel}:"
        with self.add_children_as_readables(StandardReadableFormat.HINTED_UNCACHED_SIGNAL):
            self.delay = _ioc_setting(int, prefix, base + "Delay", base + "Delay_RBV", f"channels.{channel}.delay")
            self.pulse_width = _ioc_setting(int, prefix, base + "Width", base + "Width_RBV",
                                            f"channels.{channel}.pulse_width")
        with self.add_children_as_readables(StandardReadableFormat.CONFIG_SIGNAL):
            self.output = _ioc_setting(bool, prefix, base + "Enable")
        super().__init__(name)


class EpicsVarekDelayGenerator(StandardReadable):
    """The same device over the records of a varek-ioc serving `prefix` ("DDG1:")."""

    def __init__(self, prefix: str, name: str = ""):
        with self.add_children_as_readables():
            self.channels = DeviceVector({channel: _EpicsChannel(prefix, channel)
                                          for channel in range(1, _LIMITS.channel_count + 1)})
        with self.add_children_as_readables(StandardReadableFormat.CONFIG_SIGNAL):
            self.trigger_mode = _ioc_setting(TriggerMode, prefix, "TriggerMode")
            self.trigger_frequency = _ioc_setting(float, prefix, "TriggerFrequency", "TriggerFrequency_RBV",
                                                  "trigger.frequency")
            self.global_output = _ioc_setting(bool, prefix, "GlobalOutput")
            self.temperature = epics_signal_r(float, prefix + "Temperature")
        self._fire = epics_signal_w(bool, prefix + "Fire")
        super().__init__(name)

    @AsyncStatus.wrap
    async def trigger(self) -> None:
        """Fires one software trigger through the IOC; completes on the acknowledgement."""
        await self._fire.set(True)
