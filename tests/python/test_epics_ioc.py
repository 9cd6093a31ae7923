"""varek-ioc, a real IOC in a process of its own on loopback ports of the
test's own, against the simulator on a pseudo-terminal, driven by a real
Channel Access client (pyepics, on EPICS's own libca) and a PVAccess client
(p4p) from this process.

    test_epics_ioc.py VAREK_SIM      (the project's environment; VAREK_LIBRARY set)
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(__file__)
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from ioc_process import EpicsPorts, IocProcess  # noqa: E402
from sim_process import SimProcess  # noqa: E402

SIM = sys.argv[1]
del sys.argv[1:]
PORTS = EpicsPorts()
PORTS.use_as_client()  # before the clients start

import epics  # noqa: E402
from p4p.client.thread import Context  # noqa: E402

INVALID, WRITE, COMM, TIMEOUT = 3, 2, 9, 10
MAX_TIMING = 184467440737095516  # written out on purpose: an independent check of the limits served


def wait_until(condition, within=5.0, step=0.05):
    deadline = time.monotonic() + within
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


class IocCase(unittest.TestCase):
    """A simulator on a pseudo-terminal of its own (a fixed link, so that it keeps its name across a
    hang-up) and varek-ioc in front of it. Each IOC gets a prefix of its own: a client hears no
    beacons here (Debian ships no caRepeater), so a channel of an IOC that stopped would find the
    next one only after its searches' back-off."""

    iocs_started = 0
    ioc_args = ("--poll", "60")

    def setUp(self):
        folder = tempfile.mkdtemp()
        self.link = os.path.join(folder, "ttyVAREK")
        self.sim = SimProcess([SIM, "--link", self.link])
        self.addCleanup(self.sim.stop)
        self.ioc = self.start_ioc(*self.ioc_args)

    def start_ioc(self, *args):
        IocCase.iocs_started += 1
        self.prefix = f"VAREKTEST{IocCase.iocs_started}:"
        ioc = IocProcess(PORTS, "--port", self.link, "--prefix", self.prefix, *args)
        self.addCleanup(lambda: ioc.process.poll() is None and ioc.stop())
        return ioc

    def pv(self, name):
        return self.prefix + name

    def get(self, name, **options):
        value = epics.caget(self.pv(name), timeout=5, use_monitor=False, **options)
        self.assertIsNotNone(value, f"{name} did not answer")
        return value

    def alarm(self, name):
        channel = epics.get_pv(self.pv(name), form="time")
        self.assertTrue(channel.wait_for_connection(5), name)
        channel.get(use_monitor=False)
        return channel.severity, channel.status

    def put(self, name, value):
        """A put with callback, as caput -c makes it; its time."""
        started = time.monotonic()
        self.assertEqual(epics.caput(self.pv(name), value, wait=True, timeout=10), 1, name)
        return time.monotonic() - started

    def state(self):
        return self.sim.control.state()

    def settle(self):
        """Until the IOC's read-back after a write has come and gone: no request for 0.3 s."""
        last = None
        while True:
            now = self.sim.control.command("requests")
            if now == last:
                return
            last = now
            time.sleep(0.3)


