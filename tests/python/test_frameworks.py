"""The Bluesky devices (ophyd-async) with a real RunEngine, and the QCoDeS
instrument with a real QCoDeS database, against the simulator on a
pseudo-terminal; the EPICS device against a real varek-ioc on loopback ports
of the test's own.

    test_frameworks.py VAREK_SIM      (the project's environment; VAREK_LIBRARY set)
"""
import os
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(__file__)
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))
from ioc_process import EpicsPorts, IocProcess  # noqa: E402
from sim_process import SimProcess  # noqa: E402

SIM = sys.argv[1]
del sys.argv[1:]
PORTS = EpicsPorts()
PORTS.use_as_client()  # before any Channel Access client starts

import bluesky.plan_stubs as bps  # noqa: E402
import bluesky.plans as bp  # noqa: E402
from bluesky import RunEngine  # noqa: E402
from ophyd_async.plan_stubs import ensure_connected  # noqa: E402

from varek.bluesky import EpicsVarekDelayGenerator, TriggerMode, VarekDelayGenerator  # noqa: E402

POINTS = [100 * point for point in range(11)]


def sent(sim, command):
    """The values of every request with `command` the simulator received, in order."""
    received = bytes.fromhex(sim.control.command("received"))
    values = []
    for at in range(len(received) - 7):
        if received[at:at + 2] == b"\xeb\x90" and received[at + 4] == command:
            length = int.from_bytes(received[at + 2:at + 4], "little")
            payload = received[at + 7:at + 4 + length - 3]
            values.append(int.from_bytes(payload[:8], "little"))
    return values


class RunEngineCase(unittest.TestCase):
    def setUp(self):
        self.sim = SimProcess([SIM, "--link", os.path.join(tempfile.mkdtemp(), "ttyVAREK")])
        self.addCleanup(self.sim.stop)
        self.documents = []
        self.RE = RunEngine({}, call_returns_result=True)
        self.RE.subscribe(lambda name, document: self.documents.append((name, document)))

    def of(self, kind):
        return [document for name, document in self.documents if name == kind]

    def scan_channel_3(self, ddg, prefix):
        self.RE(bp.scan([ddg.channels[3]], ddg.channels[3].delay, POINTS[0], POINTS[-1], len(POINTS)))
        events = self.of("event")
        self.assertEqual([event["data"][f"{prefix}-channels-3-delay"] for event in events], POINTS)
        self.assertEqual(sent(self.sim, 0x08), [point * 100 for point in POINTS], "each point reached it")


class NativeDeviceTest(RunEngineCase):
    def setUp(self):
        super().setUp()
        self.ddg = VarekDelayGenerator(self.sim.device, name="ddg")
        self.addCleanup(self.ddg.close)
        self.RE(ensure_connected(self.ddg))

    def test_a_scan_over_a_delay_reads_each_point_back(self):
        self.scan_channel_3(self.ddg, "ddg")

    def test_count_fires_it_at_each_point_and_the_descriptor_holds_its_configuration(self):
        self.RE(bps.mv(self.ddg.trigger_mode, TriggerMode.MODE_1, self.ddg.channels[2].output, True))
        self.RE(bp.count([self.ddg], num=3))
        self.assertEqual(self.sim.control.state()["fired"], "3")
        self.assertEqual(self.sim.control.state()["trigger"], "2")
        configuration = self.of("descriptor")[0]["configuration"]["ddg"]["data"]
        self.assertEqual(configuration["ddg-trigger_mode"], "Mode 1")
        self.assertEqual(configuration["ddg-channels-2-output"], True)
        self.assertEqual(configuration["ddg-trigger_frequency"], 1000.0)
        self.assertIn("ddg-temperature", configuration)
        event = self.of("event")[0]["data"]
        self.assertIn("ddg-channels-8-pulse_width", event)
        self.assertNotIn("ddg-trigger_mode", event, "configuration, not read")

    def test_a_refused_value_fails_the_plan_with_the_librarys_words_and_sends_nothing(self):
        before = self.sim.control.command("requests")
        with self.assertRaises(Exception) as raised:
            self.RE(bps.mv(self.ddg.channels[3].delay, -1))
        self.assertIn("delay -1 is outside", repr(raised.exception) + str(raised.exception.__cause__))
        self.assertEqual(self.sim.control.command("requests"), before)

    def test_the_port_hung_up_mid_plan_fails_it_without_a_hang(self):
        threading.Timer(0.5, lambda: self.sim.control.command("hangup")).start()
        started = time.monotonic()
        with self.assertRaises(Exception) as raised:
            self.RE(bp.count([self.ddg], num=100, delay=0.05))
        self.assertLess(time.monotonic() - started, 6)
        self.assertRegex(repr(raised.exception) + repr(raised.exception.__cause__), "failed|unplugged|hung")
        self.assertGreater(int(self.sim.control.state()["fired"]), 0)


