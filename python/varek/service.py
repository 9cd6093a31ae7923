"""The instrument as a device server serves it, whatever its control system:
one connection, what this server set (a setup document), the read-back,
drift between the two, reopening the port when it is gone, and a poll. The
Tango device and the EPICS IOC are thin mappings of it onto their own
idioms; every rule, reason and comparison stays the library's.

    service = InstrumentService("/dev/ttyUSB0", unit="1ns", state_file="lab1.json")
    service.open()
    service.set("channels.3.delay", 12345)       # a field of the setup document
    snapshot = service.poll()                   # read back, compared with what was set

Calls may come from any thread: each takes the one lock, so that exchanges
never overlap. The trigger mode and the outputs cannot be read back: they
are known only as set here, and None until then, or after a setting whose
reply was lost (the instrument may or may not have taken it).
"""
import copy
import json
import logging
import threading
import time
from typing import Any, Callable, Dict, List, NamedTuple, Optional

from . import (NULL_HANDLE, Difference, Outcome, Varek, VarekApplyError, VarekArgumentError, VarekError,
               check_setup, compare_setups)
from .state_file import StateFile
from .testing import SimulatedInstrument

__all__ = ["InstrumentService", "Snapshot", "SIMULATED_PORT", "REOPEN_EVERY_S", "field_of", "completed_setup"]

log = logging.getLogger("varek.service")

# The port name that starts a simulated instrument of the service's own.
SIMULATED_PORT = "sim"
# A port that is gone is tried again this often.
REOPEN_EVERY_S = 1.0


class Snapshot(NamedTuple):
    """How the instrument stood at one poll."""

    connected: bool  # the port is open and the last exchange succeeded
    reason: str  # why not, in the library's words; "" when connected
    outcome: Optional[Outcome]  # the kind of the last failure; None when connected or before any exchange
    read: Optional[Dict[str, Any]]  # the setup document as read back, None when the read failed
    temperature: Optional[float]
    as_set: Dict[str, Any]  # what this server set, a setup document
    drift: List[Difference]  # fields that read back otherwise than set


def field_of(document: Dict[str, Any], path: str) -> Any:
    """The value at `path` ("channels.3.delay") of a setup document; None when absent."""
    value: Any = document
    for key in path.split("."):
        value = value.get(key) if isinstance(value, dict) else None
    return value


def _put(document: Dict[str, Any], path: str, value: Any) -> None:
    *groups, key = path.split(".")
    for group in groups:
        if not isinstance(document.get(group), dict):
            document[group] = {}
        document = document[group]
    document[key] = value


def _given_paths(document: Any, prefix: str = "") -> List[str]:
    """The paths of every field a setup document gives a value (not null)."""
    if not isinstance(document, dict):
        return [prefix] if document is not None else []
    paths: List[str] = []
    for key, value in document.items():
        if not prefix and key in ("varek_setup", "unit"):
            continue
        paths += _given_paths(value, f"{prefix}.{key}" if prefix else key)
    return paths


def completed_setup(read: Dict[str, Any], as_set: Dict[str, Any]) -> Dict[str, Any]:
    """The read-back with what it could not report (its nulls) filled in as set here."""
    document = copy.deepcopy(read)
    for path in _given_paths(as_set):
        if field_of(document, path) is None:
            _put(document, path, field_of(as_set, path))
    return document


