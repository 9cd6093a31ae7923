"""A Tango device class for the delay generator, on PyTango's high-level
server API over the package's Varek class, and the program that serves it:

    varek-tango-server INSTANCE

Device property Port: the port as varekctl takes it (COM12, /dev/ttyUSB0,
usb:VID:PID[:SERIAL]), or "sim" for a simulated instrument of the device's own.
Device property Unit: what one unit of the instrument is, from its manual
("1ns", "10ps"); the delay and width attributes carry it as their unit, and
saved setups record it.
"""
import json
import sys
import time
from typing import Any, Callable, Dict, Optional

import tango
from tango import AttrQuality, AttrWriteType, DevState
from tango.server import Device, attribute, command, device_property

from . import VarekArgumentError, VarekError, limits
from .service import InstrumentService, field_of

__all__ = ["VarekDelayGenerator", "main"]

# Attribute reads within this long of a status read share it.
STATUS_SHARED_FOR_S = 0.25
# The device polls these itself, so that clients can subscribe to their change
# events without configuring anything: the temperature every second (an event
# for each change of 0.1 °C or more) and the state as often.
POLL_PERIOD_MS = 1000
TEMPERATURE_EVENT_CHANGE = "0.1"
_LIMITS = limits()

# The attributes the device memorizes, as the fields of a setup document they set.
_MEMORIZED: Dict[str, str] = {"TriggerMode": "trigger.mode", "GlobalOutput": "global_output"}
_MEMORIZED.update({f"Output{c}": f"channels.{c}.output" for c in range(1, _LIMITS.channel_count + 1)})


class _DeviceLogic:
    """What the device does, apart from how Tango declares it: a mapping of the
    package's InstrumentService onto Tango's states, attributes and errors."""

    def connect(self) -> None:
        self._service = InstrumentService(self.Port, unit=self.Unit or None)
        if self._service.open():
            self._answering()
        else:
            self._fault(f"cannot reach the instrument on {self.Port}: {self._service.last_error}")

    def disconnect(self) -> None:
        if getattr(self, "_service", None):
            self._service.close()

    def _answering(self) -> None:
        self.set_state(DevState.ON)
        self.set_status(f"The instrument on {self.Port} answers.")

    def _fault(self, reason: str) -> None:
        self.set_state(DevState.FAULT)
        self.set_status(reason)

    def _use(self, action: Callable[[InstrumentService], Any]) -> Any:
        """Runs `action` on the service: an argument refused before sending leaves the
        state as it was; an instrument failure turns it to FAULT with the reason."""
        try:
            result = action(self._service)
        except VarekArgumentError as refused:
            tango.Except.throw_exception("VarekArgumentRejected", str(refused), "VarekDelayGenerator")
        except VarekError as failure:
            self._fault(failure.reason)
            tango.Except.throw_exception("VarekInstrumentFailed", str(failure), "VarekDelayGenerator")
        if self.get_state() != DevState.ON:
            self._answering()
        return result

    def _read_back(self, path: str) -> Any:
        """A field as read back; the reads within STATUS_SHARED_FOR_S share one status read."""
        return field_of(self._use(lambda service: service.read_back(STATUS_SHARED_FOR_S)), path)

    def _show_unit(self) -> None:
        """The declared unit as the timing attributes' unit, for every client's display."""
        if not self.Unit:
            return
        for channel in range(1, _LIMITS.channel_count + 1):
            for kind in ("Delay", "PulseWidth"):
                attr = self.get_device_attr().get_attr_by_name(f"{kind}{channel}")
                properties = attr.get_properties()
                properties.unit = self.Unit
                attr.set_properties(properties)
                # Setting the properties passes the limits through a double, which
                # rounds the largest; they are set again as the whole numbers they are.
                writable = self.get_device_attr().get_w_attr_by_name(f"{kind}{channel}")
                writable.set_max_value(_LIMITS.max_timing_value)

    def save_setup(self) -> str:
        return json.dumps(self._use(lambda service: service.setup_document()), indent=2)

    def apply_setup(self, text: str) -> None:
        try:
            # The text as it stands, so that a repeated key is refused.
            self._use(lambda service: service.apply(text))
        finally:
            self._store_memorized()

    def _store_memorized(self) -> None:
        """Stores the memorized values where Tango restores them from at a restart
        (each attribute's property __value, as a client's write stores it), so that
        a setup applied by command comes back like one written attribute by attribute."""
        as_set = self._service.as_set()
        values = {name: {"__value": [_memorized_text(field_of(as_set, path))]}
                  for name, path in _MEMORIZED.items() if field_of(as_set, path) is not None}
        if not values:
            return
        try:
            tango.Util.instance().get_database().put_device_attribute_property(self.get_name(), values)
        except tango.DevFailed as failure:  # a device run without a database keeps nothing
            self.warn_stream(f"the memorized values could not be stored: {failure.args[0].desc}")