class EpicsDeviceTest(RunEngineCase):
    def test_the_same_scan_through_varek_ioc(self):
        ioc = IocProcess(PORTS, "--port", self.sim.device, "--prefix", "BLUESKY:", "--poll", "60")
        self.addCleanup(ioc.stop)
        ddg = EpicsVarekDelayGenerator("BLUESKY:", name="ddg")
        self.RE(ensure_connected(ddg))
        self.scan_channel_3(ddg, "ddg")
        self.RE(bp.count([ddg], num=2))
        self.assertEqual(self.sim.control.state()["fired"], "2")
        before = self.sim.control.command("requests")
        with self.assertRaises(Exception) as raised:
            self.RE(bps.mv(ddg.trigger_frequency, 0.0))  # at DRVL: the library's limit is exclusive
        self.assertIn("internal trigger frequency", repr(raised.exception) + str(raised.exception.__cause__))
        self.assertEqual(self.sim.control.command("requests"), before)


class QcodesTest(unittest.TestCase):
    def setUp(self):
        from varek.qcodes import VarekDelayGenerator as QcodesDelayGenerator

        self.sim = SimProcess([SIM])
        self.addCleanup(self.sim.stop)
        self.ddg = QcodesDelayGenerator("ddg", self.sim.device, unit="1ns")
        self.addCleanup(self.ddg.close)

    def test_parameters_set_and_read_through_the_instrument(self):
        ddg = self.ddg
        ddg.ch3.delay(12345)
        ddg.ch3.pulse_width_time(5e-7)
        ddg.ch3.output(True)
        ddg.trigger_mode(2)
        ddg.trigger_frequency(2000.0)
        ddg.global_output(True)
        ddg.fire()
        state = self.sim.control.state()
        self.assertEqual((state["delay3"], state["width3"], state["on3"], state["trigger"], state["word"],
                          state["global"], state["fired"]), ("1234500", "50000", "1", "3", "125000", "1", "1"))
        self.assertEqual((ddg.ch3.delay(), ddg.ch3.pulse_width(), ddg.ch3.output()), (12345, 500, True))
        self.assertAlmostEqual(ddg.ch3.delay_time(), 12.345e-6, delta=1e-15)
        self.assertEqual((ddg.trigger_mode(), ddg.trigger_frequency(), ddg.temperature()), (2, 2000.0, 25.0))
        self.assertEqual(ddg.channels[2].delay(), 12345)
        self.assertEqual(ddg.ch3.delay.unit, "1ns")

    def test_validators_refuse_out_of_range_before_anything_is_sent(self):
        before = self.sim.control.command("requests")
        for parameter, value in ((self.ddg.ch1.delay, -1), (self.ddg.ch1.delay, 2 ** 62),
                                 (self.ddg.trigger_mode, 3), (self.ddg.trigger_frequency, 3e8),
                                 (self.ddg.ch1.output, "on")):
            with self.subTest(parameter=parameter.full_name, value=value):
                with self.assertRaises((ValueError, TypeError)):
                    parameter(value)
        with self.assertRaises(ValueError) as refused:  # half a unit: the library's own refusal
            self.ddg.ch1.delay_time(2.5e-9)
        self.assertIn("not a whole number of units", str(refused.exception))
        self.assertEqual(self.sim.control.command("requests"), before)

    def test_do1d_into_a_database_and_the_snapshot(self):
        from qcodes.dataset import (do1d, initialise_or_create_database_at, load_by_id,
                                    load_or_create_experiment)

        initialise_or_create_database_at(os.path.join(tempfile.mkdtemp(), "lab.db"))
        load_or_create_experiment("delays", sample_name="simulator")
        self.ddg.ch4.output(True)
        dataset, _, _ = do1d(self.ddg.ch3.delay, 0, 1000, 11, 0.0, self.ddg.ch3.pulse_width,
                             do_plot=False, show_progress=False)
        data = load_by_id(dataset.run_id).get_parameter_data()["ddg_ch3_pulse_width"]
        self.assertEqual(list(data["ddg_ch3_delay"]), POINTS)
        self.assertEqual(sent(self.sim, 0x08), [point * 100 for point in POINTS])
        snapshot = self.ddg.snapshot(update=True)
        self.assertEqual(snapshot["submodules"]["ch4"]["parameters"]["output"]["value"], True)
        self.assertIsNone(snapshot["parameters"]["trigger_mode"]["value"], "never set: unknown")
        self.assertEqual(snapshot["submodules"]["ch3"]["parameters"]["delay"]["value"], 1000)


class ExamplesTest(unittest.TestCase):
    """The manual's two sessions, on a simulated instrument of their own (--port sim)."""

    def run_example(self, name, *args):
        environment = {**os.environ, "VAREK_SIM": os.path.abspath(SIM),
                       "VAREK_LIBRARY": os.path.abspath(os.environ["VAREK_LIBRARY"]),
                       "PYTHONPATH": os.path.abspath(os.path.join(HERE, "..", "..", "python"))}
        example = os.path.join(HERE, "..", "..", "examples", name)
        return subprocess.run([sys.executable, example, "sim", *args], capture_output=True, text=True,
                              timeout=120, env=environment, cwd=tempfile.mkdtemp())

    def test_the_bluesky_session(self):
        result = self.run_example("bluesky_session.py")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout, r"\|\s+11 \|.*\|\s+1000 \|")
        self.assertIn("generator count", result.stdout)

    def test_the_qcodes_measurement(self):
        result = self.run_example("qcodes_do1d.py", "example.db")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("delay   1000 units = 1.000e-06 s", result.stdout)
        self.assertIn("snapshot: channel 3 output True", result.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
