"""varek-ioc: the instrument as an EPICS IOC, on pythonSoftIOC (the real EPICS
base: its records, a Channel Access server and a PVAccess server), a mapping
of the package's InstrumentService onto EPICS records.

    varek-ioc --port /dev/ttyUSB0 --prefix DDG1: [--unit 1ns] [--state-file FILE] [--poll SECONDS]

Setpoints are output records whose writes complete when the instrument has
acknowledged (a put with callback waits for it); the instrument's read-backs
are _RBV input records, updated at each poll and after each write; what the
instrument cannot report (the trigger mode, the outputs) is shown as set.
A refused write leaves its record as it was, in INVALID/WRITE alarm; one
whose reply was lost is INVALID until the next success. When the port is
gone every read-back goes INVALID/COMM and the IOC opens it again each
second. The standard EPICS_CAS_* and EPICS_PVAS_* variables configure the
servers, as for any IOC.
"""
import argparse
import json
import logging
import os
import signal
import sys
import threading
import time
from typing import Any, Callable, Dict, List, Optional, Tuple

from . import Outcome, VarekApplyError, VarekArgumentError, VarekError, limits, to_units
from .service import InstrumentService, Snapshot, completed_setup, field_of
from .state_file import StateFileError

__all__ = ["main"]

log = logging.getLogger("varek.ioc")

# Long strings: a reason, and a setup document of eight channels with room to spare.
_REASON_LENGTH = 1024
_SETUP_LENGTH = 16384
_EXIT_USAGE = 2


