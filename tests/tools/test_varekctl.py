"""varekctl as a lab engineer meets it: exit codes and messages of every
failure path, scripts, output formats, help. Runs the program (under the
given emulator: Wine for the Windows build, qemu-user for an ARM one)
against the simulated instrument that run_with_sim.sh started.

    test_varekctl.py VAREKCTL [EMULATOR]
"""
import fcntl
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAM = sys.argv[1]
EMULATOR = sys.argv[2:3]
UNDER_WINE = PROGRAM.endswith(".exe")
PORT = os.environ["VAREK_SIM_C_PORT"]
del sys.argv[1:]
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from fake_device_tree import build_fake_device_tree  # noqa: E402
from sim_process import SimControl  # noqa: E402


def varekctl(*args, port=PORT, stdin=None, env=None):
    command = EMULATOR + [PROGRAM] + (["--port", port] if port else []) + list(args)
    environment = {key: value for key, value in os.environ.items() if key != "VAREK_PORT"}
    environment.update(env or {})
    return subprocess.run(command, capture_output=True, text=True, input=stdin, timeout=60, env=environment)


class VarekctlTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = SimControl(os.environ["VAREK_SIM_CONTROL"])

    def setUp(self):
        self.sim.command("reset")

    def assertFails(self, result, code, *phrases):
        self.assertEqual(result.returncode, code, result.stderr)
        for phrase in phrases:
            self.assertIn(phrase, result.stderr)

    def test_usage_errors_exit_2_and_send_nothing(self):
        cases = [
            (["delay", "9", "5"], "channel 9 is outside 1..8"),
            (["enable", "0", "on"], "channel 0 is outside 1..8"),
            (["delay", "1", "-5"], "delay -5 is outside 0..184467440737095516"),
            (["width", "1", "184467440737095517"], "pulse width 184467440737095517 is outside 0..184467440737095516"),
            (["delay", "1", "1e3"], 'a delay: "1e3" is neither a whole number of units nor a time such as 12.5us'),
            (["enable", "2", "maybe"], "expected on or off, got maybe"),
            (["freq", "0"], "internal trigger frequency 0 must be above 0.05820766 and at most 250000000"),
            (["freq", "250000000.1"], "internal trigger frequency 250000000.1 must be above"),
            (["trigger-mode", "3"], "trigger mode 3 is not one of 0, 1, 2"),
            (["raw", "0x100", "0"], "CMD must be 0..255"),
            (["raw", "0x14", "0", "1FF"], "payload byte must be 0..255"),
            (["delay", "1"], "usage: delay CH VALUE"),
            (["bogus"], "unknown command bogus"),
            ([], "no command given"),
            (["--baud", "fast", "fire"], "--baud takes a baud rate, a positive whole number, got fast"),
            (["--baud", "0", "fire"], "--baud takes a baud rate, a positive whole number, got 0"),
            (["--verbose", "fire"], "unknown option --verbose"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                self.assertFails(varekctl(*args), 2, message)
        self.assertEqual(self.sim.command("received"), "")

    def test_the_limits_themselves_are_accepted(self):
        for args in (["delay", "1", "184467440737095516"], ["width", "8", "0"], ["enable", "8", "on"],
                     ["freq", "250000000"]):
            with self.subTest(args=args):
                result = varekctl(*args)
                self.assertEqual(result.returncode, 0, result.stderr)
        state = self.sim.command("state")
        for expected in ("delay1=18446744073709551600", "on8=1", "word=1"):
            self.assertIn(expected, state)

    def test_numbers_are_decimal_and_hexadecimal_only_after_0x(self):
        self.assertEqual(varekctl("delay", "1", "010").returncode, 0)
        self.assertEqual(varekctl("width", "2", "0x10").returncode, 0)
        state = self.sim.command("state")
        self.assertIn("delay1=1000 ", state)
        self.assertIn("width2=1600 ", state)

    def test_a_port_that_does_not_exist(self):
        port = "COM250" if UNDER_WINE else "/dev/varek-no-such-port"
        self.assertFails(varekctl("fire", port=port), 1, f"cannot open {port}: no such port", "varekctl ports")

    @unittest.skipIf(UNDER_WINE, "Wine enforces no share mode on devices")
    def test_a_port_another_program_holds(self):
        with open(PORT, "rb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            self.assertFails(varekctl("fire"), 1, f"cannot open {PORT}: busy: another program holds it")

    def test_every_failure_says_what_was_seen(self):
        cases = [
            ("silent", ["fire"], f"software trigger: nothing arrived from {PORT} within 1000 ms: "
                                 "is the instrument on, and on this port?"),
            ("reply=00FF3AEB00", ["temp"], f"reading the temperature: 5 bytes arrived from {PORT} but no frame "
                                           "(first bytes: 00 FF 3A EB 00): is it at 115200 baud, and is this the "
                                           "instrument?"),
            ("reply=EB900A0014010000", ["fire"], f"incomplete reply from {PORT}: 8 of 14 bytes within 1000 ms"),
            ("reply=EB9006001401009701CC", ["fire"], f"damaged reply from {PORT}: checksum 0x0197, computed 0x0196"),
            ("tail", ["fire"], f"damaged reply from {PORT}: tail byte 0x"),
            ("short-length", ["fire"], f"damaged reply from {PORT}: length field 5"),
            ("refuse", ["fire"], f"software trigger: the instrument on {PORT} refused the software trigger "
                                 "(reply parameter 0x0000)"),
            ("refuse", ["delay", "2", "10"], f"channel 2 delay 10: the instrument on {PORT} refused the delay "
                                             "setting (reply parameter 0x0000)"),
            ("refuse", ["temp"], f"short reply from {PORT} to the temperature query: 0 payload bytes, 4 needed"),
        ]
        for fault, args, message in cases:
            with self.subTest(fault=fault, args=args):
                self.sim.command("fault " + fault)
                result = varekctl(*args)
                self.assertFails(result, 1, message)
                if "refuse" in fault:
                    self.assertNotIn("within", result.stderr)
                    self.assertNotIn("damaged", result.stderr)
                if fault == "silent":
                    self.assertNotIn("refus", result.stderr)

    def test_trace_shows_request_chunks_reply_and_outcome(self):
        self.sim.command("fault split=2,30")
        result = varekctl("--trace", "fire")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stderr.splitlines()
        self.assertEqual(lines[0], "trace: request EB 90 06 00 14 00 00 95 01 CC")
        reads = [line for line in lines if re.match(r"trace: \+\d+ ms read ", line)]
        self.assertGreaterEqual(len(reads), 2)
        self.assertEqual(" ".join(line.split(" read ")[1] for line in reads), "EB 90 06 00 14 01 00 96 01 CC")
        self.assertGreaterEqual(int(re.search(r"\+(\d+) ms", reads[-1]).group(1)), 20)
        self.assertIn("trace: reply EB 90 06 00 14 01 00 96 01 CC", lines)
        self.assertEqual(lines[-1], "trace: ok")

        self.sim.command("fault silent")
        result = varekctl("--trace", "run", "-", stdin="temp\n")
        self.assertIn("trace: request EB 90 06 00 93 00 00 14 02 CC", result.stderr)
        self.assertIn(f"trace: nothing arrived from {PORT}", result.stderr)

    def test_setters_confirm_and_reach_the_instrument(self):
        for args in (["delay", "3", "12345"], ["width", "3", "500"], ["enable", "3", "on"], ["output", "on"],
                     ["freq", "1000"], ["trigger-mode", "2"], ["fire"]):
            result = varekctl(*args)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertTrue(result.stdout.startswith("ok: "), result.stdout)
        state = self.sim.command("state")
        for expected in ("delay3=1234500", "width3=50000", "on3=1", "global=1", "word=250000", "trigger=3",
                         "fired=1"):
            self.assertIn(expected, state)

    def test_status_and_temperature_as_table_and_json(self):
        self.assertEqual(varekctl("delay", "8", "77").returncode, 0)
        table = varekctl("status", "all")
        self.assertEqual(table.returncode, 0, table.stderr)
        timing = table.stdout.split("raw status")[0]
        rows = [line.split() for line in timing.splitlines() if line.strip()[:1].isdigit()]
        self.assertEqual([row[0] for row in rows], [str(c) for c in range(1, 9)])
        self.assertEqual(rows[7][1], "77")
        self.assertEqual(json.loads(varekctl("temp", "--json").stdout), {"temperature": 25})
        self.assertEqual(varekctl("temp").stdout.strip(), "temperature: 25.00")

    def test_json_status_reports_every_field_the_instrument_holds(self):
        script = "delay 3 12345\nwidth 3 678\nenable 3 on\nenable 5 on\noutput on\nfreq 2000\n" \
                 "trigger-mode 2\nfire\nfire\n"
        self.assertEqual(varekctl("run", "-", stdin=script).returncode, 0)
        self.sim.command("temperature 31.5")
        result = varekctl("--json", "status", "all")
        self.assertEqual(result.returncode, 0, result.stderr)
        status = json.loads(result.stdout)
        state = dict(word.split("=") for word in self.sim.command("state").split())
        self.assertEqual(status["port"], PORT)
        # The 250 MHz clock written out on purpose: an independent check.
        self.assertEqual(status["internal_trigger_freq"], 1e9 / (int(state["word"]) * 4))
        self.assertEqual(status["reg128"], 8)
        self.assertEqual(status["reg130"], int(state["trigger"]))
        self.assertEqual(status["reg131"], int(state["global"]))
        self.assertEqual(status["reg136"], int(state["fired"]) % 256)
        self.assertEqual(status["reg137"], sum(1 << (c - 1) for c in range(1, 9) if state[f"on{c}"] == "1"))
        self.assertEqual(status["reg138"], 0x0102)
        self.assertEqual(status["reg276"], float(state["temperature"]))
        self.assertEqual(len(status["channels"]), 8)
        for channel in status["channels"]:
            c = channel["channel"]
            delay, width = int(state[f"delay{c}"]), int(state[f"width{c}"])
            self.assertEqual(channel, {"channel": c, "delay": delay // 100, "pulse_width": width // 100,
                                       "chan_value_a": (delay + width) // 100, "chan_value_b": 0})
        self.assertEqual(status["channels"][2]["delay"], 12345)
        self.assertEqual(status["reg137"], 0b10100)

    def test_save_change_load_and_diff_round_trip(self):
        folder = tempfile.mkdtemp()
        saved = os.path.join(folder, "setup.json")
        self.assertEqual(varekctl("run", "-", stdin="delay 3 12345\nwidth 3 500\nfreq 2000\n").returncode, 0)
        result = varekctl("--unit", "1ns", "save", saved)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(saved) as file:
            document = json.load(file)
        self.assertEqual(document["unit"], "1ns")
        self.assertEqual(document["trigger"], {"mode": None, "frequency": 2000})
        self.assertEqual(document["channels"]["3"], {"delay": 12345, "pulse_width": 500, "output": None})
        self.assertIsNone(document["global_output"])
        self.assertEqual(json.loads(varekctl("save", "-").stdout)["channels"]["3"]["delay"], 12345)

        self.assertEqual(varekctl("run", "-", stdin="delay 3 12000\nwidth 7 9\n").returncode, 0)
        diff = varekctl("diff", saved)
        self.assertFails(diff, 3, "2 field(s) of")
        self.assertEqual(diff.stdout.splitlines(), ["channel 3 delay: file 12345, instrument 12000",
                                                    "channel 7 pulse width: file 0, instrument 9"])
        loaded = varekctl("load", saved)
        self.assertEqual(loaded.returncode, 0, loaded.stderr)
        self.assertIn("applied and read back", loaded.stdout)
        self.assertEqual((self.sim.state()["delay3"], self.sim.state()["width7"]), ("1234500", "0"))
        same = varekctl("diff", "-", stdin=json.dumps(document))
        self.assertEqual(same.returncode, 0, same.stderr)
        self.assertIn("the instrument matches the standard input", same.stdout)

        # What the instrument cannot report is applied, and named as not compared.
        document.update(global_output=True, trigger={"mode": 2, "frequency": None})
        document["channels"]["1"]["output"] = True
        self.assertEqual(varekctl("load", "--no-verify", "-", stdin=json.dumps(document)).returncode, 0)
        state = self.sim.state()
        self.assertEqual((state["global"], state["trigger"], state["on1"]), ("1", "3", "1"))
        listed = varekctl("diff", "-", stdin=json.dumps(document)).stdout
        self.assertIn("not compared (the instrument cannot report them): trigger.mode, channels.1.output, "
                      "global_output", listed)

    def test_a_bad_setup_names_the_field_and_sends_nothing(self):
        cases = [
            ('{"varek_setup": 1, "channels": {"3": {"delay": -1}}}', "channels.3.delay: delay -1 is outside"),
            ('{"varek_setup": 1, "trigger": {"frequency": "fast"}}', "trigger.frequency: a number or null"),
            ('{"varek_setup": 1, "channels": {"2": {"output": true, "output": false}}}', "channels.2.output: given twice (line 1, column 55)"),
            ('{"varek_setup": 1, "channel": {}}', "channel: unknown field"),
            ("delay 3 5", "not JSON: line 1, column 1"),
        ]
        for text, phrase in cases:
            for command in ("load", "diff"):
                with self.subTest(command=command, text=text):
                    self.assertFails(varekctl(command, "-", stdin=text), 2, "the standard input: " + phrase)
        self.assertFails(varekctl("load", "/no/such/setup.json"), 2, "cannot read setup /no/such/setup.json")
        self.assertEqual(self.sim.command("received"), "")

    def test_a_load_that_does_not_read_back_fails(self):
        self.sim.command("fault ignore")
        result = varekctl("load", "-", stdin='{"varek_setup": 1, "channels": {"6": {"delay": 66}}}')
        self.assertFails(result, 1, "the instrument reads back otherwise", "channel 6 delay: sent 66, instrument 0")

    def test_times_in_a_declared_unit(self):
        result = varekctl("--unit", "10ps", "run", "-", stdin="delay 2 12.5us\nwidth 2 30 ns\n")
        self.assertFails(result, 2, "line 2")  # "30 ns" is two words on a script line
        self.assertEqual(varekctl("--unit", "10ps", "delay", "2", "12.5us").returncode, 0)
        self.assertEqual(self.sim.state()["delay2"], str(1250000 * 100))
        table = varekctl("status", env={"VAREK_UNIT": "10ps"}).stdout
        self.assertRegex(table, r"\n  2 +12\.5 us +0 ps\n")
        self.assertIn("(one unit is 10ps, as declared)", table)
        self.assertFails(varekctl("--unit", "10ps", "delay", "2", "5ps"), 2, '"5ps" is not a whole number of units')
        self.assertFails(varekctl("delay", "2", "5us"), 2, "no unit is declared")
        self.assertFails(varekctl("--unit", "fast", "fire"), 2, "--unit: the unit \"fast\" is not a time")
        self.assertFails(varekctl("fire", env={"VAREK_UNIT": "3"}), 2, "VAREK_UNIT: ")
        self.assertEqual(self.sim.state()["fired"], "0")

    def test_raw_prints_request_and_reply(self):
        result = varekctl("raw", "0x14", "0")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("request: EB 90 06 00 14 00 00 95 01 CC (10 bytes)", result.stdout)
        self.assertIn("reply: EB 90 06 00 14 01 00 96 01 CC (10 bytes)", result.stdout)

    def test_raw_sends_its_payload_bytes(self):
        result = varekctl("raw", "8", "1", "F4", "0x01", "0", "0", "0", "0", "0", "0")
        self.assertEqual(result.returncode, 0, result.stderr)
        request = "EB900E000801 00F401000000000000 8702CC".replace(" ", "")
        self.assertIn("request: EB 90 0E 00 08 01 00 F4 01 00 00 00 00 00 00 87 02 CC (18 bytes)", result.stdout)
        self.assertEqual(self.sim.command("last"), request)
        self.assertIn("delay1=500 ", self.sim.command("state"))

    @unittest.skipIf(UNDER_WINE, "a Windows command line holds at most 32767 characters")
    def test_raw_payload_too_long_for_a_frame_is_a_usage_error(self):
        self.assertFails(varekctl("raw", "0x14", "0", *(["0"] * 65530)), 2,
                         "a frame carries at most 65529 payload bytes, got 65530")
        self.assertEqual(self.sim.command("received"), "")

    def test_script_is_checked_whole_before_anything_is_sent(self):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False, dir=".") as script:
            script.write("# set up\ndelay 1 100\n\nwidth 9 5   # wrong channel\nfire\n")
        try:
            name = os.path.basename(script.name)
            self.assertFails(varekctl("run", name), 2, f"{name} line 4: channel 9 is outside 1..8")
            self.assertEqual(self.sim.command("received"), "")
        finally:
            os.unlink(script.name)

    def test_script_stops_at_the_first_failure_and_names_its_line(self):
        self.sim.command("fault")          # the first request is answered as usual
        self.sim.command("fault refuse")   # the second is refused
        result = varekctl("run", "-", stdin="delay 1 100\nwidth 1 5\nfire\n")
        self.assertFails(result, 1, "- line 2: channel 1 pulse width 5: the instrument")
        self.assertIn("fired=0", self.sim.command("state"))
        self.assertIn("delay1=10000", self.sim.command("state"))

    def test_scripts_that_are_not_text_are_refused_before_anything_is_sent(self):
        cases = [
            ("delay 1 5\0junk\n", "- line 1: holds a NUL byte"),
            ("fire\n" + "x" * 5000 + "\n", "- line 2: longer than 4096 characters"),
            ("fire\nrun other.txt\n", "- line 2: scripts cannot run scripts"),
        ]
        for text, message in cases:
            with self.subTest(message=message):
                self.assertFails(varekctl("run", "-", stdin=text), 2, message)
        with tempfile.TemporaryDirectory(dir=".") as folder:
            name = os.path.basename(folder)
            self.assertFails(varekctl("run", name), 2, f"script {name} is a directory")
        if not UNDER_WINE:
            self.assertFails(varekctl("run", "/dev/zero"), 2, "/dev/zero line 1: holds a NUL byte")
        self.assertEqual(self.sim.command("received"), "")

    def test_help_for_the_tool_and_every_command(self):
        overview = varekctl("--help", port=None)
        self.assertEqual(overview.returncode, 0)
        commands = ["trigger-mode", "freq", "enable", "delay", "width", "output", "fire", "temp", "status", "raw",
                    "run", "ports", "find"]
        for command in commands:
            self.assertIn(command, overview.stdout)
            one = varekctl(command, "--help", port=None)
            self.assertEqual(one.returncode, 0, command)
            self.assertIn(f"usage: varekctl [--port PORT] [--baud N] [--unit UNIT] [--json] [--trace] {command}",
                              one.stdout)
        self.assertIn("Exit codes: 0 success; 1 the port or the instrument failed", overview.stdout)

    def test_ports_lists_without_failing(self):
        result = varekctl("ports", port=None)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIsInstance(json.loads(varekctl("--json", "ports", port=None).stdout), list)

    @unittest.skipIf(UNDER_WINE, "sysfs is Linux's")
    def test_ports_reads_usb_identity_from_the_device_tree(self):
        with tempfile.TemporaryDirectory() as root:
            env = build_fake_device_tree(root, PORT)
            dev = env["VAREK_DEV_ROOT"]
            result = varekctl("--json", "ports", port=None, env=env)
            self.assertEqual(result.returncode, 0, result.stderr)
            ports = json.loads(result.stdout)
            self.assertEqual([port["name"] for port in ports],
                             [f"{dev}/ttyACM0", f"{dev}/ttyS0", f"{dev}/ttyUSB2", f"{dev}/ttyUSB10"])
            self.assertEqual(ports[0], {"name": f"{dev}/ttyACM0", "description": "Arduino Uno", "usb": True,
                                        "vid": "2341", "pid": "0043", "serial_number": "",
                                        "manufacturer": "Arduino (www.arduino.cc)", "product": "Arduino Uno",
                                        "location": "1-3:1.0", "locator": "usb:2341:0043"})
            self.assertEqual(ports[1], {"name": f"{dev}/ttyS0", "description": "serial", "usb": False})
            self.assertEqual(ports[2], {"name": f"{dev}/ttyUSB2", "description": "FT232R USB UART", "usb": True,
                                        "vid": "0403", "pid": "6001", "serial_number": "A1B2C3",
                                        "manufacturer": "FTDI", "product": "FT232R USB UART", "location": "1-2:1.0",
                                        "locator": "usb:0403:6001:A1B2C3", "by_id": f"{dev}/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"})
            table = varekctl("ports", port=None, env=env).stdout
            self.assertIn("USB 0403:6001 serial A1B2C3 by FTDI at 1-2:1.0  (--port usb:0403:6001:A1B2C3)", table)

    @unittest.skipIf(UNDER_WINE, "sysfs is Linux's")
    def test_a_port_named_by_its_usb_identity(self):
        with tempfile.TemporaryDirectory() as root:
            env = build_fake_device_tree(root, PORT)
            dev = env["VAREK_DEV_ROOT"]
            result = varekctl("fire", port="usb:0403:6001:A1B2C3", env=env)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(self.sim.command("requests"), "1")
            self.assertFails(varekctl("fire", port="usb:0403:6001", env=env), 1,
                             f"2 USB serial ports match usb:0403:6001: {dev}/ttyUSB2 (usb:0403:6001:A1B2C3), "
                             f"{dev}/ttyUSB10 (usb:0403:6001:Z9)")
            self.assertFails(varekctl("fire", port="usb:1234:5678", env=env), 1,
                             "no USB serial port matches usb:1234:5678; USB serial ports here: "
                             f"{dev}/ttyACM0 (usb:2341:0043)")
            self.assertFails(varekctl("fire", port="usb:12345:1", env=env), 2, "usb:VID:PID or usb:VID:PID:SERIAL")
            self.assertFails(varekctl("fire", port=None, env=env), 2,
                             f"ports here: {dev}/ttyACM0, {dev}/ttyS0, {dev}/ttyUSB2, {dev}/ttyUSB10")
            self.assertEqual(self.sim.command("requests"), "1")

    def test_without_a_port_it_stops_and_says_how_to_name_one(self):
        result = varekctl("fire", port=None)
        self.assertFails(result, 2, "no port given", "--port sim", "VAREK_PORT")
        self.assertEqual(self.sim.command("received"), "")

    def test_the_port_can_come_from_the_environment(self):
        result = varekctl("fire", port=None, env={"VAREK_PORT": PORT})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.sim.command("requests"), "1")

    @unittest.skipIf(UNDER_WINE, "no simulated instrument inside the Windows build")
    def test_port_sim_brings_a_simulated_instrument(self):
        result = varekctl("run", "-", port="sim", stdin="delay 2 5\nstatus 2\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("a simulated instrument on", result.stderr)
        self.assertIn("ok: channel 2 delay 5", result.stdout)

    @unittest.skipUnless(UNDER_WINE, "COM names are Windows names")
    def test_com_names_open_as_the_c_interface_opens_them(self):
        # Lower case and above COM9: the library's rule gives \\.\com12.
        result = varekctl("fire", port=PORT.lower())
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.sim.command("requests"), "1")

    @unittest.skipUnless(UNDER_WINE, "the Windows build has no simulated instrument")
    def test_port_sim_on_windows_says_it_has_none(self):
        self.assertFails(varekctl("fire", port="sim"), 2, "--port sim: Windows has no pseudo-terminals")

    def test_find_probes_every_named_port_at_once(self):
        missing = "COM250" if UNDER_WINE else "/dev/varek-no-such-port"
        self.sim.command("temperature 31.5")
        started = time.monotonic()
        result = varekctl("find", PORT, missing, port=None)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(f"{PORT}: instrument found, temperature 31.50", result.stdout)
        self.assertIn(f"{missing}: cannot open {missing}: no such port", result.stdout)
        self.assertEqual(self.sim.command("last"), "EB9006009300001402CC", "the read-only query alone")

        self.sim.command("fault silent")
        self.sim.command("fault silent")
        started = time.monotonic()
        result = varekctl("--json", "find", PORT, PORT, port=None)
        elapsed = time.monotonic() - started
        self.assertEqual(result.returncode, 1, result.stderr)
        probes = json.loads(result.stdout)
        self.assertEqual([probe["found"] for probe in probes], [False, False])
        self.assertTrue(any("busy" in probe["reason"] or "nothing arrived" in probe["reason"] for probe in probes))
        self.assertIn("no instrument answered on 2 ports", result.stderr)
        self.assertLess(elapsed, 15 if UNDER_WINE else 2.5)


if __name__ == "__main__":
    unittest.main(verbosity=2)