class RecordsTest(IocCase):
    def test_every_pv_written_reaches_the_instrument_and_reads_back(self):
        self.put("TriggerMode", 1)
        self.put("TriggerFrequency", 2000.0)
        self.put("GlobalOutput", 1)
        for channel in range(1, 9):
            self.put(f"CH{channel}:Delay", 1000 * channel)
            self.put(f"CH{channel}:Width", 10 * channel)
            self.put(f"CH{channel}:Enable", channel % 2)
        self.put("Fire", 1)
        self.put("Fire", 1)  # each write of 1 fires again
        self.settle()
        state = self.state()
        # The instrument holds delays and widths x100, and the frequency as its word.
        self.assertEqual((state["trigger"], state["word"], state["global"], state["fired"]),
                         ("2", str(250000000 // 2000), "1", "2"))
        for channel in range(1, 9):
            self.assertEqual((state[f"delay{channel}"], state[f"width{channel}"], state[f"on{channel}"]),
                             (str(100000 * channel), str(1000 * channel), str(channel % 2)))
            self.assertEqual(self.get(f"CH{channel}:Delay_RBV"), 1000 * channel)
            self.assertEqual(self.get(f"CH{channel}:Width_RBV"), 10 * channel)
            self.assertEqual(self.get(f"CH{channel}:Enable"), channel % 2)
        self.assertEqual(self.get("TriggerFrequency_RBV"), 2000.0)
        self.assertEqual((self.get("TriggerMode"), self.get("GlobalOutput")), (1, 1))
        self.assertEqual((self.get("Temperature"), self.get("Connected"), self.get("Drift")), (25.0, 1, 0))
        self.assertEqual(self.get("LastError", as_string=True), "")
        setup = json.loads(self.get("Setup", as_string=True))
        self.assertEqual((setup["trigger"], setup["global_output"]), ({"mode": 1, "frequency": 2000}, True))
        self.assertEqual(setup["channels"]["3"], {"delay": 3000, "pulse_width": 30, "output": True})

    def test_pvaccess_reads_and_writes_the_same_records(self):
        with Context("pva") as pva:
            pva.put(self.pv("CH5:Delay"), 5555, wait=True)
            self.settle()
            self.assertEqual(self.state()["delay5"], "555500")
            self.assertEqual(pva.get(self.pv("CH5:Delay_RBV")), 5555)
            self.assertEqual(pva.get(self.pv("Temperature")), 25.0)
            self.assertEqual(pva.get(self.pv("Connected")), 1)

    def test_a_put_with_callback_completes_once_the_instrument_acknowledged(self):
        self.sim.control.command("fault delay=400")
        took = self.put("CH2:Delay", 222)
        self.assertGreaterEqual(took, 0.4)
        self.assertEqual(self.state()["delay2"], "22200", "acknowledged before the put completed")

    def test_the_limits_are_the_librarys_and_nothing_beyond_them_is_sent(self):
        # Channel Access carries a 64-bit field as a double.
        self.assertEqual((self.get("CH1:Delay.DRVL"), self.get("CH1:Delay.DRVH")), (0, float(MAX_TIMING)))
        self.assertEqual(self.get("TriggerFrequency.DRVH"), 250000000.0)
        self.assertEqual(self.get("CH1:Delay.EGU"), "units")
        self.assertEqual(self.get("Temperature.EGU"), "degC")
        self.assertTrue(self.get("CH1:Delay.DESC"))
        # A value past DRVH reaches the instrument as DRVH, as an EPICS output record drives it.
        self.put("CH1:Delay", 2 ** 62)
        self.assertEqual(self.state()["delay1"], str(MAX_TIMING * 100))
        # The frequency's lowest limit is not one the instrument takes: refused, nothing sent.
        before = self.sim.control.command("requests")
        self.put("TriggerFrequency", 0.0)
        self.assertEqual(self.sim.control.command("requests"), before)
        self.assertEqual(self.alarm("TriggerFrequency"), (INVALID, WRITE))
        self.assertIn("internal trigger frequency", self.get("LastError", as_string=True))

    def test_a_refusal_and_a_lost_reply_are_alarms(self):
        self.put("CH2:Delay", 500)
        self.settle()
        self.sim.control.command("fault refuse")
        self.put("CH2:Delay", 600)
        self.assertEqual(self.get("CH2:Delay"), 500, "refused: the value as it was")
        self.assertEqual(self.alarm("CH2:Delay"), (INVALID, WRITE))
        self.assertIn("refused the delay setting", self.get("LastError", as_string=True))
        self.put("CH2:Delay", 700)
        self.assertEqual(self.alarm("CH2:Delay"), (0, 0), "a success clears it")
        self.settle()
        self.sim.control.command("fault silent")
        self.put("CH2:Delay", 800)
        # The instrument may have taken it: shown as written, INVALID until the next success.
        self.assertEqual((self.get("CH2:Delay"), self.alarm("CH2:Delay")), (800, (INVALID, WRITE)))
        self.assertEqual(self.state()["delay2"], "80000")

    def test_setup_and_apply_setup_round_trip(self):
        document = {"varek_setup": 1, "trigger": {"mode": 2, "frequency": 500},
                    "channels": {"6": {"delay": 606, "pulse_width": 60, "output": True}}, "global_output": True}
        self.put("ApplySetup", json.dumps(document))
        self.settle()
        state = self.state()
        self.assertEqual((state["delay6"], state["width6"], state["on6"], state["trigger"], state["global"]),
                         ("60600", "6000", "1", "3", "1"))
        setup = json.loads(self.get("Setup", as_string=True))
        self.assertEqual(setup["channels"]["6"], document["channels"]["6"])
        self.assertEqual((setup["trigger"], setup["global_output"]), (document["trigger"], True))
        self.assertEqual((self.get("TriggerMode"), self.get("CH6:Enable")), (2, 1))
        before = self.sim.control.command("requests")
        self.put("ApplySetup", '{"varek_setup": 1, "channels": {"6": {"delay": 1, "delay": 2}}}')
        self.assertIn("channels.6.delay: given twice", self.get("LastError", as_string=True))
        self.assertEqual(self.alarm("ApplySetup"), (INVALID, WRITE))
        self.assertEqual(self.sim.control.command("requests"), before, "a refused document sends nothing")

class MonitorTest(IocCase):
    ioc_args = ("--poll", "0.3")

    def test_monitors_post_on_change(self):
        events = []
        monitor = epics.PV(self.pv("Temperature"), callback=lambda value=None, **_: events.append(value))
        self.assertTrue(monitor.wait_for_connection(5))
        time.sleep(1)
        events.clear()
        self.sim.control.command("temperature 31.5")
        self.assertTrue(wait_until(lambda: 31.5 in events), events)
        time.sleep(1.5)  # five more polls, the same reading
        self.assertEqual(events, [31.5], "unchanged readings post nothing")
        monitor.disconnect()


class UnknownTest(IocCase):
    def test_what_the_instrument_cannot_report_is_undefined_until_written(self):
        for name in ("TriggerMode", "GlobalOutput", "CH1:Enable"):
            self.assertEqual(self.alarm(name)[0], INVALID, name)
        self.assertEqual(self.alarm("CH1:Delay"), (0, 0), "what it reports starts as read")


class PortTest(IocCase):
    ioc_args = ("--poll", "0.5")

    def test_the_port_hung_up_and_back(self):
        self.assertEqual(self.get("Connected"), 1)
        self.sim.control.command("hangup")
        started = time.monotonic()
        self.assertTrue(wait_until(lambda: self.get("Connected") == 0, within=3), "Connected never fell")
        self.assertLess(time.monotonic() - started, 3)
        self.assertTrue(wait_until(lambda: self.alarm("CH3:Delay_RBV") == (INVALID, COMM)))
        self.assertEqual(self.alarm("Temperature"), (INVALID, COMM))
        self.assertIn(self.link, self.get("LastError", as_string=True))
        self.sim.control.command("revive")
        self.assertTrue(wait_until(lambda: self.get("Connected") == 1, within=5), "the port never came back")
        self.assertTrue(wait_until(lambda: self.alarm("CH3:Delay_RBV") == (0, 0)))
        self.assertEqual(self.get("LastError", as_string=True), "")

    def test_a_silent_instrument_is_a_timeout(self):
        for _ in range(4):
            self.sim.control.command("fault silent")
        self.assertTrue(wait_until(lambda: self.alarm("CH3:Delay_RBV") == (INVALID, TIMEOUT), within=5))
        self.assertEqual(self.get("Connected"), 0)
        self.sim.control.command("clear")
        self.assertTrue(wait_until(lambda: self.get("Connected") == 1, within=5))


class RestartTest(IocCase):
    def test_the_state_file_across_a_restart_and_a_power_cycle(self):
        state_file = os.path.join(tempfile.mkdtemp(), "ddg.json")
        self.ioc.stop()
        ioc = self.start_ioc("--poll", "60", "--state-file", state_file)
        self.put("CH4:Delay", 4321)
        self.put("CH4:Enable", 1)
        self.put("TriggerMode", 2)
        self.put("GlobalOutput", 1)
        with open(state_file) as file:
            kept = json.load(file)
        self.assertEqual((kept["channels"]["4"]["delay"], kept["trigger"]["mode"]), (4321, 2))
        code, took, _ = ioc.stop()
        self.assertEqual(code, 0)
        self.sim.control.command("reset")  # the instrument was switched off and on
        self.start_ioc("--poll", "60", "--state-file", state_file)
        state = self.state()
        self.assertEqual((state["delay4"], state["on4"], state["trigger"], state["global"]), ("432100", "1", "3", "1"))
        self.assertEqual((self.get("TriggerMode"), self.get("CH4:Enable"), self.get("CH4:Delay")), (2, 1, 4321))
        self.assertEqual(self.alarm("TriggerMode"), (0, 0))

    def test_a_restart_without_a_state_file_sends_nothing_it_was_not_asked(self):
        self.put("CH7:Delay", 777)
        self.put("GlobalOutput", 1)
        self.ioc.stop()
        before = self.state()
        earlier = len(bytes.fromhex(self.sim.control.command("received")))
        self.start_ioc("--poll", "60")
        time.sleep(1)
        self.assertEqual(self.state(), before)
        sent = bytes.fromhex(self.sim.control.command("received"))[earlier:]
        commands = {sent[at + 4] for at in range(len(sent) - 4) if sent[at:at + 2] == b"\xeb\x90"}
        self.assertEqual(commands, {0x93, 0xC1}, "the status and temperature queries, and nothing else")
        self.assertEqual(self.get("CH7:Delay"), 777, "a setpoint the instrument reports starts as read")
        self.assertEqual(self.alarm("GlobalOutput")[0], INVALID, "one it cannot report is unknown afresh")


class StoppingTest(IocCase):
    def test_sigterm_and_sigint_end_it_within_two_seconds(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                ioc = self.ioc if sig == signal.SIGTERM else self.start_ioc("--poll", "1")
                code, took, errors = ioc.stop(sig)
                self.assertLess(took, 2.0, errors)
                self.assertEqual(code, 0, errors)
                self.assertIn("stopping, as a signal asked", errors)

    def test_without_softioc_it_says_what_to_install(self):
        self.ioc.stop()
        # Debian's own python3 has no softioc.
        result = subprocess.run(["/usr/bin/python3", "-m", "varek.epics", "--port", self.link, "--prefix", "X:"],
                                capture_output=True, text=True, timeout=60,
                                env={**os.environ, "PYTHONPATH": os.path.join(HERE, "..", "..", "python")})
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn("pip install 'varek[epics]'", result.stderr)


class UnitTest(IocCase):
    ioc_args = ("--poll", "60", "--unit", "1ns")

    def delay_settings(self):
        received = bytes.fromhex(self.sim.control.command("received"))
        return sum(1 for at in range(len(received) - 4) if received[at:at + 2] == b"\xeb\x90"
                   and received[at + 4] == 0x08)

    def test_times_in_seconds_exact_to_the_unit(self):
        self.assertEqual(self.get("CH2:Delay.EGU"), "1ns")
        self.put("CH2:DelayTime", 12.5e-6)
        self.settle()
        self.assertEqual(self.state()["delay2"], "1250000")
        self.assertEqual(self.get("CH2:Delay_RBV"), 12500)
        # The other setpoint of the field follows, sending nothing of its own.
        self.assertEqual((self.get("CH2:Delay"), self.alarm("CH2:Delay")), (12500, (0, 0)))
        self.assertEqual(self.delay_settings(), 1)
        self.assertAlmostEqual(self.get("CH2:DelayTime_RBV"), 12.5e-6, delta=1e-15)
        self.put("CH2:WidthTime", 2.5e-9)  # half a unit: refused, nothing sent
        self.assertEqual(self.alarm("CH2:WidthTime"), (INVALID, WRITE))
        self.assertIn("not a whole number of units", self.get("LastError", as_string=True))


if __name__ == "__main__":
    unittest.main(verbosity=2)