class InstrumentService:
    """One instrument on `port` (any name the library resolves, or "sim"), in
    `unit` when one is declared ("1ns"). With `state_file`, what is set is kept
    there, and applied and verified at each open; without it nothing is
    applied that was not asked for."""

    def __init__(self, port: str, unit: Optional[str] = None, state_file: Optional[str] = None,
                 library: Optional[str] = None):
        self.port = port
        self.unit = unit or None
        self._library = library
        self._lock = threading.RLock()
        self._ddg: Optional[Varek] = None
        self._sim: Optional[SimulatedInstrument] = None
        self._state = StateFile(state_file) if state_file else None
        self._as_set: Dict[str, Any] = self._state.read() if self._state else {"varek_setup": 1}
        self._read: Optional[Dict[str, Any]] = None
        self._read_at = 0.0
        self._temperature: Optional[float] = None
        self._drift: List[Difference] = []
        self._reason = "not opened yet"
        self._outcome: Optional[Outcome] = None
        self._connected = False
        self._next_reopen = 0.0
        self._poller: Optional[threading.Thread] = None
        self._stop = threading.Event()
        self._wake = threading.Event()

    # The connection.

    def open(self) -> bool:
        """Opens the port (again); with a state file, applies and verifies what it holds.
        False, with the reason kept, when the port did not open."""
        with self._lock:
            self._close_port()
            self._next_reopen = time.monotonic() + REOPEN_EVERY_S
            try:
                if self.port == SIMULATED_PORT and self._sim is None:
                    self._sim = SimulatedInstrument()
                name = self._sim.port if self._sim else self.port
                self._ddg = Varek(name, unit=self.unit, library=self._library)
            except VarekError as failure:
                self._failed(failure)
                return False
            except (OSError, RuntimeError) as failure:  # the simulator would not start
                self._failed(VarekError(f"opening {self.port}", NULL_HANDLE, str(failure), self.port))
                return False
            self._connected, self._reason, self._outcome = True, "", None
            self._restore()
            return True

    def close(self) -> None:
        """Stops the poll and closes the port (and a simulated instrument of its own)."""
        self.stop_polling()
        with self._lock:
            self._close_port()
            if self._sim is not None:
                self._sim.close()
                self._sim = None
            self._connected = False

    def reopen_if_due(self) -> bool:
        """Opens the port again when it is gone and a second has passed since the last try
        (the library resolves its name afresh: a usb: adapter may be back elsewhere)."""
        with self._lock:
            if self._ddg is not None or time.monotonic() < self._next_reopen:
                return False
            if not self.open():
                return False
            log.info("port %s back", self.port)
            return True

    @property
    def port_open(self) -> bool:
        """The port is open (whether or not its last exchange succeeded)."""
        return self._ddg is not None

    @property
    def connected(self) -> bool:
        """The port is open and the last exchange succeeded."""
        return self._connected

    @property
    def last_error(self) -> str:
        """The library's reason for the last failure; "" after a success."""
        return self._reason

    @property
    def last_outcome(self) -> Optional[Outcome]:
        """The kind of the last failure (a varek.Outcome); None after a success or before any."""
        return self._outcome

    # What was set, and setting it.

    def as_set(self) -> Dict[str, Any]:
        """What this server set, as a setup document (a copy)."""
        with self._lock:
            return copy.deepcopy(self._as_set)

    def set(self, path: str, value: Any) -> None:
        """Sets one field of the setup document ("channels.3.delay", "trigger.mode",
        "global_output", ...): VarekArgumentError, nothing sent, for a value the library
        refuses; VarekError when the instrument failed or refused. What it took is kept."""
        document: Dict[str, Any] = {"varek_setup": 1}
        _put(document, path, value)
        self.apply(document, verify=False)

    def apply(self, document: Any, verify: bool = True) -> None:
        """Checks a setup document (a dict, or its JSON text, checked as it stands) whole,
        applies it, with `verify` reads it back and compares; keeps what the instrument
        took, and forgets what it may or may not have taken."""
        if isinstance(document, str):
            check_setup(document)  # as the text stands, so that a repeated key is refused
            document = json.loads(document)
        document = copy.deepcopy(document)
        # The global output as set here lets the library switch it off while the
        # timing changes and back on after.
        if document.get("global_output") is None and self._as_set.get("global_output") is not None:
            document["global_output"] = self._as_set["global_output"]

        def apply(ddg: Varek) -> None:
            try:
                ddg.apply_setup(document, verify=verify)
            except VarekApplyError as failure:
                self._keep(failure.taken, failure.uncertain)
                raise
            self._keep(document, {})

        self._use(apply)
        self._read = None  # what was read is stale now

    def fire(self) -> None:
        """Fires one software trigger."""
        self._use(lambda ddg: ddg.software_trigger())

    # Read-backs.

    def read_back(self, shared_for: float = 0.0) -> Dict[str, Any]:
        """The setup document as the instrument reports it, from one status read (a read
        within `shared_for` seconds is shared); drift is compared with it."""
        with self._lock:
            if self._read is not None and time.monotonic() - self._read_at <= shared_for:
                return copy.deepcopy(self._read)
            read = self._use(lambda ddg: ddg.read_setup())
            self._read, self._read_at = read, time.monotonic()
            self._observe(read)
            return copy.deepcopy(read)

    def read_temperature(self) -> float:
        """Reads the instrument's temperature (degrees Celsius); raises VarekError on failure."""
        temperature = self._use(lambda ddg: ddg.read_temperature())
        self._temperature = temperature
        return temperature

    def setup_document(self) -> Dict[str, Any]:
        """The setup document: read back, with what the instrument cannot report as set here."""
        read = self.read_back()
        with self._lock:
            document = completed_setup(read, self._as_set)
        if self.unit:
            document["unit"] = self.unit
        return document

    def drift(self) -> List[Difference]:
        """The fields the last read-back found otherwise than they were set."""
        with self._lock:
            return list(self._drift)

    def snapshot(self) -> Snapshot:
        """Everything the service knows, copied at one moment: safe to hand to another thread."""
        with self._lock:
            return Snapshot(self._connected, self._reason, self._outcome, copy.deepcopy(self._read),
                            self._temperature, copy.deepcopy(self._as_set), list(self._drift))

    # The poll.

    def poll(self, temperature: bool = True) -> Snapshot:
        """One round: a gone port is tried again when due; an open one is read back (one
        status read) and, with `temperature`, its temperature read. Failures are kept, not
        raised."""
        if not self.port_open:
            self.reopen_if_due()
        if self.port_open:
            try:
                self.read_back()
                if temperature:
                    self.read_temperature()
            except VarekError:
                pass  # kept as the reason; the snapshot says so
        return self.snapshot()

    def start_polling(self, every_s: float, on_snapshot: Callable[[Snapshot], None]) -> None:
        """Polls every `every_s` seconds on a thread of its own, and after wake() at once, with
        a status read alone; `on_snapshot` hears each round."""
        self._stop.clear()

        def run() -> None:
            woken = False
            while not self._stop.is_set():
                on_snapshot(self.poll(temperature=not woken))
                # A gone port is tried again each second, however long the poll.
                wait = every_s if self.port_open else min(every_s, REOPEN_EVERY_S)
                woken = self._wake.wait(wait)
                self._wake.clear()

        self._poller = threading.Thread(target=run, name="varek-poll", daemon=True)
        self._poller.start()

    def wake(self) -> None:
        """Makes the poll run its next round now (after a write, say)."""
        self._wake.set()

    def stop_polling(self) -> None:
        """Stops the poll started by start_polling and waits for its thread to end."""
        if self._poller is not None:
            self._stop.set()
            self._wake.set()
            self._poller.join()
            self._poller = None

    # Inside.

    def _use(self, action: Callable[[Varek], Any]) -> Any:
        """Runs `action` on the open connection under the lock, and keeps how it went."""
        with self._lock:
            if self._ddg is None:
                self.reopen_if_due()
            if self._ddg is None:
                raise VarekError(f"using {self.port}", NULL_HANDLE, self._reason or "the port is not open",
                                 self.port, Outcome.NOT_OPEN)
            try:
                result = action(self._ddg)
            except VarekArgumentError:
                raise  # refused before anything was sent: the connection stands as it was
            except VarekError as failure:
                self._failed(failure)
                if self._ddg.port_lost():
                    log.warning("port %s lost: %s; trying it again every second", self.port, failure.reason)
                    self._close_port()
                raise
            self._connected, self._reason, self._outcome = True, "", None
            return result

    def _failed(self, failure: VarekError) -> None:
        self._connected, self._reason, self._outcome = False, failure.reason, failure.outcome
        self._read = None

    def _close_port(self) -> None:
        if self._ddg is not None:
            self._ddg.close()
            self._ddg = None
            self._next_reopen = time.monotonic() + REOPEN_EVERY_S

    def _keep(self, taken: Dict[str, Any], uncertain: Dict[str, Any]) -> None:
        """What the instrument took becomes what is set; what it may or may not have
        taken (its reply lost) becomes unknown."""
        changed = False
        for path in _given_paths(taken):
            changed |= field_of(self._as_set, path) != field_of(taken, path)
            _put(self._as_set, path, field_of(taken, path))
        for path in _given_paths(uncertain):
            log.warning("%s is unknown until set again: its request failed after it went out", path)
            changed |= field_of(self._as_set, path) is not None
            _put(self._as_set, path, None)
        touched = set(_given_paths(taken)) | set(_given_paths(uncertain))
        self._drift = [d for d in self._drift if d.field not in touched]
        if changed and self._state is not None:
            try:
                self._state.write(self._as_set)
            except OSError as failure:
                log.error("what was set could not be kept in %s: %s", self._state.path, failure)

    def _observe(self, read: Dict[str, Any]) -> None:
        drift = compare_setups(self._as_set, read, self._library)
        seen = {d.field for d in self._drift}
        for d in drift:
            if d.field not in seen:
                log.warning("drift: %s was set to %s, the instrument reads %s", d.field, d.wanted, d.found)
        self._drift = drift

    def _restore(self) -> None:
        """Applies and verifies what the state file holds, at each open."""
        if self._state is None or not _given_paths(self._as_set):
            return
        try:
            self.apply(self._as_set, verify=True)
            self.read_back()
        except VarekError as failure:
            log.error("restoring the setup of %s failed: %s", self._state.path, failure.reason)
            return
        log.info("setup restored from %s, %s", self._state.path,
                 "read back alike" if not self._drift else f"but {len(self._drift)} field(s) read back otherwise")

