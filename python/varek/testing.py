"""A simulated instrument for tests that have no hardware::

    from varek import Varek
    from varek.testing import simulated_instrument

    with simulated_instrument() as sim:
        with Varek(sim.port) as ddg:
            ddg.set_delay(1, 500)
        assert sim.state()["delay1"] == 500 * 100   # as on the wire
        sim.fault("silent")                          # the next request gets no reply

With pytest, the fixture varek_sim gives the same object (no conftest needed).

It runs the varek-sim program bundled with this package (or the one named by
VAREK_SIM). On Linux it makes a pseudo-terminal of its own. On Windows it
serves one end of a null-modem pair (com0com makes one):
simulated_instrument(port="COM5", host_port="COM6"), and your code opens
host_port; the fixture takes them from VAREK_SIM_SERVE_PORT and
VAREK_SIM_HOST_PORT.
"""
import atexit
import os
import shutil
import socket
import subprocess
import sys
from contextlib import contextmanager
from typing import Dict, Iterator, List, Optional, Union

from . import _bundled_candidates

__all__ = ["SimulatedInstrument", "simulated_instrument", "FAULTS"]

# The faults the next request can meet, and whether each takes a value.
FAULTS = {"refuse": False, "ignore": False, "silent": False, "checksum": False, "tail": False, "short-length": False,
          "delay": True, "noise": True, "split": True, "surplus": True}

# A simulator that stops answering fails the caller waiting on it instead of hanging it.
_ANSWER_WAIT_S = 20

_running: List["SimulatedInstrument"] = []


def _simulator_program() -> str:
    explicit = os.environ.get("VAREK_SIM")
    if explicit:
        return explicit
    name = "varek-sim.exe" if sys.platform == "win32" else "varek-sim"
    for candidate in _bundled_candidates(os.path.dirname(os.path.abspath(__file__)), name):
        if os.path.exists(candidate):
            return candidate
    installed = shutil.which(name)  # the Debian package's /usr/bin/varek-sim
    if installed:
        return installed
    raise FileNotFoundError(f"no {name} beside the varek package nor on PATH: install the varek wheel or "
                            "package, or set VAREK_SIM")


def _option_words(options: Dict[str, Union[bool, int, str]]) -> List[str]:
    """pace=115200 -> --pace 115200; refuse=True -> --refuse; bad_checksum=True -> --bad-checksum."""
    words: List[str] = []
    for key, value in options.items():
        flag = "--" + key.replace("_", "-")
        if value is True:
            words.append(flag)
        elif value not in (False, None):
            words += [flag, str(value)]
    return words


class SimulatedInstrument:
    """A running varek-sim: `port` is what your code opens; `fault`, `clear` and
    `state` steer and inspect it through its control channel."""

    def __init__(self, port: Optional[str] = None, host_port: Optional[str] = None,
                 **options: Union[bool, int, str]):
        if sys.platform == "win32" and not port:
            raise RuntimeError("on Windows the simulated instrument serves one end of a null-modem pair "
                               "(com0com makes one): simulated_instrument(port='COM5', host_port='COM6'), "
                               "or set VAREK_SIM_SERVE_PORT and VAREK_SIM_HOST_PORT for the fixture")
        if port and not host_port:
            raise ValueError("name the other end of the pair too: host_port= is what your code opens")
        # Its standard input is a pipe from this process: when this process ends,
        # however it ends, the pipe closes and the simulator stops.
        command = [_simulator_program(), "--stop-with-stdin"] + (["--port", port] if port else []) + \
            _option_words(options)
        self._process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, text=True)
        device = self._process.stdout.readline().split()
        control = self._process.stdout.readline().split()
        if len(device) != 2 or len(control) != 2 or control[0] != "control":
            errors = self._process.communicate(timeout=10)[1].strip()
            raise RuntimeError(f"the simulated instrument did not start: {errors or 'no reason given'}")
        self.port: str = host_port or device[1]
        self._control = socket.create_connection(("127.0.0.1", int(control[1])), timeout=_ANSWER_WAIT_S)
        self._answers = self._control.makefile("r")
        _running.append(self)

    def _command(self, line: str) -> str:
        self._control.sendall((line + "\n").encode())
        try:
            answer = self._answers.readline().strip()
        except socket.timeout:
            raise RuntimeError(f"the simulated instrument gave no answer to '{line}' within {_ANSWER_WAIT_S} s") \
                from None
        if not answer.startswith("ok"):
            raise RuntimeError(f"the simulated instrument refused '{line}': {answer}")
        return answer[3:]

    def fault(self, word: str, value: Union[None, int, str] = None) -> None:
        """Makes the next request meet one fault: refuse, ignore, silent, checksum, tail,
        short-length (no value), or delay=MS, noise=HEX, split="PIECES,GAP_MS",
        surplus=HEX. Each call covers one more request."""
        if word not in FAULTS:
            raise ValueError(f"unknown fault {word!r}; the faults are {', '.join(FAULTS)}")
        if FAULTS[word] != (value is not None):
            raise ValueError(f"fault {word!r} " + ("takes a value" if FAULTS[word] else "takes no value"))
        self._command(f"fault {word}" + ("" if value is None else f"={value}"))

    def clear(self) -> None:
        """Forgets the faults queued for coming requests; the instrument's state stays."""
        self._command("clear")

    def reset(self) -> None:
        """A fresh instrument: state as at start, no faults queued."""
        self._command("reset")

    def state(self) -> Dict[str, Union[int, float]]:
        """What the instrument holds: trigger, word, global, fired, temperature,
        delayN, widthN, onN (delays and widths as on the wire, x100)."""
        values: Dict[str, Union[int, float]] = {}
        for word in self._command("state").split():
            key, text = word.split("=", 1)
            values[key] = float(text) if key == "temperature" else int(text)
        return values

    def close(self) -> None:
        """Stops the simulator; harmless when stopped already."""
        if self in _running:
            _running.remove(self)
        self._control.close()
        if self._process.poll() is None:
            self._process.stdin.close()
            self._process.terminate()
            try:
                self._process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        for stream in (self._process.stdin, self._process.stdout, self._process.stderr):
            if stream:
                stream.close()


@contextmanager
def simulated_instrument(port: Optional[str] = None, host_port: Optional[str] = None,
                         **options: Union[bool, int, str]) -> Iterator[SimulatedInstrument]:
    """Starts a simulated instrument and stops it on leaving, also on an error
    or an interrupt. `options` are varek-sim's: pace=115200, refuse=True,
    delay=200, log=True, ..."""
    instrument = SimulatedInstrument(port, host_port, **options)
    try:
        yield instrument
    finally:
        instrument.close()


@atexit.register
def _stop_strays() -> None:
    for instrument in list(_running):
        instrument.close()
