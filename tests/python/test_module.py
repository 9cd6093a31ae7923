"""The varek Python module against the simulated instrument named by
VAREK_SIM_C_PORT, with the library named by VAREK_LIBRARY."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))
from varek import TimingConfig, Varek, VarekError  # noqa: E402

PORT = os.environ["VAREK_SIM_C_PORT"]


class VarekModuleTest(unittest.TestCase):
    def test_every_operation_round_trips(self):
        with Varek(PORT) as ddg:
            ddg.set_trigger(1)
            ddg.set_trigger_freq(1000)
            ddg.set_output_channel(2, True)
            ddg.set_delay(2, 2**35)
            ddg.set_pulse_width(2, 640)
            ddg.set_global_output(True)
            ddg.software_trigger()
            self.assertEqual(ddg.read_temperature(), 25.0)
            self.assertEqual(ddg.read_timing_config(2), TimingConfig(2**35, 640, 1, 1000.0))

    def test_one_status_read_gives_every_channel(self):
        with Varek(PORT) as ddg:
            ddg.set_delay(5, 777)
            ddg.set_pulse_width(8, 33)
            status = ddg.read_status()
        self.assertEqual(len(status.delay), 8)
        self.assertEqual((status.delay[4], status.pulse_width[7], status.value_a[4]), (777, 33, 777))
        self.assertEqual(status.reg128, 8)
        self.assertEqual(status.reg276, 25.0)

    def test_failure_names_the_operation(self):
        with Varek(PORT) as ddg:
            with self.assertRaises(VarekError) as raised:
                ddg.set_delay(9, 5)
            self.assertEqual(str(raised.exception), "set_delay(9, 5): channel 9 is outside 1..8")
            self.assertEqual(raised.exception.reason, "channel 9 is outside 1..8")
            self.assertIsInstance(raised.exception, ValueError)
            self.assertEqual(raised.exception.code, -2)
            ddg.software_trigger()  # still usable

    def test_closed_connection_says_so(self):
        ddg = Varek(PORT)
        ddg.close()
        with self.assertRaises(VarekError) as raised:
            ddg.software_trigger()
        self.assertEqual(raised.exception.code, -1)
        self.assertIn("closed", str(raised.exception))

    def test_missing_port_raises_oserror(self):
        with self.assertRaises(OSError):
            Varek("/dev/varek-no-such-port")


if __name__ == "__main__":
    unittest.main()
