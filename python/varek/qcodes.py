"""The delay generator as a QCoDeS instrument::

    from varek.qcodes import VarekDelayGenerator
    from qcodes.dataset import do1d

    ddg = VarekDelayGenerator("ddg", "/dev/ttyUSB0", unit="1ns")
    ddg.ch3.delay(12345)                    # set, acknowledged; ddg.ch3.delay() reads it back
    do1d(ddg.ch3.delay, 0, 1000, 11, 0.0, detector.signal)
    ddg.close()

Channels ch1..ch8 (also as the ChannelTuple `channels`), each with `delay`
and `pulse_width` (read back from a status read: the parameters read within
a quarter second share one) and `output` (as set); on the instrument
`trigger_mode`, `trigger_frequency`, `global_output`, `temperature`, and
`fire()`. With a unit, `delay_time` and `pulse_width_time` in seconds. The
validators are the library's limits: a value outside them raises before
anything is sent, and one the library refuses otherwise raises its words.
The trigger mode and the outputs cannot be read back: they are shown as
set here, None until then.
"""
from typing import Any, Callable, Optional

from qcodes import validators
from qcodes.instrument import ChannelTuple, Instrument, InstrumentChannel

from . import limits, to_units
from .service import InstrumentService, field_of

__all__ = ["VarekDelayGenerator"]

# Parameters read within this long of a status read share it.
STATUS_SHARED_FOR_S = 0.25
_LIMITS = limits()


def _as_set(service: InstrumentService, path: str) -> Callable[[], Any]:
    return lambda: field_of(service.as_set(), path)


def _read_back(service: InstrumentService, path: str, convert: Callable[[Any], Any] = lambda value: value
               ) -> Callable[[], Any]:
    def get() -> Any:
        value = field_of(service.read_back(STATUS_SHARED_FOR_S), path)
        return None if value is None else convert(value)

    return get


def _setter(service: InstrumentService, path: str, convert: Callable[[Any], Any]) -> Callable[[Any], None]:
    return lambda value: service.set(path, convert(value))


class VarekChannel(InstrumentChannel):
    """One output channel: `delay`, `pulse_width` (and with a unit their `*_time`), `output`."""

    def __init__(self, parent: "VarekDelayGenerator", name: str, channel: int, **kwargs: Any):
        super().__init__(parent, name, **kwargs)
        service, unit = parent.service, parent.service.unit
        # Whole numbers, also as the floats a sweep gives (do1d's 100.0); 2.5 is refused.
        timing = validators.PermissiveInts(0, _LIMITS.max_timing_value)
        for field, label in (("delay", "Delay"), ("pulse_width", "Pulse width")):
            path = f"channels.{channel}.{field}"
            self.add_parameter(field, label=f"Channel {channel} {label.lower()}", unit=unit or "units",
                               vals=timing, get_cmd=_read_back(service, path), set_cmd=_setter(service, path, int),
                               docstring=f"Channel {channel}'s {label.lower()} in the instrument's units, read back")
            if unit:
                seconds = 1.0 / to_units("1s", unit)
                self.add_parameter(f"{field}_time", label=f"Channel {channel} {label.lower()}", unit="s",
                                   vals=validators.Numbers(0, _LIMITS.max_timing_value * seconds),
                                   get_cmd=_read_back(service, path, lambda units: units * seconds),
                                   set_cmd=_setter(service, path, lambda time_s: to_units(time_s, unit)),
                                   docstring=f"Channel {channel}'s {label.lower()} in seconds, exact to the unit")
        path = f"channels.{channel}.output"
        self.add_parameter("output", label=f"Channel {channel} output", vals=validators.Bool(),
                           get_cmd=_as_set(service, path), set_cmd=_setter(service, path, bool),
                           docstring="The channel's output, as set here (the instrument cannot report it)")


class VarekDelayGenerator(Instrument):
    """The instrument on `port` (any name the library resolves, or "sim"); `unit` ("1ns")
    adds the `*_time` parameters. `close()` closes the port."""

    def __init__(self, name: str, port: str, unit: Optional[str] = None, **kwargs: Any):
        super().__init__(name, **kwargs)
        self.service = InstrumentService(port, unit=unit)
        if not self.service.open():
            reason = self.service.last_error
            self.service.close()
            super().close()
            raise ConnectionError(f"cannot reach the instrument on {port}: {reason}")
        service = self.service
        channels = []
        for channel in range(1, _LIMITS.channel_count + 1):
            module = VarekChannel(self, f"ch{channel}", channel)
            self.add_submodule(f"ch{channel}", module)
            channels.append(module)
        self.add_submodule("channels", ChannelTuple(self, "channels", VarekChannel, channels))
        self.add_parameter("trigger_mode", label="Trigger mode",
                           vals=validators.PermissiveInts(0, _LIMITS.trigger_mode_count - 1),
                           get_cmd=_as_set(service, "trigger.mode"), set_cmd=_setter(service, "trigger.mode", int),
                           docstring="The trigger mode, as set here (the instrument cannot report it)")
        self.add_parameter("trigger_frequency", label="Internal trigger frequency", unit="Hz",
                           vals=validators.Numbers(_LIMITS.min_trigger_freq, _LIMITS.max_trigger_freq),
                           get_cmd=_read_back(service, "trigger.frequency"),
                           set_cmd=_setter(service, "trigger.frequency", float),
                           docstring="The internal trigger frequency, read back (its lowest limit itself is refused)")
        self.add_parameter("global_output", label="Global output", vals=validators.Bool(),
                           get_cmd=_as_set(service, "global_output"), set_cmd=_setter(service, "global_output", bool),
                           docstring="The global output, as set here (the instrument cannot report it)")
        self.add_parameter("temperature", label="Temperature", unit="degC", get_cmd=service.read_temperature,
                           set_cmd=False, docstring="The instrument's temperature")

    def fire(self) -> None:
        """Fires one software trigger; returns once the instrument acknowledged it."""
        self.service.fire()

    def get_idn(self) -> dict:
        """QCoDeS's identity record: the instrument reports no vendor, serial or firmware."""
        return {"vendor": None, "model": "varek delay generator", "serial": None, "firmware": None}

    def close(self) -> None:
        """Closes the port, then the QCoDeS instrument."""
        self.service.close()
        super().close()