def _memorized_text(value: Any) -> str:
    """A memorized value as Tango stores it: true/false, or the number."""
    return ("true" if value else "false") if isinstance(value, bool) else str(value)


def _add_attribute(namespace: Dict[str, Any], name: str, read: Callable, write: Optional[Callable],
                   **options: Any) -> None:
    """`name` with read_NAME and write_NAME beside it, where PyTango looks for them."""
    namespace[f"read_{name}"] = read
    if write is not None:
        namespace[f"write_{name}"] = write
        options["access"] = AttrWriteType.READ_WRITE
    namespace[name] = attribute(name=name, **options)


def _add_channel_attribute(namespace: Dict[str, Any], kind: str, channel: int) -> None:
    field = {"Delay": "delay", "PulseWidth": "pulse_width"}[kind]
    path = f"channels.{channel}.{field}"

    def read(self: "VarekDelayGenerator") -> int:
        return self._read_back(path)

    def write(self: "VarekDelayGenerator", value: int) -> None:
        self._use(lambda service: service.set(path, int(value)))

    _add_attribute(namespace, f"{kind}{channel}", read, write, dtype=tango.DevLong64, min_value=0,
                   max_value=_LIMITS.max_timing_value, format="%d",
                   doc=f"Channel {channel}'s {field.replace('_', ' ')}, in the instrument's units, read back from its "
                       "status block")


def _add_memorized_attribute(namespace: Dict[str, Any], name: str, dtype: Any, doc: str,
                             **limits_of_value: Any) -> None:
    """An attribute kept by the device, written as the field of a setup document
    that _MEMORIZED names for it."""
    path = _MEMORIZED[name]

    def read(self: "VarekDelayGenerator") -> Any:
        value = field_of(self._service.as_set(), path)
        if value is None:  # never written, or its reply lost: no value to give, and Tango says so
            return _dtype_default(dtype), time.time(), AttrQuality.ATTR_INVALID
        return value

    def write(self: "VarekDelayGenerator", value: Any) -> None:
        self._use(lambda service: service.set(path, bool(value) if dtype == tango.DevBoolean else int(value)))

    _add_attribute(namespace, name, read, write, dtype=dtype, memorized=True, hw_memorized=True,
                   doc=doc + " The instrument cannot report it: reading returns the value last written.",
                   **limits_of_value)


def _dtype_default(dtype: Any) -> Any:
    """The value an ATTR_INVALID reading carries, which clients do not use."""
    return False if dtype == tango.DevBoolean else 0


