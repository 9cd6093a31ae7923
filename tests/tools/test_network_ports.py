"""Instruments behind terminal servers: socket:// and rfc2217:// ports through
ser2net (Debian's terminal server, started here with a configuration of its
own) in front of the simulator's pseudo-terminal, and varek-sim --listen.

    test_network_ports.py linux VAREK_SIM VAREKCTL VAREK_SERVER     (VAREK_LIBRARY set)
    test_network_ports.py wine WINE_RUN VAREK_SIM VAREK_SIM_EXE VAREKCTL_EXE

Linux drives the Python package, varekctl and varek-server; Wine drives
varekctl.exe (and so varek.dll) through ser2net and against varek-sim.exe.
"""
import os
import re
import subprocess
import sys
import threading
import time
import unittest

MODE = sys.argv[1]
if MODE == "linux":
    SIM, VAREKCTL, SERVER = sys.argv[2:5]
    WINE_RUN = SIM_EXE = None
else:
    WINE_RUN, SIM, SIM_EXE, VAREKCTL = sys.argv[2:6]
    SERVER = None
del sys.argv[1:]
UNDER_WINE = MODE == "wine"
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))
from pyserial_rfc2217 import PySerialRfc2217Server  # noqa: E402
from ser2net_process import Ser2net, free_loopback_port  # noqa: E402
from sim_process import SimProcess  # noqa: E402

EVERY_OPERATION = """trigger-mode 2
freq 2000
enable 3 on
delay 3 12345
width 3 500
output on
fire
temp
status all
"""


def varekctl(*args, stdin=None, timeout=60):
    command = ([WINE_RUN] if UNDER_WINE else []) + [VAREKCTL, *args]
    return subprocess.run(command, input=stdin, capture_output=True, text=True, timeout=timeout)


