"""The Tango device VarekDelayGenerator in PyTango's DeviceTestContext (no
database), against a simulated instrument of the test's own.

    test_tango.py VAREK_SIM          (Debian's python3, with python3-tango; VAREK_LIBRARY set)
"""
import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
SIM = sys.argv[1]
del sys.argv[1:]

import tango  # noqa: E402
from tango.test_context import DeviceTestContext  # noqa: E402

from sim_process import SimProcess  # noqa: E402
from tango_round_trip import write_and_read_back_every_attribute  # noqa: E402
from varek.tango import VarekDelayGenerator  # noqa: E402


class TangoDeviceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A fixed link, so that the port keeps its name when the line comes back.
        link = os.path.join(tempfile.mkdtemp(), "ttyVAREK")
        cls.sim = SimProcess([SIM, "--link", link])
        cls.context = DeviceTestContext(VarekDelayGenerator, properties={"Port": link, "Unit": "1ns"}, process=True)
        cls.device = cls.context.__enter__()
        # The device polls its temperature and state itself (the Tango system
        # test covers that); here every request the simulator sees is a test's own.
        cls.device.stop_poll_attribute("Temperature")
        cls.device.stop_poll_command("State")

    @classmethod
    def tearDownClass(cls):
        cls.context.__exit__(None, None, None)
        cls.sim.stop()

    def command(self, line):
        return self.sim.control.command(line)

    def state(self):
        return self.sim.control.state()

    def setUp(self):
        self.command("reset")
        if self.device.state() != tango.DevState.ON:
            self.device.Init()

    def test_every_attribute_written_and_read_back(self):
        d = self.device
        write_and_read_back_every_attribute(self, d, 1000, 10, lambda channel: channel % 2 == 0, 2000.0, 2)
        self.assertEqual(d.Temperature, 25.0)
        d.Fire()
        state = self.state()
        self.assertEqual((state["delay3"], state["width8"], state["on4"], state["on5"]), ("300000", "8000", "1", "0"))
        self.assertEqual((state["word"], state["global"], state["trigger"], state["fired"]), ("125000", "1", "3", "1"))
        self.assertEqual(d.state(), tango.DevState.ON)

    def test_the_limits_are_the_librarys(self):
        config = self.device.get_attribute_config("Delay1")
        self.assertEqual((config.min_value, config.max_value), ("0", "184467440737095516"))
        self.assertIn("cannot report", self.device.get_attribute_config("Output1").description)

    def test_one_status_read_serves_all_the_channel_attributes(self):
        before = int(self.command("requests"))
        names = [f"{kind}{c}" for kind in ("Delay", "PulseWidth") for c in range(1, 9)] + ["InternalTriggerFrequency"]
        self.device.read_attributes(names)
        self.assertEqual(int(self.command("requests")) - before, 1)

    def test_a_rejected_value_names_itself_and_leaves_the_state(self):
        # Tango lets the lowest frequency through (its minimum is inclusive); the library refuses it.
        lowest = float(self.device.get_attribute_config("InternalTriggerFrequency").min_value)
        with self.assertRaises(tango.DevFailed) as raised:
            self.device.InternalTriggerFrequency = lowest
        self.assertEqual(raised.exception.args[0].reason, "VarekArgumentRejected")
        self.assertIn("internal trigger frequency", raised.exception.args[0].desc)
        for name, value in (("Delay1", -1), ("InternalTriggerFrequency", float("nan"))):
            with self.assertRaises(tango.DevFailed):
                self.device.write_attribute(name, value)
        self.assertEqual(self.device.state(), tango.DevState.ON)
        self.assertEqual(self.command("received"), "")

    def test_fault_with_its_reason_and_on_again_after_init(self):
        self.command("fault silent")
        with self.assertRaises(tango.DevFailed):
            self.device.Fire()
        self.assertEqual(self.device.state(), tango.DevState.FAULT)
        self.assertIn("nothing arrived from", self.device.status())
        self.device.Init()
        self.assertEqual(self.device.state(), tango.DevState.ON)

        self.command("hangup")
        with self.assertRaises(tango.DevFailed):
            self.device.Fire()
        self.assertEqual(self.device.state(), tango.DevState.FAULT)
        self.assertRegex(self.device.status(), "failed|unplugged")
        self.command("revive")
        self.device.Init()
        self.assertEqual(self.device.state(), tango.DevState.ON)
        self.device.Fire()


    def test_setups_saved_and_applied_with_what_only_the_device_knows(self):
        d = self.device
        d.Delay2 = 222
        d.Output2 = True
        d.TriggerMode = 1
        saved = json.loads(d.SaveSetup())
        self.assertEqual(saved["unit"], "1ns")
        self.assertEqual(saved["trigger"]["mode"], 1)
        self.assertEqual(saved["channels"]["2"], {"delay": 222, "pulse_width": 0, "output": True})
        d.Delay2 = 5
        d.Output2 = False
        d.ApplySetup(json.dumps(saved))
        state = self.state()
        self.assertEqual((state["delay2"], state["on2"], state["trigger"]), ("22200", "1", "2"))
        self.assertTrue(d.Output2)
        with self.assertRaises(tango.DevFailed) as refused:
            d.ApplySetup('{"varek_setup": 1, "channels": {"2": {"delay": 1, "delay": 2}}}')
        self.assertEqual(refused.exception.args[0].reason, "VarekArgumentRejected")
        self.assertIn("channels.2.delay: given twice", refused.exception.args[0].desc)
        self.assertEqual(self.state()["delay2"], "22200")

    def test_a_value_whose_reply_was_lost_reads_as_unknown(self):
        d = self.device
        d.Output3 = True
        self.command("fault refuse")
        with self.assertRaises(tango.DevFailed):
            d.Output3 = False
        self.assertEqual((d.Output3, self.state()["on3"]), (True, "1"), "refused: as it was")
        self.device.Init()
        self.command("fault silent")
        with self.assertRaises(tango.DevFailed):
            d.Output3 = False
        self.assertEqual(d.read_attribute("Output3").quality, tango.AttrQuality.ATTR_INVALID)
        self.assertEqual(self.state()["on3"], "0", "the instrument took it")
        self.device.Init()
        # A setup stopped after the global output went off leaves it known as off.
        d.GlobalOutput = True
        self.command("fault")
        self.command("fault refuse")
        with self.assertRaises(tango.DevFailed):
            d.ApplySetup('{"varek_setup": 1, "channels": {"3": {"delay": 3}}}')
        self.assertEqual((d.GlobalOutput, self.state()["global"]), (False, "0"))

    def test_the_declared_unit_is_the_timing_attributes_unit(self):
        self.assertEqual(self.device.get_attribute_config("Delay3").unit, "1ns")
        self.assertEqual(self.device.get_attribute_config("PulseWidth8").unit, "1ns")


