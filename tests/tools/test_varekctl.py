"""varekctl as a lab engineer meets it: exit codes and messages of every
failure path, scripts, output formats, help. Runs the program (under the
given emulator, for the Windows build) against the simulated instrument that
run_with_sim.sh started.

    test_varekctl.py VAREKCTL [EMULATOR]
"""
import fcntl
import json
import os
import socket
import subprocess
import sys
import tempfile
import unittest

PROGRAM = sys.argv[1]
EMULATOR = sys.argv[2:3]
UNDER_WINE = bool(EMULATOR)
PORT = os.environ["VAREK_SIM_C_PORT"]
del sys.argv[1:]


class Simulator:
    """The control channel of the simulated instrument."""

    def __init__(self):
        self.socket = socket.create_connection(("127.0.0.1", int(os.environ["VAREK_SIM_CONTROL"])))
        self.replies = self.socket.makefile("r")

    def command(self, line):
        self.socket.sendall((line + "\n").encode())
        answer = self.replies.readline().strip()
        if not answer.startswith("ok"):
            raise RuntimeError(answer)
        return answer[3:]


def varekctl(*args, port=PORT, stdin=None):
    command = EMULATOR + [PROGRAM] + (["--port", port] if port else []) + list(args)
    return subprocess.run(command, capture_output=True, text=True, input=stdin, timeout=60)


class VarekctlTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator()

    def setUp(self):
        self.sim.command("reset")

    def assertFails(self, result, code, *phrases):
        self.assertEqual(result.returncode, code, result.stderr)
        for phrase in phrases:
            self.assertIn(phrase, result.stderr)

    def test_usage_errors_exit_2_and_send_nothing(self):
        cases = [
            (["delay", "9", "5"], "channel must be 1..8, got 9"),
            (["enable", "0", "on"], "channel must be 1..8, got 0"),
            (["delay", "1", "-5"], "delay must be a whole number from 0 to 184467440737095516, got -5"),
            (["width", "1", "184467440737095517"], "pulse width must be"),
            (["delay", "1", "1e3"], "delay must be a whole number"),
            (["enable", "2", "maybe"], "expected on or off, got maybe"),
            (["freq", "0"], "frequency must be above"),
            (["freq", "250000000.1"], "frequency must be above"),
            (["trigger-mode", "3"], "trigger mode must be 0, 1 or 2, got 3"),
            (["raw", "0x100", "0"], "CMD must be 0..255"),
            (["raw", "0x14", "0", "1FF"], "payload byte must be 0..255"),
            (["delay", "1"], "usage: delay CH VALUE"),
            (["bogus"], "unknown command bogus"),
            ([], "no command given"),
            (["--baud", "fast", "fire"], "baud rate must be a positive whole number, got fast"),
            (["--baud", "0", "fire"], "baud rate must be a positive whole number, got 0"),
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
            self.assertFails(varekctl("fire"), 1, f"cannot open {PORT}: in use by another program")

    def test_an_instrument_that_does_not_answer(self):
        self.sim.command("fault silent")
        self.assertFails(varekctl("temp"), 1,
                         f"reading the temperature: no valid reply from the instrument on {PORT} within 1000 ms",
                         "is it powered")
        self.sim.command("fault refuse")
        self.assertFails(varekctl("delay", "2", "10"), 1,
                         f"channel 2 delay 10: the instrument on {PORT} did not acknowledge within 1000 ms",
                         "refusal")

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
        rows = [line.split() for line in table.stdout.splitlines() if line.strip()[:1].isdigit()]
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
            self.assertFails(varekctl("run", name), 2, f"{name} line 4: channel must be 1..8, got 9")
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
                    "run", "ports"]
        for command in commands:
            self.assertIn(command, overview.stdout)
            one = varekctl(command, "--help", port=None)
            self.assertEqual(one.returncode, 0, command)
            self.assertIn(f"usage: varekctl [--port PORT] [--baud N] [--json] {command}", one.stdout)

    def test_ports_lists_without_failing(self):
        result = varekctl("ports", port=None)
        self.assertEqual(result.returncode, 0, result.stderr)

    @unittest.skipIf(UNDER_WINE, "no simulated instrument inside the Windows build")
    def test_without_a_port_it_brings_a_simulated_instrument(self):
        result = varekctl("run", "-", port=None, stdin="delay 2 5\nstatus 2\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("using a simulated instrument on", result.stderr)
        self.assertIn("ok: channel 2 delay 5", result.stdout)

    @unittest.skipUnless(UNDER_WINE, "the Windows build has no simulated instrument")
    def test_without_a_port_on_windows_it_asks_for_one(self):
        self.assertFails(varekctl("fire", port=None), 2, "no --port given")


if __name__ == "__main__":
    unittest.main(verbosity=2)