def assert_every_operation_arrived(test, state):
    test.assertEqual(state["trigger"], "3")
    test.assertEqual(state["word"], str(250000000 // 2000))
    # The instrument holds delays and widths x100.
    test.assertEqual((state["on3"], state["delay3"], state["width3"]), ("1", "1234500", "50000"))
    test.assertEqual((state["global"], state["fired"]), ("1", "1"))


class TerminalServerCase(unittest.TestCase):
    """A simulator on a pseudo-terminal and ser2net in `kind` mode in front of it."""

    kind = None

    @classmethod
    def setUpClass(cls):
        cls.sim = SimProcess([SIM])
        try:
            cls.ser2net = Ser2net(cls.sim.device, cls.kind)
        except Exception:
            cls.sim.stop()
            raise
        cls.url = cls.ser2net.url

    @classmethod
    def tearDownClass(cls):
        cls.ser2net.stop()
        cls.sim.stop()

    def setUp(self):
        self.sim.control.command("reset")

    def test_every_operation_through_varekctl(self):
        result = varekctl("--port", self.url, "run", "-", stdin=EVERY_OPERATION)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("temperature: 25.00", result.stdout)
        assert_every_operation_arrived(self, self.sim.control.state())

    def test_find_accepts_the_named_port(self):
        result = varekctl("find", self.url)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn(self.url, result.stdout)


class PackageCase(TerminalServerCase):
    """The cases above, and the Python package's through the same terminal server."""

    def open(self, **kwargs):
        import varek
        connection = varek.Varek(self.url, **kwargs)
        self.addCleanup(connection.close)
        return connection

    def test_every_operation_through_the_python_package(self):
        v = self.open()
        v.set_trigger(2)
        v.set_trigger_freq(2000.0)
        v.set_output_channel(3, True)
        v.set_delay(3, 12345)
        v.set_pulse_width(3, 500)
        v.set_global_output(True)
        v.software_trigger()
        self.assertEqual(v.read_temperature(), 25.0)
        self.assertEqual(v.read_timing_config(3).delay, 12345)
        self.assertEqual(v.read_status().pulse_width[2], 500)
        assert_every_operation_arrived(self, self.sim.control.state())

    def test_the_c_interface_opens_the_network_name(self):
        import ctypes
        import varek
        lib = varek.load_library()
        handle = lib.varek_init(self.url.encode(), 0)
        self.assertTrue(handle, "varek_init returned no handle")
        try:
            self.assertEqual(lib.varek_software_trigger(handle), 0)
            temperature = ctypes.c_float()
            self.assertEqual(lib.varek_read_temperature(handle, ctypes.byref(temperature)), 0)
            self.assertEqual(temperature.value, 25.0)
        finally:
            lib.varek_close(handle)
        self.assertEqual(self.sim.control.state()["fired"], "1")

    def test_bytes_0xff_cross_in_both_directions(self):
        # 0x7FFFFF x 100 and 0xFF x 100 put FF bytes in the requests' payloads
        # and in the status reply; a 0xFF taken for Telnet's IAC, or not undoubled,
        # would corrupt the value or the checksum.
        value = 0x7FFFFF
        self.assertIn(b"\xff", (value * 100).to_bytes(8, "little"))
        v = self.open()
        v.set_delay(5, value)
        v.set_pulse_width(5, 0xFF)
        self.assertEqual(self.sim.control.state()["delay5"], str(value * 100))
        status = v.read_status()
        self.assertEqual((status.delay[4], status.pulse_width[4]), (value, 0xFF))

    def test_terminal_server_stopped_mid_exchange_then_back(self):
        import varek
        v = self.open()
        self.sim.control.command("fault delay=900")
        outcome = {}

        def read():
            started = time.monotonic()
            try:
                v.read_temperature()
            except varek.VarekError as error:
                outcome["error"] = error
            outcome["seconds"] = time.monotonic() - started

        reader = threading.Thread(target=read)
        reader.start()
        time.sleep(0.2)
        self.ser2net.stop()
        reader.join(10)
        try:
            error = outcome.get("error")
            self.assertIsNotNone(error, "the exchange succeeded with the terminal server stopped")
            self.assertEqual(error.outcome, varek.Outcome.READ_FAILED)
            self.assertIn(f"connection to 127.0.0.1:{self.ser2net.port} was closed", str(error))
            self.assertLess(outcome["seconds"], 0.9, "the closed connection was not noticed before the time-out")
        finally:
            self.ser2net.start()
        self.sim.control.command("clear")
        time.sleep(1.0)  # the simulator's late reply to the dropped request goes nowhere
        again = self.open()
        self.assertEqual(again.read_temperature(), 25.0)


class RawPortTest(PackageCase):
    kind = "socket"

    def test_rfc2217_to_a_raw_port_fails_with_a_reason_within_the_bound(self):
        started = time.monotonic()
        result = varekctl("--port", self.url.replace("socket://", "rfc2217://"), "temp")
        self.assertEqual(result.returncode, 1)
        self.assertIn("did not agree to RFC 2217", result.stderr)
        self.assertIn(f"name it {self.url}", result.stderr)
        self.assertLess(time.monotonic() - started, 5.0 + 1.5)


class Rfc2217PortTest(PackageCase):
    kind = "rfc2217"

    def test_the_baud_rate_of_the_open_reaches_the_line(self):
        for baud in (57600, 9600):
            v = self.open(baud=baud)
            v.read_temperature()
            self.assertRegex(self.sim.control.command("line"), rf"\bbaud={baud}\b")
            v.close()
            time.sleep(0.3)  # ser2net lets the device go before the next client may have it


if UNDER_WINE:
    # varek.dll through varekctl.exe, without the Python package.
    del RawPortTest, Rfc2217PortTest

    class WineRawPortTest(TerminalServerCase):
        kind = "socket"

    class WineRfc2217PortTest(TerminalServerCase):
        kind = "rfc2217"

del TerminalServerCase, PackageCase


class NothingListensTest(unittest.TestCase):
    def test_a_refused_connect_fails_at_once_with_its_reason(self):
        port = free_loopback_port()
        started = time.monotonic()
        result = varekctl("--port", f"socket://127.0.0.1:{port}", "temp")
        self.assertEqual(result.returncode, 1)
        self.assertIn(f"cannot connect to 127.0.0.1:{port}: connection refused", result.stderr)
        self.assertNotIn("varekctl ports", result.stderr)
        if not UNDER_WINE:
            self.assertLess(time.monotonic() - started, 1.0)

    def test_a_malformed_network_name_is_a_usage_error(self):
        result = varekctl("--port", "socket://127.0.0.1", "temp")
        self.assertEqual(result.returncode, 2)
        self.assertIn("socket://HOST:PORT", result.stderr)


class SimulatorOnTcpTest(unittest.TestCase):
    """varek-sim --listen, as a terminal server in raw mode: one client at a time."""

    def setUp(self):
        sim = SIM_EXE if UNDER_WINE else SIM
        self.sim = SimProcess(([WINE_RUN] if UNDER_WINE else []) + [sim, "--listen", "127.0.0.1:0"])
        self.addCleanup(self.sim.stop)
        self.assertRegex(self.sim.device, r"^socket://127\.0\.0\.1:\d+$")

    def test_every_operation(self):
        result = varekctl("--port", self.sim.device, "run", "-", stdin=EVERY_OPERATION)
        self.assertEqual(result.returncode, 0, result.stderr)
        assert_every_operation_arrived(self, self.sim.control.state())

    @unittest.skipIf(UNDER_WINE, "the Python package is tested on Linux")
    def test_a_second_client_is_closed_and_the_next_one_served(self):
        import varek
        first = varek.Varek(self.sim.device)
        first.read_temperature()
        second = varek.Varek(self.sim.device)  # the connect succeeds; the line is taken
        with self.assertRaises(varek.VarekError) as raised:
            second.read_temperature()
        self.assertEqual(raised.exception.outcome, varek.Outcome.READ_FAILED)
        second.close()
        self.assertEqual(first.read_temperature(), 25.0)
        first.close()
        third = varek.Varek(self.sim.device)
        self.assertEqual(third.read_temperature(), 25.0)
        third.close()


class PySerialServerTest(unittest.TestCase):
    """pySerial's RFC 2217 server on loop://: an echoed request is its own
    reply, which acknowledges a channel enable (parameter low byte 1) and
    refuses a trigger (parameter 0)."""

    def setUp(self):
        self.server = PySerialRfc2217Server()
        self.addCleanup(self.server.stop)

    def test_quick_reconnects_are_each_answered(self):
        # Four connections in a row, each turned to only after the last one's 3 s.
        for attempt in range(3):
            started = time.monotonic()
            result = varekctl("--port", self.server.url, "enable", "1", "on")
            self.assertEqual(result.returncode, 0, f"reconnect {attempt}: {result.stderr}")
            self.assertLess(time.monotonic() - started, 5.0 + 1.5)
        result = varekctl("--port", self.server.url, "fire")
        self.assertEqual(result.returncode, 1)
        self.assertIn("refused the software trigger", result.stderr)


@unittest.skipIf(UNDER_WINE, "varek-server is tested on Linux here")
class ServerThroughTerminalServerTest(unittest.TestCase):
    def test_the_server_rides_out_a_terminal_server_restart(self):
        import http.client
        sim = SimProcess([SIM])
        self.addCleanup(sim.stop)
        ser2net = Ser2net(sim.device, "socket")
        self.addCleanup(ser2net.stop)
        server = subprocess.Popen([SERVER, "--port", ser2net.url, "--listen", "127.0.0.1:0"],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(server.communicate, timeout=15)
        self.addCleanup(server.terminate)
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", server.stdout.readline())
        self.assertIsNotNone(match, "varek-server did not start")

        def fire():
            connection = http.client.HTTPConnection("127.0.0.1", int(match.group(1)), timeout=15)
            connection.request("POST", "/api/v1/fire")
            status = connection.getresponse().status
            connection.close()
            return status

        self.assertEqual(fire(), 200)
        ser2net.stop()
        self.assertEqual(fire(), 503)
        ser2net.start()
        deadline = time.monotonic() + 10
        while fire() != 200:
            self.assertLess(time.monotonic(), deadline, "the server never came back")
            time.sleep(0.3)
        self.assertEqual(sim.control.state()["fired"], "2")


if __name__ == "__main__":
    unittest.main(verbosity=2)
