"""varek-sim serving a serial port: one end of a null-modem pair made with
socat, the host on the other end, as a lab team tests against com0com or two
adapters and a cable.

    test_sim_on_port.py linux VAREK_SIM VAREKCTL
    test_sim_on_port.py wine WINE_RUN WINE_PREFIX VAREK_SIM_EXE VAREKCTL_EXE LINUX_VAREKCTL

Linux: varek-sim --port on one end, varekctl on the other. Wine: the pair's
ends are COM20 and COM21 in the Wine prefix; varek-sim.exe serves COM20, with
the Linux varekctl on the other end's device and with varekctl.exe on COM21.
"""
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

MODE = sys.argv[1]
if MODE == "linux":
    SIM, VAREKCTL = sys.argv[2:4]
    WINE_RUN = WINE_PREFIX = HOST_VAREKCTL = None
else:
    WINE_RUN, WINE_PREFIX, SIM, HOST_VAREKCTL, VAREKCTL = sys.argv[2:7]
del sys.argv[1:]
UNDER_WINE = MODE == "wine"
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from sim_process import SimProcess  # noqa: E402



class NullModem:
    """A socat pair; under Wine its ends also appear as COM20 and COM21."""

    def __init__(self):
        self.folder = tempfile.mkdtemp()
        self.a, self.b = os.path.join(self.folder, "a"), os.path.join(self.folder, "b")
        self.process = subprocess.Popen(["socat", f"pty,raw,echo=0,link={self.a}",
                                         f"pty,raw,echo=0,link={self.b}"])
        for _ in range(100):
            if os.path.exists(self.a) and os.path.exists(self.b):
                break
            time.sleep(0.05)
        if UNDER_WINE:
            for com, end in (("com20", self.a), ("com21", self.b)):
                link = os.path.join(WINE_PREFIX, "dosdevices", com)
                if os.path.lexists(link):
                    os.unlink(link)
                os.symlink(os.path.realpath(end), link)

    def sim_port(self):
        return "COM20" if UNDER_WINE else self.a

    def host_port(self):
        """The other end, as the host's varekctl names it."""
        return "COM21" if UNDER_WINE else self.b

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        shutil.rmtree(self.folder, ignore_errors=True)


def program(path):
    return [WINE_RUN, path] if UNDER_WINE and path.endswith(".exe") else [path]


def varekctl(port, *args, path=None, stdin=None):
    command = program(path or VAREKCTL) + ["--port", port, *args]
    return subprocess.run(command, capture_output=True, text=True, input=stdin, timeout=120)


class SimOnPortTest(unittest.TestCase):
    def setUp(self):
        self.pair = NullModem()
        self.addCleanup(self.pair.close)

    def start(self, *options):
        sim = SimProcess(program(SIM) + ["--port", self.pair.sim_port(), *options])
        self.addCleanup(sim.stop)
        return sim

    def hosts(self):
        """Each host program with the name it opens the far end by."""
        if UNDER_WINE:
            return [(HOST_VAREKCTL, self.pair.b), (VAREKCTL, self.pair.host_port())]
        return [(VAREKCTL, self.pair.host_port())]

    def test_state_set_and_read_back_and_a_fault_through_the_control_channel(self):
        sim = self.start()
        for path, port in self.hosts():
            with self.subTest(host=path):
                sim.control.command("reset")
                result = varekctl(port, "run", "-", path=path, stdin="delay 3 12345\nwidth 3 500\nstatus 3\n")
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn("12345", result.stdout)
                self.assertIn("delay3=1234500", sim.control.command("state"))
                sim.control.command("fault refuse")
                refused = varekctl(port, "fire", path=path)
                self.assertEqual(refused.returncode, 1, refused.stderr)
                self.assertIn("refused the software trigger", refused.stderr)
                self.assertIn("fired=0", sim.control.command("state"))

    def test_a_simulator_that_refuses_everything(self):
        self.start("--refuse")
        for path, port in self.hosts():
            with self.subTest(host=path):
                result = varekctl(port, "output", "on", path=path)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn("refused the global output setting (reply parameter 0x0000)", result.stderr)

    def test_paced_bytes_take_their_wire_time(self):
        self.start("--pace", "115200")
        path, port = self.hosts()[0]
        started = time.monotonic()
        result = varekctl(port, "status", "all", path=path)
        elapsed = time.monotonic() - started
        self.assertEqual(result.returncode, 0, result.stderr)
        # One exchange of 10 + 358 bytes at 86.8 us a byte: 31.9 ms on the wire.
        self.assertGreaterEqual(elapsed, 0.0319)
        self.assertLess(elapsed, 10)

    def test_the_port_vanishing_under_the_simulator(self):
        sim = self.start()
        self.pair.close()
        started = time.monotonic()
        try:
            # Waited for with its input left open: closing it would ask it to stop.
            sim.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.fail("varek-sim kept running on a port that went away")
        _, errors = sim.process.communicate(timeout=30)  # bounded, in case a child holds stderr
        self.assertNotEqual(sim.process.returncode, 0)
        lines = [line for line in errors.splitlines() if line.strip()]
        self.assertEqual(len(lines), 1, errors)
        self.assertRegex(lines[0], r"^varek-sim: .*port COM20|^varek-sim: .*port /")
        self.assertLess(time.monotonic() - started, 20)

    def test_bad_ports_and_values_say_why_in_one_line(self):
        missing = "COM250" if UNDER_WINE else "/dev/varek-no-such-port"
        cases = [(["--port", missing], 1, f"cannot open {missing}: no such port"),
                 (["--port", self.pair.sim_port(), "--baud", "fast"], 2, "--baud takes a baud rate"),
                 (["--port", self.pair.sim_port(), "--baud", "0"], 2, "--baud takes a baud rate")]
        if not UNDER_WINE:
            cases.append((["--port", "/dev/null"], 1, "cannot open /dev/null: it is not a serial device"))
        for args, code, message in cases:
            with self.subTest(args=args):
                result = subprocess.run(program(SIM) + args, capture_output=True, text=True, timeout=60)
                self.assertEqual(result.returncode, code, result.stderr)
                lines = [line for line in result.stderr.splitlines() if line.strip()]
                self.assertIn(message, lines[0])
                if code == 1:
                    self.assertEqual(len(lines), 1, result.stderr)

    @unittest.skipIf(UNDER_WINE, "Wine enforces no share mode on devices")
    def test_a_busy_port(self):
        with open(self.pair.a, "rb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            result = subprocess.run([SIM, "--port", self.pair.a], capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.strip().splitlines(),
                         [f"varek-sim: cannot open {self.pair.a}: busy: another program holds it; "
                          "close that program first (system error 16)"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
