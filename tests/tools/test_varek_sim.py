"""varek-sim as a user starts it: option values it must refuse, and how it
reads a line a host left in a bad state.

    test_varek_sim.py VAREK_SIM
"""
import os
import select
import signal
import subprocess
import sys
import termios
import time
import tty
import unittest

PROGRAM = sys.argv[1]
del sys.argv[1:]
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from sim_process import SimProcess  # noqa: E402

SOFTWARE_TRIGGER = bytes.fromhex("EB900600140000 9501CC".replace(" ", ""))
ACKNOWLEDGED = bytes.fromhex("EB900600140100 9601CC".replace(" ", ""))


class RunningSimulator:
    """varek-sim in the background, with its device opened raw."""

    def __init__(self, *options):
        self.sim = SimProcess([PROGRAM, *options])
        self.line = os.open(self.sim.device, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.line)

    def read_reply(self, size, timeout=1.0):
        reply = b""
        deadline = time.monotonic() + timeout
        while len(reply) < size and select.select([self.line], [], [], max(0, deadline - time.monotonic()))[0]:
            reply += os.read(self.line, size - len(reply))
        return reply

    def stop(self):
        os.close(self.line)
        return self.sim.stop()


def gone_within(pid, seconds):
    """Whether process `pid` has ended (and been reaped) within `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            with open(f"/proc/{pid}/stat") as stat:
                if stat.read().split(") ")[1].startswith("Z"):
                    return True
        except FileNotFoundError:
            return True
        time.sleep(0.02)
    return False


# A program that starts a simulated instrument through the Python package and
# then dies without a word (SIGKILL), printing the simulator's process id first.
ABANDONING_PARENT = """
import os, signal, sys
sys.path.insert(0, sys.argv[1])
from varek.testing import SimulatedInstrument
instrument = SimulatedInstrument()
print(instrument._process.pid, flush=True)
os.kill(os.getpid(), signal.SIGKILL)
"""


class StoppingTest(unittest.TestCase):
    """A simulator stops within a second of being asked, even when the program
    that started it had the stop signals blocked (as Tango's servers have),
    and stops by itself when the program that started it dies."""

    def test_a_blocked_signal_mask_is_not_inherited(self):
        for stop_signal in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=stop_signal.name):
                process = subprocess.Popen(
                    [PROGRAM], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                    preexec_fn=lambda: signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM}))
                self.assertTrue(process.stdout.readline().startswith("device "))
                process.stdout.readline()
                asked = time.monotonic()
                process.send_signal(stop_signal)
                process.communicate(timeout=10)
                self.assertLess(time.monotonic() - asked, 1.0)
                self.assertEqual(process.returncode, 0)

    def test_it_stops_when_the_program_that_started_it_dies(self):
        python = os.path.join(os.path.dirname(__file__), "..", "..", "python")
        parent = subprocess.run([sys.executable, "-c", ABANDONING_PARENT, python], capture_output=True, text=True,
                                env={**os.environ, "VAREK_SIM": PROGRAM}, timeout=30)
        self.assertEqual(parent.returncode, -signal.SIGKILL, parent.stderr)
        simulator = int(parent.stdout.split()[0])
        self.assertTrue(gone_within(simulator, 1.0), "the simulator outlived the program that started it")


class VarekSimTest(unittest.TestCase):
    def test_bad_option_values_are_refused_with_exit_2(self):
        cases = [
            (["--control-port", "99999"], "--control-port takes a TCP port 0..65535"),
            (["--control-port", "-1"], "--control-port takes a TCP port 0..65535"),
            (["--control-port", "abc"], "got 'abc'"),
            (["--pace", "abc"], "--pace takes a baud rate"),
            (["--pace", "-5"], "--pace takes a baud rate"),
            (["--pace", "0"], "--pace takes a baud rate"),
            (["--listen", "4001"], "--listen takes HOST:PORT"),
            (["--listen", ":4001"], "--listen takes HOST:PORT"),
            (["--listen", "127.0.0.1:65536"], "--listen takes HOST:PORT"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                result = subprocess.run([PROGRAM, *args], capture_output=True, text=True, timeout=10)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(result.stdout, "")

    def test_an_unfinished_request_is_dropped_after_a_pause(self):
        sim = RunningSimulator("--log")
        try:
            # A head announcing the longest request, whose rest never comes.
            os.write(sim.line, bytes.fromhex("EB900E000102"))
            time.sleep(0.2)
            os.write(sim.line, SOFTWARE_TRIGGER)
            self.assertEqual(sim.read_reply(len(ACKNOWLEDGED)), ACKNOWLEDGED)
            # A request cut by a short pause is still one request.
            os.write(sim.line, SOFTWARE_TRIGGER[:4])
            time.sleep(0.03)
            os.write(sim.line, SOFTWARE_TRIGGER[4:])
            self.assertEqual(sim.read_reply(len(ACKNOWLEDGED)), ACKNOWLEDGED)
        finally:
            _, log = sim.stop()
        self.assertIn("dropped 6 bytes of an unfinished request", log)
        self.assertEqual(log.count("dropped"), 1, log)

    def test_what_it_keeps_of_the_line_is_bounded(self):
        sim = RunningSimulator()
        try:
            # 10 000 requests, 100 000 bytes: more than it keeps.
            for _ in range(10000):
                os.write(sim.line, SOFTWARE_TRIGGER)
                sim.read_reply(len(ACKNOWLEDGED))
            received = bytes.fromhex(sim.sim.control.command("received"))
            self.assertEqual(len(received), 64 * 1024, "the latest 64 KiB")
            self.assertTrue(received.endswith(SOFTWARE_TRIGGER))
            self.assertEqual(sim.sim.control.command("requests"), "10000")
        finally:
            sim.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