class UnknownValuesTest(unittest.TestCase):
    def test_values_never_written_read_as_invalid_not_as_a_default(self):
        sim = SimProcess([SIM, "--listen", "127.0.0.1:0"])
        self.addCleanup(sim.stop)
        with DeviceTestContext(VarekDelayGenerator, properties={"Port": sim.device}, process=True) as device:
            for name in ("TriggerMode", "GlobalOutput", "Output1"):
                self.assertEqual(device.read_attribute(name).quality, tango.AttrQuality.ATTR_INVALID, name)
            device.TriggerMode = 2
            self.assertEqual(device.read_attribute("TriggerMode").quality, tango.AttrQuality.ATTR_VALID)
            self.assertIsNone(json.loads(device.SaveSetup())["global_output"])


class TangoNetworkPortTest(unittest.TestCase):
    """The device's Port naming an instrument behind a terminal server: the
    simulator on a TCP port of its own, as one in raw mode offers it."""

    def test_port_socket_url(self):
        sim = SimProcess([SIM, "--listen", "127.0.0.1:0"])
        self.addCleanup(sim.stop)
        with DeviceTestContext(VarekDelayGenerator, properties={"Port": sim.device}, process=True) as device:
            self.assertEqual(device.state(), tango.DevState.ON)
            device.Delay4 = 4321
            self.assertEqual(device.Delay4, 4321)
            device.Fire()
        state = sim.control.state()
        self.assertEqual((state["delay4"], state["fired"]), ("432100", "1"))


class ServerNameTest(unittest.TestCase):
    def test_the_server_registers_under_one_name_however_it_is_started(self):
        # python3 -m varek.tango lab1 would be "tango/lab1" by the program's
        # own name; the manual registers varek-tango-server/lab1.
        import tango.server
        from varek import tango as device_module
        seen = {}
        original = tango.server.run
        tango.server.run = lambda classes, args=None, **options: seen.setdefault("args", args)
        try:
            device_module.main(["/usr/lib/python3/dist-packages/varek/tango.py", "lab1", "-v4"])
        finally:
            tango.server.run = original
        self.assertEqual(seen["args"], ["varek-tango-server", "lab1", "-v4"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