def _arguments(argv: Optional[List[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="varek-ioc",
        description="Serves the delay generator on PORT as EPICS records named PREFIX..., over Channel Access "
                    "and PVAccess. The EPICS_CAS_* and EPICS_PVAS_* environment variables configure the servers.")
    parser.add_argument("--port", default=os.environ.get("VAREK_PORT"),
                        help="the instrument's port: /dev/ttyUSB0, COM12, usb:VID:PID, socket://HOST:PORT, "
                             "rfc2217://HOST:PORT, or sim (default: VAREK_PORT)")
    parser.add_argument("--prefix", required=True, help="the records' prefix, such as DDG1:")
    parser.add_argument("--unit", default=os.environ.get("VAREK_UNIT"),
                        help="what one unit of the instrument is, from its manual (1ns, 10ps): adds the *Time "
                             "records, in seconds")
    parser.add_argument("--state-file", help="keeps what this IOC set here, and applies and verifies it at start "
                                             "and whenever the port comes back")
    parser.add_argument("--poll", type=float, default=1.0, metavar="SECONDS",
                        help="how often the status and the temperature are read (default 1)")
    args = parser.parse_args(argv)
    if not args.port:
        parser.error("no port given: name the instrument's with --port PORT or VAREK_PORT (--port sim tries a "
                     "simulated instrument)")
    if not args.poll > 0:
        parser.error(f"--poll takes seconds above 0, got {args.poll}")
    return args


class _Records:
    """The records of one instrument, and how each maps onto the service."""

    def __init__(self, softioc: Any, service: InstrumentService, prefix: str, dispatcher: Any):
        self._builder, self._alarm = softioc["builder"], softioc["alarm"]
        self._service = service
        self._prefix = prefix
        self._loop = dispatcher.loop
        self._limits = limits()
        self._shown: Dict[str, Tuple[Any, int, int]] = {}
        # The record this IOC itself is changing (by name): its own validate must send nothing.
        self._quiet = threading.local()
        self._readbacks: List[Tuple[Any, Callable[[Dict[str, Any]], Any]]] = []
        # Each setpoint, with the field it sets and how a value of the field becomes the record's.
        self._setpoints: List[Tuple[Any, str, Callable[[Any], Any]]] = []
        self._build(service.snapshot())

    # Building.

    def _name(self, name: str) -> str:
        return self._prefix + name

    def _build(self, first: Snapshot) -> None:
        b, unit = self._builder, self._service.unit
        units_name = unit or "units"
        # What the instrument reports starts as read back; what it cannot, as set here, or undefined.
        known = completed_setup(first.read, first.as_set) if first.read else first.as_set

        def initial(path: str, convert: Callable[[Any], Any] = lambda value: value) -> Dict[str, Any]:
            value = field_of(known, path)
            return {} if value is None else {"initial_value": convert(value)}

        modes = [f"Mode {mode}" for mode in range(self._limits.trigger_mode_count)]
        self._setpoint(b.mbbOut(self._name("TriggerMode"), *modes, DESC="Trigger mode (as set)",
                                always_update=True, validate=self._writer("trigger.mode", int), **initial("trigger.mode")),
                       "trigger.mode")
        self._setpoint(b.aOut(self._name("TriggerFrequency"), DRVL=self._limits.min_trigger_freq,
                              DRVH=self._limits.max_trigger_freq, EGU="Hz", PREC=4, DESC="Internal trigger frequency",
                              always_update=True, validate=self._writer("trigger.frequency", float), **initial("trigger.frequency")),
                       "trigger.frequency")
        self._readback(b.aIn(self._name("TriggerFrequency_RBV"), EGU="Hz", PREC=4,
                             DESC="Internal trigger frequency, read"), "trigger.frequency")
        self._setpoint(b.boolOut(self._name("GlobalOutput"), ZNAM="Off", ONAM="On", DESC="Global output (as set)",
                                 always_update=True, validate=self._writer("global_output", bool), **initial("global_output", int)),
                       "global_output", int)
        b.boolOut(self._name("Fire"), ZNAM="Idle", ONAM="Fire", DESC="Write 1: one software trigger",
                  always_update=True, validate=self._fire)
        self._temperature = b.aIn(self._name("Temperature"), EGU="degC", PREC=2, DESC="Temperature, read each poll")
        seconds = 1.0 / to_units("1s", unit) if unit else 0.0  # one unit, in seconds
        in_seconds = lambda units: units * seconds  # noqa: E731
        for channel in range(1, self._limits.channel_count + 1):
            for kind, field, words in (("Delay", "delay", "delay"), ("Width", "pulse_width", "pulse width")):
                path = f"channels.{channel}.{field}"
                self._setpoint(b.int64Out(self._name(f"CH{channel}:{kind}"), DRVL=0,
                                          DRVH=self._limits.max_timing_value, EGU=units_name,
                                          DESC=f"Channel {channel} {words}", always_update=True, validate=self._writer(path, int),
                                          **initial(path)), path)
                self._readback(b.int64In(self._name(f"CH{channel}:{kind}_RBV"), EGU=units_name,
                                         DESC=f"Channel {channel} {words}, read"), path)
                if unit:
                    self._setpoint(b.aOut(self._name(f"CH{channel}:{kind}Time"), DRVL=0,
                                          DRVH=self._limits.max_timing_value * seconds, EGU="s", PREC=12,
                                          DESC=f"Channel {channel} {words}, in s",
                                          always_update=True, validate=self._writer(path, lambda time: to_units(time, unit)),
                                          **initial(path, in_seconds)), path, in_seconds)
                    self._readback(b.aIn(self._name(f"CH{channel}:{kind}Time_RBV"), EGU="s", PREC=12,
                                         DESC=f"Channel {channel} {words}, read, in s"), path, in_seconds)
            enable = f"channels.{channel}.output"
            self._setpoint(b.boolOut(self._name(f"CH{channel}:Enable"), ZNAM="Off", ONAM="On",
                                     DESC=f"Channel {channel} output (as set)", always_update=True, validate=self._writer(enable, bool),
                                     **initial(enable, int)), enable, int)
        self._connected = b.boolIn(self._name("Connected"), ZNAM="Disconnected", ONAM="Connected",
                                   DESC="Port open, last exchange good")
        self._last_error = b.longStringIn(self._name("LastError"), length=_REASON_LENGTH,
                                          DESC="Why the last operation failed")
        self._setup = b.longStringIn(self._name("Setup"), length=_SETUP_LENGTH, DESC="Setup: read back and as set")
        b.longStringOut(self._name("ApplySetup"), length=_SETUP_LENGTH, always_update=True,
                        DESC="Write a setup: applied, verified", validate=self._apply_setup)
        self._drift = b.boolIn(self._name("Drift"), ZNAM="Alike", ONAM="Drift", DESC="A read-back differs from set")

    def _setpoint(self, record: Any, path: str, convert: Callable[[Any], Any] = lambda value: value) -> None:
        self._setpoints.append((record, path, convert))

    def _readback(self, record: Any, path: str, convert: Callable[[Any], Any] = lambda value: value) -> None:
        self._readbacks.append((record, lambda read: None if field_of(read, path) is None
                                else convert(field_of(read, path))))

    # Writes: each one exchange or a few, done before the put completes.

    def _writer(self, path: str, convert: Callable[[Any], Any]) -> Callable[[Any, Any], bool]:
        # Every write is sent, the same value again too (always_update): after a power cycle, say,
        # writing what was set is how it is set again.
        def validate(record: Any, value: Any) -> bool:
            if self._quiet_for(record):
                return True
            try:
                self._service.set(path, convert(value))
            except VarekArgumentError as refused:
                return self._refused(record, refused)
            except VarekApplyError as failure:
                if field_of(failure.uncertain, path) is None:
                    return self._refused(record, failure)
                # The instrument may have taken it: shown as written, INVALID until the next success.
                self._write_alarm(record)
                self._failed(failure)
                return True
            except (VarekError, ValueError) as failure:
                return self._refused(record, failure)
            self._succeeded(record)
            return True

        return validate

    def _quiet_for(self, record: Any) -> bool:
        """Whether this processing is the IOC's own change of the record, which sends nothing."""
        if getattr(self._quiet, "name", None) != record.name:
            return False
        self._set_alarm(record, self._alarm.NO_ALARM, self._alarm.NO_ALARM)
        return True

    def _refused(self, record: Any, failure: Exception) -> bool:
        """Nothing taken: the record keeps its value, in INVALID/WRITE alarm."""
        self._write_alarm(record)
        self._failed(failure)
        return False

    def _write_alarm(self, record: Any) -> None:
        self._set_alarm(record, self._alarm.INVALID_ALARM, self._alarm.WRITE_ALARM)

    @staticmethod
    def _set_alarm(record: Any, severity: int, status: int) -> None:
        """The alarm a write ends in, set inside the processing that the write started (as device
        support sets one), so that it holds when the put completes: over whatever alarm softioc
        raised at the start of it (an undefined record's, the last write's)."""
        record._record.NSEV = severity
        record._record.NSTA = status

    def _failed(self, failure: Exception) -> None:
        reason = failure.reason if isinstance(failure, VarekError) else str(failure)
        self._loop.call_soon_threadsafe(self._show, self._last_error, reason, 0, 0)

    def _fire(self, record: Any, value: Any) -> bool:
        if not value:
            return True
        try:
            self._service.fire()
        except VarekError as failure:
            return self._refused(record, failure)
        self._set_alarm(record, self._alarm.NO_ALARM, self._alarm.NO_ALARM)
        return True

    def _apply_setup(self, record: Any, text: str) -> bool:
        try:
            self._service.apply(text, verify=True)
        except (VarekError, ValueError) as failure:
            self._refused(record, failure)
            return False
        self._succeeded(record)
        return True

    def _succeeded(self, record: Any) -> None:
        """No alarm; every setpoint shows what is set now (one field may have two records, in
        units and in seconds; a setup sets many), and a read-back follows."""
        self._set_alarm(record, self._alarm.NO_ALARM, self._alarm.NO_ALARM)
        self._loop.call_soon_threadsafe(self._show_setpoints)
        self._service.wake()

    def _show_setpoints(self) -> None:
        as_set = self._service.as_set()
        for record, path, convert in self._setpoints:
            value = field_of(as_set, path)
            if value is not None and convert(value) != record.get():
                self._quietly(record, lambda: record.set(convert(value)))

    def _quietly(self, record: Any, change: Callable[[], None]) -> None:
        """Changes a record from here, its own validate standing aside."""
        self._quiet.name = record.name
        try:
            change()
        finally:
            self._quiet.name = None

    # Read-backs, from each poll.

    def show(self, snapshot: Snapshot) -> None:
        """Called on the poll's thread: the records take the snapshot on the IOC's own loop."""
        self._loop.call_soon_threadsafe(self._show_snapshot, snapshot)

    def _show_snapshot(self, snapshot: Snapshot) -> None:
        a = self._alarm
        lost = a.TIMEOUT_ALARM if snapshot.outcome == Outcome.NOTHING_ARRIVED else a.COMM_ALARM
        read = snapshot.read if snapshot.connected else None
        for record, value_of in self._readbacks:
            value = value_of(read) if read is not None else None
            self._show(record, value, *((0, 0) if value is not None else (a.INVALID_ALARM, lost)))
        temperature_known = snapshot.connected and snapshot.temperature is not None
        self._show(self._temperature, snapshot.temperature,
                   *((0, 0) if temperature_known else (a.INVALID_ALARM, lost)))
        self._show(self._connected, int(snapshot.connected), 0, 0)
        self._show(self._last_error, snapshot.reason, 0, 0)
        self._show(self._drift, int(bool(snapshot.drift)), 0, 0)
        if read is not None:
            self._show(self._setup, json.dumps(completed_setup(read, snapshot.as_set)), 0, 0)

    def _show(self, record: Any, value: Any, severity: int, status: int) -> None:
        """Sets an input record when anything changed, so that monitors post on change."""
        name = record.name
        shown = self._shown.get(name)
        if value is None:  # unknown: the last value stays, with the alarm
            if shown is not None and shown[1:] == (severity, status):
                return
            record.set_alarm(severity, status)
            self._shown[name] = (shown[0] if shown else None, severity, status)
            return
        if shown == (value, severity, status):
            return
        record.set(value, severity=severity, alarm=status)
        self._shown[name] = (value, severity, status)


def main(argv: Optional[List[str]] = None) -> int:
    """varek-ioc: see the module's documentation; exits 2 on a usage error or without softioc."""
    args = _arguments(argv)
    try:
        from softioc import alarm, asyncio_dispatcher, builder, softioc
    except ImportError:
        print("varek-ioc needs pythonSoftIOC (softioc): pip install 'varek[epics]'", file=sys.stderr)
        return _EXIT_USAGE
    logging.basicConfig(level=logging.INFO, format="%(asctime)s %(message)s", datefmt="%Y-%m-%dT%H:%M:%SZ")
    logging.Formatter.converter = time.gmtime
    try:
        service = InstrumentService(args.port, unit=args.unit, state_file=args.state_file)
    except (StateFileError, VarekArgumentError) as refused:
        print(f"varek-ioc: {refused}", file=sys.stderr)
        return _EXIT_USAGE
    if args.unit:
        try:
            to_units("0s", args.unit)
        except VarekArgumentError as refused:
            print(f"varek-ioc: --unit: {refused.reason}", file=sys.stderr)
            return _EXIT_USAGE
    if service.open():
        service.poll()
    else:
        log.warning("port %s: %s; trying it again every second", args.port, service.last_error)
    dispatcher = asyncio_dispatcher.AsyncioDispatcher()
    records = _Records({"builder": builder, "alarm": alarm}, service, args.prefix, dispatcher)
    builder.LoadDatabase()
    softioc.iocInit(dispatcher)
    # Our own handlers, in place before anyone is told the IOC runs.
    stop = threading.Event()
    for stop_signal in (signal.SIGINT, signal.SIGTERM):
        signal.signal(stop_signal, lambda *_: stop.set())
    records.show(service.snapshot())
    service.start_polling(args.poll, records.show)
    log.info("started: instrument on %s, records %s*, poll every %g s%s", args.port, args.prefix, args.poll,
             f", state file {args.state_file}" if args.state_file else "")
    # Python runs a signal's handler on the main thread only, and only between
    # bytecodes: a signal that the kernel hands to one of EPICS's threads
    # would leave an unbounded wait asleep. Waking every tenth of a second
    # lets the handler run, however the signal came.
    while not stop.wait(0.1):
        pass
    log.info("stopping, as a signal asked")
    service.close()
    dispatcher.close()
    softioc.safeEpicsExit(0)
    return 0


if __name__ == "__main__":
    sys.exit(main())