def _class_namespace() -> Dict[str, Any]:
    namespace: Dict[str, Any] = {"__doc__": "An eight-channel digital delay generator driven through varek.",
                                 "Port": device_property(dtype=str, default_value="sim",
                                                         doc="The instrument's port: COM12, /dev/ttyUSB0, or sim"),
                                 "Unit": device_property(dtype=str, default_value="",
                                                         doc="What one unit of the instrument is, from its manual "
                                                             "(1ns, 10ps); empty when not declared")}
    for channel in range(1, _LIMITS.channel_count + 1):
        for kind in ("Delay", "PulseWidth"):
            _add_channel_attribute(namespace, kind, channel)
        _add_memorized_attribute(namespace, f"Output{channel}", tango.DevBoolean,
                                 f"Channel {channel}'s output enable.")
    _add_memorized_attribute(namespace, "GlobalOutput", tango.DevBoolean, "The global output enable.")
    last_mode = _LIMITS.trigger_mode_count - 1
    _add_memorized_attribute(namespace, "TriggerMode", tango.DevLong, f"The trigger mode, 0 to {last_mode}.",
                             min_value=0, max_value=last_mode)

    def read_frequency(self: "VarekDelayGenerator") -> float:
        return self._read_back("trigger.frequency")

    def write_frequency(self: "VarekDelayGenerator", value: float) -> None:
        self._use(lambda service: service.set("trigger.frequency", float(value)))

    _add_attribute(namespace, "InternalTriggerFrequency", read_frequency, write_frequency, dtype=tango.DevDouble,
                   unit="Hz", format="%.10g", min_value=_LIMITS.min_trigger_freq, max_value=_LIMITS.max_trigger_freq,
                   doc="The internal trigger frequency, read back from the status block (the minimum itself is "
                       "excluded)")

    def read_temperature(self: "VarekDelayGenerator") -> float:
        return self._use(lambda service: service.read_temperature())

    _add_attribute(namespace, "Temperature", read_temperature, None, dtype=tango.DevFloat, unit="degC",
                   format="%.2f", polling_period=POLL_PERIOD_MS, abs_change=TEMPERATURE_EVENT_CHANGE,
                   doc="The instrument's temperature, polled by the device every second: subscribe to its "
                       f"change events (one for each change of {TEMPERATURE_EVENT_CHANGE} degC or more)")

    def Fire(self: "VarekDelayGenerator") -> None:  # noqa: N802 - Tango's command name
        self._use(lambda service: service.fire())

    namespace["Fire"] = command(f=Fire, doc_in="Fires one software trigger")

    def SaveSetup(self: "VarekDelayGenerator") -> str:  # noqa: N802 - Tango's command name
        return self.save_setup()

    def ApplySetup(self: "VarekDelayGenerator", document: str) -> None:  # noqa: N802 - Tango's command name
        self.apply_setup(document)

    namespace["SaveSetup"] = command(f=SaveSetup, dtype_out=str,
                                     doc_out="The setup document (JSON): what the instrument reports, with the "
                                             "trigger mode and the outputs as this device last set them")
    namespace["ApplySetup"] = command(f=ApplySetup, dtype_in=str,
                                      doc_in="A setup document (JSON), checked whole, applied and read back")

    def init_device(self: "VarekDelayGenerator") -> None:
        Device.init_device(self)
        self.connect()
        self._show_unit()
        if not self.is_command_polled("State"):
            self.poll_command("State", POLL_PERIOD_MS)

    def delete_device(self: "VarekDelayGenerator") -> None:
        self.disconnect()

    namespace["init_device"] = init_device
    namespace["delete_device"] = delete_device
    return namespace


# Built from a namespace, so that the sixteen channel attributes and eight
# outputs come from one definition each.
VarekDelayGenerator = type(Device)("VarekDelayGenerator", (_DeviceLogic, Device), _class_namespace())


# The server's name in the Tango database, however it is started
# (varek-tango-server INSTANCE or python3 -m varek.tango INSTANCE): Tango
# takes it from the program's name, which for -m would be "tango".
SERVER_NAME = "varek-tango-server"


def main(args: Optional[list] = None) -> None:
    """varek-tango-server INSTANCE [Tango options]: serves VarekDelayGenerator."""
    from tango.server import run

    given = list(args if args is not None else sys.argv)
    run((VarekDelayGenerator,), args=[SERVER_NAME] + given[1:])


if __name__ == "__main__":
    main()
