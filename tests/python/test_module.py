"""The varek Python module against the simulated instrument named by
VAREK_SIM_C_PORT, with the library named by VAREK_LIBRARY."""
import errno
import os
import re
import socket
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from fake_device_tree import build_fake_device_tree  # noqa: E402
from sim_process import SimControl  # noqa: E402
from varek import (OpenFailure, Outcome, PortInfo, TimingConfig, Varek, VarekApplyError,  # noqa: E402
                   VarekArgumentError, VarekError, VarekOpenError, check_setup, limits, list_ports)

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
            self.assertEqual(str(raised.exception), "set_delay(9, 5): nothing sent: channel 9 is outside 1..8")
            self.assertEqual(raised.exception.reason, "nothing sent: channel 9 is outside 1..8")
            self.assertIsInstance(raised.exception, VarekArgumentError)
            self.assertIsInstance(raised.exception, ValueError)
            self.assertEqual((raised.exception.code, raised.exception.outcome), (-2, Outcome.ARGUMENT_REJECTED))
            ddg.software_trigger()  # still usable
            self.assertEqual(ddg.last_outcome(), Outcome.SUCCEEDED)

    def test_closed_connection_says_so(self):
        ddg = Varek(PORT)
        ddg.close()
        with self.assertRaises(VarekError) as raised:
            ddg.software_trigger()
        self.assertEqual(raised.exception.code, -1)
        self.assertIn("closed", str(raised.exception))

    def test_an_instrument_failure_carries_its_outcome(self):
        sim = SimControl(os.environ["VAREK_SIM_CONTROL"])
        try:
            with Varek(PORT) as ddg:
                for fault, outcome in (("silent", Outcome.NOTHING_ARRIVED), ("checksum", Outcome.BAD_CHECKSUM),
                                       ("refuse", Outcome.REFUSED)):
                    sim.command("fault " + fault)
                    with self.assertRaises(VarekError) as raised:
                        ddg.software_trigger()
                    self.assertNotIsInstance(raised.exception, VarekArgumentError)
                    self.assertEqual(raised.exception.outcome, outcome, fault)
        finally:
            sim.close()

    def test_a_port_that_does_not_open_says_why(self):
        for name, reason in (("/dev/varek-no-such-port", "cannot open /dev/varek-no-such-port: no such port"),
                             ("usb:0403", "a USB port is named usb:VID:PID or usb:VID:PID:SERIAL"),
                             ("usb:ffff:fffe", "no USB serial port matches usb:ffff:fffe")):
            with self.subTest(name=name):
                with self.assertRaises(VarekOpenError) as raised:
                    Varek(name)
                self.assertIsInstance(raised.exception, OSError)
                self.assertIn(reason, raised.exception.reason)
                self.assertEqual(raised.exception.outcome, Outcome.OPEN_FAILED)
        with Varek(PORT) as held:
            with self.assertRaises(VarekOpenError) as raised:
                Varek(PORT)
            self.assertIn("busy: another program holds it", str(raised.exception))
            held.software_trigger()

    def test_why_a_port_did_not_open_is_data(self):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            free = probe.getsockname()[1]
        cases = [("/dev/varek-no-such-port", OpenFailure.NO_SUCH_PORT, errno.ENOENT, FileNotFoundError),
                 (f"socket://127.0.0.1:{free}", OpenFailure.CONNECT_REFUSED, errno.ECONNREFUSED,
                  ConnectionRefusedError),
                 ("usb:ffff:fffe", OpenFailure.NO_SUCH_PORT, None, None),
                 ("usb:0403", OpenFailure.NAME_MALFORMED, None, None)]
        for name, failure, number, builtin in cases:
            with self.subTest(name=name):
                with self.assertRaises(VarekOpenError) as raised:
                    Varek(name)
                self.assertEqual((raised.exception.failure, raised.exception.errno), (failure, number))
                if builtin:
                    self.assertIsInstance(raised.exception, builtin)
        with Varek(PORT):
            try:
                Varek(PORT)
            except OSError as busy:  # caught as any OSError is
                self.assertIsInstance(busy, VarekOpenError)
                self.assertEqual((busy.failure, busy.errno), (OpenFailure.BUSY, errno.EBUSY))
            else:
                self.fail("a held port opened twice")

    def test_the_numberings_are_the_c_headers(self):
        header = os.path.join(os.path.dirname(__file__), "..", "..", "include", "varek", "varek_ext.h")
        with open(header) as text:
            defines = dict(re.findall(r"^#define VAREKX_((?:OUTCOME|OPEN)_\w+) (\d+)", text.read(), re.MULTILINE))
        in_header = {(key.split("_", 1)[0], key.split("_", 1)[1], int(number)) for key, number in defines.items()}
        in_python = ({("OUTCOME", member.name, member.value) for member in Outcome} |
                     {("OPEN", member.name, member.value) for member in OpenFailure})
        self.assertEqual(in_python, in_header)

    def test_ports_listed_and_opened_by_usb_identity(self):
        with tempfile.TemporaryDirectory() as root:
            environment = build_fake_device_tree(root, PORT)
            saved = {key: os.environ.get(key) for key in environment}
            os.environ.update(environment)
            try:
                ports = list_ports()
                dev = environment["VAREK_DEV_ROOT"]
                self.assertEqual([port.name for port in ports],
                                 [f"{dev}/ttyACM0", f"{dev}/ttyS0", f"{dev}/ttyUSB2", f"{dev}/ttyUSB10"])
                self.assertEqual(ports[2], PortInfo(f"{dev}/ttyUSB2", "FT232R USB UART", "0403", "6001", "A1B2C3",
                                                    "FTDI", "FT232R USB UART", "1-2:1.0",
                                                    f"{dev}/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0",
                                                    "usb:0403:6001:A1B2C3"))
                self.assertEqual((ports[0].locator, ports[1].locator), ("usb:2341:0043", ""))
                with Varek("usb:0403:6001:A1B2C3") as ddg:
                    ddg.set_delay(1, 4321)
                    self.assertEqual(ddg.read_timing_config(1).delay, 4321)
                with self.assertRaises(VarekOpenError) as raised:
                    Varek("usb:0403:6001")
                self.assertIn("2 USB serial ports match usb:0403:6001", str(raised.exception))
            finally:
                for key, value in saved.items():
                    if value is None:
                        os.environ.pop(key, None)
                    else:
                        os.environ[key] = value

    def test_setups_read_applied_and_verified(self):
        sim = SimControl(os.environ["VAREK_SIM_CONTROL"])
        self.addCleanup(sim.close)
        sim.command("reset")
        with Varek(PORT, unit="1ns") as ddg:
            ddg.set_delay(4, 4000)
            saved = ddg.read_setup()
            self.assertEqual(saved["unit"], "1ns")
            self.assertEqual(saved["channels"]["4"], {"delay": 4000, "pulse_width": 0, "output": None})
            self.assertIsNone(saved["trigger"]["mode"])
            ddg.set_delay(4, 1)
            saved["channels"]["4"]["output"] = True
            saved["global_output"] = True
            ddg.apply_setup(saved)
            state = sim.state()
            self.assertEqual((state["delay4"], state["on4"], state["global"]), ("400000", "1", "1"))
            with self.assertRaises(VarekArgumentError) as refused:
                ddg.apply_setup({"varek_setup": 1, "channels": {"4": {"delay": -5}}})
            self.assertIn("channels.4.delay: delay -5 is outside", str(refused.exception))
            self.assertEqual(sim.state()["delay4"], "400000", "a refused document sends nothing")
            sim.command("fault ignore")
            with self.assertRaises(VarekError) as differs:
                ddg.apply_setup('{"varek_setup": 1, "channels": {"2": {"pulse_width": 9}}}')
            self.assertIn("channels.2.pulse_width: sent 9, read 0", str(differs.exception))
            self.assertEqual(differs.exception.taken["channels"]["2"]["pulse_width"], 9)
            # The output goes off before the timing; the delay's reply is lost, though the instrument took it.
            sim.command("fault")
            sim.command("fault silent")
            with self.assertRaises(VarekApplyError) as lost:
                ddg.apply_setup({"varek_setup": 1, "global_output": True, "channels": {"5": {"delay": 50}}})
            self.assertEqual(lost.exception.outcome, Outcome.NOTHING_ARRIVED)
            self.assertEqual(lost.exception.taken["global_output"], False)
            self.assertEqual(lost.exception.uncertain["channels"]["5"]["delay"], 50)
            self.assertIsNone(lost.exception.uncertain["global_output"])
            self.assertEqual((sim.state()["global"], sim.state()["delay5"]), ("0", "5000"))
            sim.command("fault silent")
            with self.assertRaises(VarekError) as silent:
                ddg.read_setup()
            self.assertEqual(silent.exception.outcome, Outcome.NOTHING_ARRIVED)
        with self.assertRaises(VarekArgumentError):
            check_setup({"varek_setup": 1, "unit": "parsecs"})

    def test_times_in_the_declared_unit(self):
        with Varek(PORT, unit="10ps") as ddg:
            ddg.set_delay_time(1, "12.5us")
            ddg.set_pulse_width_time(1, 2e-9)
            self.assertEqual(ddg.read_timing_config(1)[:2], (1250000, 200))
            self.assertEqual(ddg.format_time(1250000), "12.5 us")
            with self.assertRaises(VarekArgumentError) as uneven:
                ddg.set_delay_time(1, "15ps")
            self.assertIn("not a whole number of units of 10ps", str(uneven.exception))
        with Varek(PORT) as plain:
            self.assertEqual(plain.format_time(1250000), "1250000")
            with self.assertRaises(VarekArgumentError):
                plain.set_delay_time(1, "1us")
        with self.assertRaises(VarekArgumentError):
            Varek(PORT, unit="fortnight")

    def test_limits_come_from_the_library(self):
        self.assertEqual(limits()[4:], (3, 115200))
        self.assertEqual(limits().channel_count, 8)


if __name__ == "__main__":
    unittest.main()
