"""The Tango device in a real Tango control system: MariaDB, tango-db's
DataBaseds, the device registered with tango_admin as the manual says,
varek-tango-server started as a facility starts it, and DeviceProxy clients
in this (another) process. Runs in a network namespace of its own, so that
everything Tango opens (CORBA and ZMQ ports) is reachable on loopback alone.

    unshare --net test_tango_system.py VAREK_SIM      (Debian's python3, root; VAREK_LIBRARY set)
"""
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON_PACKAGE = os.path.join(HERE, "..", "..", "python")
sys.path.insert(0, PYTHON_PACKAGE)
sys.path.insert(0, os.path.join(HERE, "..", "support"))
SIM = sys.argv[1]
del sys.argv[1:]

from sim_process import SimProcess  # noqa: E402
from tango_round_trip import write_and_read_back_every_attribute  # noqa: E402
from tango_system import TangoSystem  # noqa: E402

# Loopback comes up in the namespace the test runs in; TANGO_HOST is set before tango loads.
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
SYSTEM = TangoSystem()
os.environ["TANGO_HOST"] = SYSTEM.host
import tango  # noqa: E402

INSTANCE = f"systest{os.getpid()}"
DEVICE = f"test/varek/{os.getpid()}"


class Events:
    """Change events of one attribute, as they arrive."""

    def __init__(self):
        self.values = []
        self.arrived = threading.Condition()

    def push_event(self, event):
        with self.arrived:
            if not event.err:
                self.values.append(event.attr_value.value)
            self.arrived.notify_all()

    def wait_for(self, value, seconds):
        deadline = time.monotonic() + seconds
        with self.arrived:
            while value not in self.values:
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self.arrived.wait(left)
        return True


class TangoSystemTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp()
        cls.link = os.path.join(cls.folder, "ttyVAREK")
        cls.sim = SimProcess([SIM, "--link", cls.link])
        # Exactly as the manual registers a device.
        for command in (("--add-server", f"varek-tango-server/{INSTANCE}", "VarekDelayGenerator", DEVICE),
                        ("--add-property", DEVICE, "Port", cls.link),
                        ("--add-property", DEVICE, "Unit", "1ns")):
            result = SYSTEM.admin(*command)
            assert result.returncode == 0, result.stdout + result.stderr
        cls.server = None
        cls.start_server()

    @classmethod
    def start_server(cls):
        environment = {**SYSTEM.environment, "PYTHONPATH": PYTHON_PACKAGE}
        cls.server = subprocess.Popen([sys.executable, "-m", "varek.tango", INSTANCE], env=environment,
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        ping = SYSTEM.admin("--ping-device", DEVICE, "30")
        if ping.returncode != 0:
            cls.server.kill()
            raise RuntimeError("the device server did not start: " + cls.server.communicate()[0])
        cls.device = tango.DeviceProxy(DEVICE)
        cls.device.set_timeout_millis(3000)
        # Reads from the device itself, not the polling buffer, which can hold a
        # reading of up to a second before an Init.
        cls.device.set_source(tango.DevSource.DEV)

    @classmethod
    def stop_server(cls):
        """SIGTERM; returns the seconds it took to end."""
        asked = time.monotonic()
        cls.server.send_signal(signal.SIGTERM)
        cls.server.communicate(timeout=30)
        return time.monotonic() - asked

    @classmethod
    def tearDownClass(cls):
        if cls.server and cls.server.poll() is None:
            cls.stop_server()
        SYSTEM.admin("--delete-server", f"varek-tango-server/{INSTANCE}", "--with-properties")
        cls.sim.stop()

    def setUp(self):
        if self.device.state() != tango.DevState.ON:
            self.device.Init()

    def test_every_attribute_and_command_from_another_process(self):
        d = self.device
        write_and_read_back_every_attribute(self, d, 100, 5, lambda channel: channel % 2 == 1, 500.0, 1)
        d.Fire()
        self.assertEqual(d.Temperature, 25.0)
        self.assertEqual(d.state(), tango.DevState.ON)
        self.assertIn("answers", d.status())
        state = self.sim.control.state()
        self.assertEqual((state["delay8"], state["on1"], state["trigger"], state["global"]), ("80000", "1", "2", "1"))
        self.assertGreaterEqual(int(state["fired"]), 1)

    def test_attribute_configuration_a_facility_expects(self):
        delay = self.device.get_attribute_config("Delay5")
        self.assertEqual((delay.min_value, delay.max_value, delay.unit, delay.format),
                         ("0", "184467440737095516", "1ns", "%d"))
        self.assertIn("read back", delay.description)
        temperature = self.device.get_attribute_config("Temperature")
        self.assertEqual((temperature.unit, temperature.format), ("degC", "%.2f"))
        self.assertEqual(temperature.events.ch_event.abs_change, "0.1")
        self.assertEqual(self.device.get_attribute_poll_period("Temperature"), 1000)
        self.assertEqual(self.device.get_command_poll_period("State"), 1000)

    def test_change_events_without_client_configuration(self):
        temperature, state = Events(), Events()
        ids = [self.device.subscribe_event("Temperature", tango.EventType.CHANGE_EVENT, temperature),
               self.device.subscribe_event("State", tango.EventType.CHANGE_EVENT, state)]
        try:
            self.assertTrue(temperature.wait_for(25.0, 3))
            self.sim.control.command("temperature 31.5")
            self.assertTrue(temperature.wait_for(31.5, 3), temperature.values)
            self.assertTrue(state.wait_for(tango.DevState.ON, 3))
            self.sim.control.command("hangup")
            self.assertTrue(state.wait_for(tango.DevState.FAULT, 3), state.values)
        finally:
            for event_id in ids:
                self.device.unsubscribe_event(event_id)
            self.sim.control.command("revive")
            self.sim.control.command("temperature 25")

    def test_init_answers_within_three_seconds_on_a_good_and_a_missing_port(self):
        started = time.monotonic()
        self.device.Init()
        self.assertLess(time.monotonic() - started, 3.0)
        self.assertEqual(self.device.state(), tango.DevState.ON)
        SYSTEM.admin("--add-property", DEVICE, "Port", "/dev/varek-no-such-port")
        try:
            started = time.monotonic()
            self.device.Init()
            self.assertLess(time.monotonic() - started, 3.0)
            self.assertEqual(self.device.state(), tango.DevState.FAULT)
            self.assertIn("/dev/varek-no-such-port", self.device.status())
        finally:
            SYSTEM.admin("--add-property", DEVICE, "Port", self.link)
        self.device.Init()
        self.assertEqual(self.device.state(), tango.DevState.ON)

    def test_z_memorized_values_come_back_after_a_restart(self):
        # Last: it restarts the server.
        self.device.Output6 = True
        # Set by command, not attribute by attribute: they come back all the same.
        self.device.ApplySetup('{"varek_setup": 1, "trigger": {"mode": 2}, "global_output": true}')
        self.assertLess(self.stop_server(), 2.0, "the server took too long to stop")
        self.sim.control.command("reset")
        type(self).start_server()
        deadline = time.monotonic() + 10
        while self.sim.control.state()["on6"] != "1" and time.monotonic() < deadline:
            time.sleep(0.1)
        state = self.sim.control.state()
        self.assertEqual((state["on6"], state["trigger"], state["global"]), ("1", "3", "1"))
        self.assertTrue(self.device.Output6)


if __name__ == "__main__":
    try:
        unittest.main(verbosity=2)
    finally:
        SYSTEM.stop()
