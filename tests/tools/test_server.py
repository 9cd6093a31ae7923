"""varek-server against the simulated instrument: every endpoint, every error
status, many clients at once, and the port going away and coming back.

    test_server.py VAREK_SERVER VAREK_SIM [WINE_RUN WINE_PREFIX]

With WINE_RUN, VAREK_SERVER is varek-server.exe, run under Wine on COM30,
which the prefix maps to the simulator's pseudo-terminal.
"""
import http.client
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SERVER, SIM = sys.argv[1:3]
WINE_RUN, WINE_PREFIX = (sys.argv[3:5] + [None, None])[:2]
del sys.argv[1:]
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from fake_device_tree import build_fake_device_tree  # noqa: E402
from sim_process import SimProcess  # noqa: E402
UNDER_WINE = WINE_RUN is not None


def port_link(folder):
    """Where the simulator links its pseudo-terminal, and the name the server opens it by."""
    if UNDER_WINE:
        return os.path.join(WINE_PREFIX, "dosdevices", "com30"), "COM30"
    link = os.path.join(folder, "ttyVAREK")
    return link, link


def start_simulator(link):
    """varek-sim on a pseudo-terminal reached through a fixed link, so that the
    port keeps its name when the line is revived."""
    return SimProcess([SIM, "--link", link])


def simulator_for(test, folder):
    """A simulator stopped when `test` ends, on every path (a failed server start included);
    returns it, its link and the name the server opens it by."""
    link, name = port_link(folder)
    simulator = start_simulator(link)
    test.addCleanup(simulator.stop)
    return simulator, link, name


def server_command(*args):
    return ([WINE_RUN] if UNDER_WINE else []) + [SERVER, *args]


def start_server(*args, env=None):
    process = subprocess.Popen(server_command(*args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               env=env)
    line = process.stdout.readline()
    match = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
    if not match:
        process.kill()
        raise RuntimeError(f"varek-server did not start: {line}{process.stderr.read()}")
    return process, int(match.group(1))


class Client:
    def __init__(self, port, token=None):
        self.connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        self.token = token

    def request(self, method, path, body=None, raw=None):
        headers = {"Content-Type": "application/json"}
        if self.token:
            headers["Authorization"] = "Bearer " + self.token
        payload = raw if raw is not None else (None if body is None else json.dumps(body))
        self.connection.request(method, path, body=payload, headers=headers)
        response = self.connection.getresponse()
        data = response.read()
        is_json = response.getheader("Content-Type", "").startswith("application/json")
        return response.status, json.loads(data) if is_json else data.decode()


def once(port, method, path, body=None, raw=None, token=None):
    """One request on a connection of its own."""
    client = Client(port, token)
    try:
        return client.request(method, path, body, raw)
    finally:
        client.connection.close()


def raw_exchange(port, request, timeout=10):
    """Sends `request` (bytes) as it stands and reads the response; returns
    (status, headers as a lower-case dict, body)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as connection:
        connection.sendall(request)
        return parse_response(read_response(connection, request.startswith(b"HEAD ")))


def read_response(connection, head_request=False):
    """One whole response from `connection`, by its Content-Length (which, to
    a HEAD request, tells the length of a body that is not sent)."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = connection.recv(4096)
        if not chunk:
            return data
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = int(re.search(rb"(?i)content-length: *(\d+)", head).group(1))
    if head.startswith(b"HTTP/1.1 100") or head.startswith(b"HTTP/1.0 100"):
        return head + b"\r\n\r\n" + body
    while not head_request and len(body) < length:
        chunk = connection.recv(4096)
        if not chunk:
            break
        body += chunk
    return head + b"\r\n\r\n" + body


def parse_response(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return int(lines[0].split()[1]), headers, body


def http_request(method, path, port, headers=(), body=b"", version="HTTP/1.1"):
    """A request's bytes, with exactly the headers given (and Content-Length for a body)."""
    lines = [f"{method} {path} {version}", *headers]
    if body:
        lines.append(f"Content-Length: {len(body)}")
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


def stop_server(process):
    process.terminate()
    process.wait(timeout=10)
    process.stdout.close()
    process.stderr.close()


class ServerCase(unittest.TestCase):
    """One simulator and one server in front of it, started with `server_args`, for a whole class."""

    server_args = ()

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp()
        link, name = port_link(cls.folder)
        cls.simulator = start_simulator(link)
        cls.sim = cls.simulator.control
        try:
            cls.server, cls.port = start_server("--port", name, "--listen", "127.0.0.1:0", *cls.server_args)
        except RuntimeError:
            cls.simulator.stop()  # tearDownClass does not run after a failed set-up
            raise

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.server)
        cls.simulator.stop()

    def assertError(self, answer, status, outcome, *phrases):
        """An error answer: its status, its outcome's name, and phrases of its words."""
        self.assertEqual(answer[0], status, answer)
        self.assertEqual(answer[1]["outcome"], outcome, answer)
        for phrase in phrases:
            self.assertIn(phrase, answer[1]["error"])


class ServerTest(ServerCase):
    def setUp(self):
        self.sim.command("reset")
        self.client = Client(self.port)
        self.addCleanup(self.client.connection.close)

    def test_every_endpoint_reaches_the_instrument(self):
        status, channel = self.client.request("PUT", "/api/v1/channels/3", {"delay": 12345, "pulse_width": 500,
                                                                            "enabled": True})
        self.assertEqual(status, 200)
        self.assertEqual(channel, {"channel": 3, "delay": 12345, "pulse_width": 500, "value_a": 12845, "value_b": 0,
                                   "delay_time": None, "pulse_width_time": None, "output": True})
        status, trigger = self.client.request("PUT", "/api/v1/trigger", {"mode": 2, "frequency": 2000})
        self.assertEqual((status, trigger["mode"], trigger["internal_trigger_freq"]), (200, 2, 2000.0))
        self.assertEqual(self.client.request("PUT", "/api/v1/output", {"enabled": True}), (200, {"enabled": True}))
        self.assertEqual(self.client.request("POST", "/api/v1/fire"), (200, {"fired": True}))
        state = self.sim.state()
        for key, value in {"delay3": "1234500", "width3": "50000", "on3": "1", "trigger": "3", "word": "125000",
                           "global": "1", "fired": "1"}.items():
            self.assertEqual(state[key], value, key)

        self.sim.command("temperature 31.5")
        before = int(self.sim.command("requests"))
        status, instrument = self.client.request("GET", "/api/v1/instrument")
        self.assertEqual(status, 200)
        self.assertEqual(int(self.sim.command("requests")) - before, 2, "one status read, one temperature read")
        self.assertEqual(instrument["temperature"], 31.5)
        self.assertEqual(instrument["internal_trigger_freq"], 2000.0)
        self.assertEqual([c["channel"] for c in instrument["channels"]], list(range(1, 9)))
        self.assertEqual(instrument["channels"][2]["delay"], 12345)
        self.assertEqual((instrument["reg131"], instrument["reg130"], instrument["reg136"]), (1, 3, 1))

    def test_bad_requests_say_what_is_wrong_and_change_nothing(self):
        cases = [
            ("PUT", "/api/v1/channels/1", None, "{not json", 400, "bad_request", "must be a JSON object"),
            ("PUT", "/api/v1/channels/1", [1, 2], None, 400, "bad_request", "must be a JSON object"),
            ("PUT", "/api/v1/channels/1", {}, None, 400, "bad_request", "no field given"),
            ("PUT", "/api/v1/channels/1", {"delay": 5, "colour": "red"}, None, 400, "bad_request", 'unknown field "colour"'),
            ("PUT", "/api/v1/channels/1", {"delay": 5, "pulse_width": -1}, None, 400, "bad_request", 'field "pulse_width"'),
            ("PUT", "/api/v1/channels/1", {"delay": 1.5}, None, 400, "bad_request", 'field "delay" must be a whole number'),
            ("PUT", "/api/v1/channels/1", {"delay": 184467440737095517}, None, 400, "bad_request", 'field "delay"'),
            ("PUT", "/api/v1/channels/1", {"delay": 5, "enabled": "yes"}, None, 400, "bad_request", 'field "enabled"'),
            ("PUT", "/api/v1/trigger", {"mode": 1, "frequency": 0}, None, 400, "bad_request", 'field "frequency"'),
            ("PUT", "/api/v1/trigger", {"mode": 3}, None, 400, "bad_request", 'field "mode"'),
            ("PUT", "/api/v1/output", {"enabled": 1}, None, 400, "bad_request", 'field "enabled"'),
            ("PUT", "/api/v1/channels/9", {"delay": 5}, None, 404, "not_found", "no channel 9"),
            ("PUT", "/api/v1/channels/0", {"delay": 5}, None, 404, "not_found", "no channel 0"),
            ("PUT", "/api/v1/channels/x", {"delay": 5}, None, 404, "not_found", "no channel x"),
            ("GET", "/api/v1/nothing", None, None, 404, "not_found", "no such path"),
            ("GET", "/elsewhere", None, None, 404, "not_found", "no such page"),
            ("GET", "/api/v1/fire", None, None, 405, "method_not_allowed", "takes POST"),
            ("PUT", "/api/v1/channels/1", None, "x" * (65 * 1024), 413, "too_large", "larger than 64 KiB"),
        ]
        for method, path, body, raw, status, outcome, phrase in cases:
            with self.subTest(path=path, body=body if raw is None else raw[:20]):
                self.assertError(once(self.port, method, path, body, raw), status, outcome, phrase)
        self.assertEqual(self.sim.command("received"), "", "nothing reached the instrument")

    def test_an_instrument_failure_is_502_with_its_reason(self):
        for fault, outcome, phrase in [("silent", "nothing_arrived", "nothing arrived from"),
                                       ("checksum", "bad_checksum", "damaged reply"),
                                       ("refuse", "refused", "refused the software trigger")]:
            with self.subTest(fault=fault):
                self.sim.command("fault " + fault)
                self.assertError(self.client.request("POST", "/api/v1/fire"), 502, outcome, phrase)
                self.assertEqual(self.client.request("POST", "/api/v1/fire")[0], 200)

    def test_many_clients_at_once_get_their_own_answers(self):
        failures = []

        def client_loop(index):
            client = Client(self.port)
            self.addCleanup(client.connection.close)
            channel = index % 8 + 1
            for round_number in range(200):
                value = index * 1000 + round_number
                status, answer = client.request("PUT", f"/api/v1/channels/{channel}", {"delay": value}) \
                    if index < 8 and round_number % 2 == 0 else client.request("GET", "/api/v1/instrument")
                if status != 200:
                    failures.append((index, round_number, status, answer))
                elif "channel" in answer and (answer["channel"], answer["delay"]) != (channel, value):
                    failures.append((index, round_number, "mixed up", answer))
                elif "channels" in answer and len(answer["channels"]) != 8:
                    failures.append((index, round_number, "short", answer))

        threads = [threading.Thread(target=client_loop, args=(index,)) for index in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(failures, [])

    def test_an_idle_client_holds_nothing(self):
        idle = socket.create_connection(("127.0.0.1", self.port))
        idle.sendall(b"PUT /api/v1/channels/1 HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{")
        try:
            started = time.monotonic()
            self.assertEqual(self.client.request("POST", "/api/v1/fire")[0], 200)
            self.assertLess(time.monotonic() - started, 2)
        finally:
            idle.close()

    def test_the_port_going_away_and_coming_back(self):
        self.sim.command("hangup")
        self.assertError(self.client.request("POST", "/api/v1/fire"), 503, "port_gone", "is gone",
                         "tries it again every second")
        status, gone = self.client.request("GET", "/api/v1/instrument")
        self.assertError((status, gone), 503, "port_gone", "is gone")
        self.assertIn("open_failure", gone)
        self.sim.command("revive")
        deadline = time.monotonic() + 10
        while self.client.request("POST", "/api/v1/fire")[0] != 200:
            self.assertLess(time.monotonic(), deadline, "the server did not take the port back")
            time.sleep(0.2)
        self.assertEqual(self.client.request("GET", "/api/v1/instrument")[0], 200)

    def test_a_second_server_on_the_same_address_is_refused(self):
        # Its own instrument, reached over TCP, so that only the address is shared.
        other = SimProcess([SIM, "--listen", "127.0.0.1:0"])
        self.addCleanup(other.stop)
        second = subprocess.run(server_command("--port", other.device, "--listen", f"127.0.0.1:{self.port}"),
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(second.returncode, 1, second.stderr)
        self.assertIn(f"another program listens on 127.0.0.1:{self.port}", second.stderr)
        self.assertEqual(self.client.request("GET", "/api/v1/instrument")[0], 200)

    def test_the_front_panel_is_served_from_inside_the_program(self):
        status, page = self.client.request("GET", "/")
        self.assertEqual(status, 200)
        self.assertIn("<svg id=\"diagram\"", page)
        self.assertNotIn("http://", page.replace("http://www.w3.org/2000/svg", ""), "fetches nothing from elsewhere")


def server_path(path):
    """`path` as the server names it: under Wine a Linux path is on drive Z:."""
    return "Z:" + path.replace("/", "\\") if UNDER_WINE else path


class SetupTest(ServerCase):
    """What the server set, kept and shown: the setup document through the API,
    set values beside read-back ones, and drift."""

    def setUp(self):
        self.sim.command("reset")
        self.client = Client(self.port)
        self.addCleanup(self.client.connection.close)
        # What earlier tests set is forgotten only by setting it anew: to what a reset instrument holds.
        zeros = {str(c): {"delay": 0, "pulse_width": 0} for c in range(1, 9)}
        self.client.request("PUT", "/api/v1/setup", {"varek_setup": 1, "global_output": False, "channels": zeros,
                                                     "trigger": {"frequency": 1000}})

    def test_set_values_are_shown_as_set_saved_and_restored(self):
        before = self.client.request("GET", "/api/v1/instrument")[1]
        self.assertEqual(before["channels"][0]["output"], None)
        self.client.request("PUT", "/api/v1/channels/3", {"delay": 12345, "pulse_width": 500, "enabled": True})
        self.client.request("PUT", "/api/v1/trigger", {"mode": 1, "frequency": 2000})
        self.client.request("PUT", "/api/v1/output", {"enabled": True})
        status, instrument = self.client.request("GET", "/api/v1/instrument")
        self.assertEqual(status, 200)
        self.assertEqual((instrument["trigger_mode"], instrument["global_output"], instrument["drift"]),
                         (1, True, []))
        self.assertEqual([c["output"] for c in instrument["channels"]][1:3], [None, True])
        status, channel = self.client.request("GET", "/api/v1/channels/3")
        self.assertEqual((status, channel["delay"], channel["output"]), (200, 12345, True))

        status, saved = self.client.request("GET", "/api/v1/setup")
        self.assertEqual(status, 200)
        self.assertEqual(saved["trigger"], {"mode": 1, "frequency": 2000})
        self.assertEqual(saved["global_output"], True)
        self.assertEqual(saved["channels"]["3"], {"delay": 12345, "pulse_width": 500, "output": True})
        self.assertEqual(saved["channels"]["4"], {"delay": 0, "pulse_width": 0, "output": None})

        self.client.request("PUT", "/api/v1/channels/3", {"delay": 1, "enabled": False})
        self.sim.command("clear")
        self.sim.command("reset")
        status, restored = self.client.request("PUT", "/api/v1/setup", saved)
        self.assertEqual((status, restored), (200, saved))
        state = self.sim.state()
        self.assertEqual((state["delay3"], state["width3"], state["on3"], state["trigger"], state["global"],
                          state["word"]), ("1234500", "50000", "1", "2", "1", "125000"))
        # The global output went off before the timing and on after it.
        commands = sent_commands(self.sim.command("received"))
        self.assertEqual(commands[0], (0x07, 0), commands)
        self.assertEqual(commands[-2], (0x07, 1), commands)
        self.assertEqual(commands[-1][0], 0xC1, "one status read verifies it")

    def test_bad_documents_are_refused_by_path_and_send_nothing(self):
        cases = [
            ({"varek_setup": 1, "channels": {"3": {"delay": -1}}}, "channels.3.delay: delay -1 is outside"),
            ({"varek_setup": 1, "channels": {"9": {}}}, "channels.9: channel 9 is outside 1..8"),
            ({"varek_setup": 1, "trigger": {"mode": "fast"}}, "trigger.mode: a whole number or null expected"),
            ({"varek_setup": 1, "global_output": True, "extra": 1}, "extra: unknown field"),
            ({"channels": {}}, "varek_setup: missing"),
        ]
        self.sim.command("reset")
        for document, phrase in cases:
            with self.subTest(document=document):
                self.assertError(self.client.request("PUT", "/api/v1/setup", document), 400, "bad_request", phrase,
                                 "nothing")
        self.assertError(self.client.request("PUT", "/api/v1/setup", raw='{"varek_setup": 1, "channels": '
                                             '{"1": {"delay": 5, "delay": 6}}}'), 400, "bad_request",
                         "channels.1.delay: given twice")
        self.assertError(self.client.request("PUT", "/api/v1/channels/1", raw='{"delay": 5, "delay": 6}'), 400,
                         "bad_request", "given twice")
        self.assertEqual(self.sim.command("requests"), "0")

    def test_drift_and_a_failed_verification_name_each_field(self):
        self.client.request("PUT", "/api/v1/channels/2", {"delay": 700})
        self.sim.command("reset")
        status, instrument = self.client.request("GET", "/api/v1/instrument")
        self.assertEqual(instrument["drift"], [{"field": "channels.2.delay", "set": 700, "read": 0}])
        # The instrument acknowledges the delay but lets it slip.
        self.sim.command("fault ignore")
        status, answer = self.client.request("PUT", "/api/v1/setup",
                                             {"varek_setup": 1, "channels": {"5": {"pulse_width": 40}}})
        self.assertError((status, answer), 502, "setup_differs", "reads back otherwise")
        self.assertEqual(answer["differences"], [{"field": "channels.5.pulse_width", "set": 40, "read": 0}])

    def test_a_setting_whose_reply_was_lost_is_shown_as_unknown(self):
        """A refused setting leaves what was set; one carried out with its
        reply lost may hold either value, so it is shown as unknown, never as
        the old value the instrument no longer holds."""
        self.client.request("PUT", "/api/v1/channels/2", {"enabled": True})
        self.client.request("PUT", "/api/v1/output", {"enabled": True})
        self.sim.command("fault refuse")
        self.assertError(self.client.request("PUT", "/api/v1/channels/2", {"enabled": False}), 502, "refused",
                         "refused")
        instrument = self.client.request("GET", "/api/v1/instrument")[1]
        self.assertEqual((instrument["channels"][1]["output"], self.sim.state()["on2"]), (True, "1"))

        self.sim.command("fault silent")
        self.assertError(self.client.request("PUT", "/api/v1/channels/2", {"enabled": False}), 502,
                         "nothing_arrived", "nothing arrived")
        instrument = self.client.request("GET", "/api/v1/instrument")[1]
        self.assertEqual((instrument["channels"][1]["output"], self.sim.state()["on2"]), (None, "0"))

        # A setup changing timing switches the global output off first: that reply lost,
        # the output is off on the instrument and unknown here, not on.
        self.sim.command("fault silent")
        status, answer = self.client.request("PUT", "/api/v1/setup",
                                             {"varek_setup": 1, "channels": {"1": {"delay": 77}}})
        self.assertEqual(status, 502, answer)
        instrument = self.client.request("GET", "/api/v1/instrument")[1]
        self.assertEqual((instrument["global_output"], self.sim.state()["global"]), (None, "0"))
        self.assertEqual(self.sim.state()["delay1"], "0", "nothing after the failed step was sent")

    def test_times_in_the_declared_unit_need_one(self):
        self.assertError(self.client.request("PUT", "/api/v1/channels/1", {"delay": "2us"}), 400, "bad_request",
                         "no unit is declared")


class StateFileTest(unittest.TestCase):
    """--state-file: what was set survives a restart and comes back to the
    instrument at start and when its port returns."""

    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.simulator, self.link, self.name = simulator_for(self, self.folder)
        self.sim = self.simulator.control
        self.state_file = os.path.join(self.folder, "state.json")

    def start(self, *args):
        server, port = start_server("--port", self.name, "--listen", "127.0.0.1:0", "--state-file",
                                    server_path(self.state_file), *args)
        self.addCleanup(stop_server, server)
        return server, port

    def test_what_was_set_comes_back_after_a_restart_and_a_power_cycle(self):
        server, port = self.start("--unit", "10ps")
        once(port, "PUT", "/api/v1/channels/4", {"delay": 321, "enabled": True})
        once(port, "PUT", "/api/v1/trigger", {"mode": 2})
        once(port, "PUT", "/api/v1/output", {"enabled": True})
        with open(self.state_file) as file:
            kept = json.load(file)
        self.assertEqual((kept["unit"], kept["trigger"]["mode"], kept["channels"]["4"]["delay"]), ("10ps", 2, 321))
        self.assertFalse(os.path.exists(self.state_file + ".tmp"))
        stop_server(server)

        self.sim.command("reset")
        server, port = self.start()
        # The kept setup is applied step by step: wait for its last step, not the first one seen.
        restored = ("32100", "1", "3", "1")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            state = self.sim.state()
            if (state["delay4"], state["on4"], state["trigger"], state["global"]) == restored:
                break
            time.sleep(0.1)
        self.assertEqual((state["delay4"], state["on4"], state["trigger"], state["global"]), restored)
        instrument = once(port, "GET", "/api/v1/instrument")[1]
        self.assertEqual((instrument["trigger_mode"], instrument["channels"][3]["output"], instrument["drift"]),
                         (2, True, []))

        # Power cycled behind the server's back: drift, then re-applied when the port returns.
        self.sim.command("reset")
        self.assertEqual(once(port, "GET", "/api/v1/instrument")[1]["drift"],
                         [{"field": "channels.4.delay", "set": 321, "read": 0}])
        self.sim.command("hangup")
        self.assertEqual(once(port, "GET", "/api/v1/instrument")[0], 503)
        self.sim.command("revive")
        deadline = time.monotonic() + 10
        while once(port, "GET", "/api/v1/instrument")[0] != 200:
            self.assertLess(time.monotonic(), deadline, "the server did not take the port back")
            time.sleep(0.2)
        self.assertEqual(self.sim.state()["delay4"], "32100")
        self.assertEqual(once(port, "GET", "/api/v1/instrument")[1]["drift"], [])
        server.terminate()
        log = server.communicate(timeout=10)[1]
        self.assertIn("setup restored from", log)
        self.assertRegex(log, r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ drift: channel 4 delay was set to 321")

    def test_a_state_file_that_is_not_a_setup_or_cannot_be_written_stops_the_start(self):
        with open(self.state_file, "w") as file:
            file.write("delay 4 321\n")
        result = subprocess.run(server_command("--port", self.name, "--listen", "127.0.0.1:0", "--state-file",
                                               server_path(self.state_file)),
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn("is not a setup this server wrote: not JSON: line 1, column 1", result.stderr)
        missing_folder = os.path.join(self.folder, "no-such-folder", "state.json")
        result = subprocess.run(server_command("--port", self.name, "--listen", "127.0.0.1:0", "--state-file",
                                               server_path(missing_folder)),
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn("--state-file: cannot create", result.stderr)
        self.assertEqual(self.sim.command("requests"), "0")


def sent_commands(received_hex):
    """The (command, parameter) of every request frame in what the simulator received."""
    data = bytes.fromhex(received_hex)
    commands, at = [], 0
    while at + 6 <= len(data):
        if data[at:at + 2] != b"\xeb\x90":
            at += 1
            continue
        length = int.from_bytes(data[at + 2:at + 4], "little")
        commands.append((data[at + 4], int.from_bytes(data[at + 5:at + 7], "little")))
        at += 4 + length  # the head and the length field, then what the length counts
    return commands


class GuardTest(ServerCase):
    """Only this machine's own pages and programs may drive the instrument: a
    foreign Host, a foreign Origin or a body that is not declared JSON is
    refused before anything reaches it; and the protocol's small courtesies."""

    server_args = ("--allow-host", "Lab-PC.example.org")

    def setUp(self):
        self.sim.command("reset")
        self.host = f"Host: 127.0.0.1:{self.port}"

    def send(self, method, path, headers=(), body=b"", version="HTTP/1.1"):
        return raw_exchange(self.port, http_request(method, path, self.port, headers, body, version))

    def test_requests_from_elsewhere_change_and_read_nothing(self):
        json_body = ("Content-Type: application/json",)
        put = b'{"delay": 777}'
        cases = [
            # DNS rebinding: a foreign name for our address, reading and writing.
            ("GET", "/api/v1/instrument", ("Host: rebind.example.com:8470",), b"", 421),
            ("PUT", "/api/v1/channels/1", ("Host: rebind.example.com", *json_body), put, 421),
            ("GET", "/", ("Host: 10.9.8.7",), b"", 421),
            # A page from another origin: its no-cors fetch, its form post, a JSON write.
            ("POST", "/api/v1/fire", (self.host, "Origin: http://127.0.0.1:1"), b"", 403),
            ("POST", "/api/v1/fire", (self.host, "Origin: null"), b"", 403),
            ("POST", "/api/v1/fire", (self.host, "Origin: http://127.0.0.1:1", "Content-Type: text/plain"),
             b"x=1", 403),
            ("PUT", "/api/v1/channels/1", (self.host, "Origin: http://evil.example", *json_body), put, 403),
            # Bodies that are not declared JSON, whoever sends them.
            ("POST", "/api/v1/fire", (self.host, "Content-Type: text/plain"), b"{}", 415),
            ("POST", "/api/v1/fire", (self.host, "Content-Type: application/x-www-form-urlencoded"), b"", 415),
            ("PUT", "/api/v1/channels/1", (self.host,), put, 415),
            ("PUT", "/api/v1/channels/1", (self.host, "Content-Type: multipart/form-data; boundary=x"), put, 415),
            # HTTP/1.1 without Host.
            ("GET", "/api/v1/instrument", (), b"", 400),
        ]
        outcomes = {421: "unknown_host", 403: "forbidden_origin", 415: "unsupported_media_type", 400: "bad_request"}
        for method, path, headers, body, status in cases:
            with self.subTest(method=method, path=path, headers=headers):
                answer_status, _, answer = self.send(method, path, headers, body)
                self.assertEqual(answer_status, status)
                self.assertEqual(json.loads(answer)["outcome"], outcomes[status])
        self.assertEqual(self.sim.command("received"), "", "nothing reached the instrument")

    def test_this_machines_own_requests_still_work(self):
        own_origin = f"Origin: http://127.0.0.1:{self.port}"
        json_body = "Content-Type: application/json; charset=utf-8"
        cases = [
            ("POST", "/api/v1/fire", (self.host, own_origin), b""),
            ("POST", "/api/v1/fire", (self.host, "Content-Type: application/json"), b""),
            ("PUT", "/api/v1/channels/2", (self.host, own_origin, json_body), b'{"delay": 42}'),
            ("PUT", "/api/v1/channels/2", (f"Host: localhost:{self.port}", json_body), b'{"delay": 43}'),
            ("PUT", "/api/v1/channels/2", ("Host: [::1]", json_body), b'{"delay": 44}'),
            ("PUT", "/api/v1/channels/2", ("Host: lab-pc.example.ORG:443", "Origin: https://lab-pc.example.org:443",
                                            json_body), b'{"delay": 45}'),
            ("GET", "/api/v1/instrument", (self.host, "Origin: http://elsewhere.example"), b""),
            ("GET", "/", (), b"", "HTTP/1.0"),
        ]
        for method, path, headers, body, *version in cases:
            with self.subTest(method=method, path=path, headers=headers):
                self.assertEqual(self.send(method, path, headers, body, *version)[0], 200)
        self.assertEqual((self.sim.state()["delay2"], self.sim.state()["fired"]), ("4500", "2"))

    def test_the_page_cannot_be_framed_or_load_from_elsewhere(self):
        status, headers, page = self.send("GET", "/", (self.host,))
        self.assertEqual(status, 200)
        self.assertEqual(headers["x-frame-options"], "DENY")
        policy = headers["content-security-policy"]
        for directive in ("default-src 'none'", "script-src 'self'", "connect-src 'self'", "frame-ancestors 'none'"):
            self.assertIn(directive, policy)
        self.assertNotRegex(page.decode(), r"<script>|<style>| on[a-z]+=", "nothing inline for the policy to allow")
        for part, kind in (("/front_panel.js", "text/javascript"), ("/front_panel.css", "text/css")):
            status, headers, _ = self.send("GET", part, (self.host,))
            self.assertEqual((status, headers["content-type"].split(";")[0]), (200, kind))

    def test_head_405_and_401_say_what_http_asks(self):
        status, headers, body = self.send("HEAD", "/", (self.host,))
        self.assertEqual(status, 200)
        self.assertGreater(int(headers["content-length"]), 1000)
        self.assertEqual(body, b"", "a HEAD answer has no body")
        status, headers, _ = self.send("DELETE", "/api/v1/fire", (self.host,))
        self.assertEqual((status, headers["allow"]), (405, "POST"))
        status, headers, _ = self.send("POST", "/", (self.host,))
        self.assertEqual((status, headers["allow"]), (405, "GET, HEAD"))

    def test_expect_100_continue_is_answered_at_once(self):
        body = b'{"delay": 99}'
        head = http_request("PUT", "/api/v1/channels/5", self.port,
                            (self.host, "Content-Type: application/json", "Expect: 100-continue"), body)
        head = head[:-len(body)]
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as connection:
            connection.sendall(head)
            connection.settimeout(0.5)
            self.assertTrue(connection.recv(100).startswith(b"HTTP/1.1 100 Continue\r\n"))
            connection.settimeout(10)
            connection.sendall(body)
            self.assertEqual(parse_response(read_response(connection))[0], 200)
        self.assertEqual(self.sim.state()["delay5"], "9900")

    def test_http_1_0_keep_alive_is_honoured(self):
        request = http_request("GET", "/api/v1/instrument", self.port, ("Connection: keep-alive",),
                               version="HTTP/1.0")
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as connection:
            for _ in range(2):
                connection.sendall(request)
                status, headers, _ = parse_response(read_response(connection))
                self.assertEqual((status, headers.get("connection", "").lower()), (200, "keep-alive"))

    def test_a_request_whose_client_left_is_never_carried_out(self):
        self.sim.command("fault delay=800")
        first = Client(self.port)
        self.addCleanup(first.connection.close)
        answers = []
        worker = threading.Thread(target=lambda: answers.append(first.request("POST", "/api/v1/fire")))
        worker.start()
        time.sleep(0.2)  # the first fire is under way; the next waits behind it
        with socket.create_connection(("127.0.0.1", self.port)) as leaving:
            leaving.sendall(http_request("POST", "/api/v1/fire", self.port, (self.host,)))
            time.sleep(0.2)
        worker.join()
        self.assertEqual(answers, [(200, {"fired": True})])
        time.sleep(0.5)
        self.assertEqual(self.sim.state()["fired"], "1", "the fire of the client that left was dropped")


class TokenTest(unittest.TestCase):
    def test_a_token_guards_the_api_and_a_wide_address_needs_one(self):
        folder = tempfile.mkdtemp()
        simulator, _, name = simulator_for(self, folder)
        sim = simulator.control
        token_file = os.path.join(folder, "token")
        with open(token_file, "wb") as out:
            out.write(b"\xef\xbb\xbfs3cret-token\t\r\n")  # as a Windows editor may save it
        server, port = start_server("--port", name, "--listen", "127.0.0.1:0", "--token-file",
                                    token_file if not UNDER_WINE else "Z:" + token_file.replace("/", "\\"))
        try:
            status, headers, _ = raw_exchange(port, http_request("POST", "/api/v1/fire", port, ("Host: localhost",)))
            self.assertEqual((status, headers["www-authenticate"]), (401, 'Bearer realm="varek-server"'))
            self.assertEqual(once(port, "POST", "/api/v1/fire")[1]["outcome"], "unauthorized")
            self.assertEqual(once(port, "POST", "/api/v1/fire", token="s3cret-tokeN")[0], 401)
            self.assertEqual(once(port, "POST", "/api/v1/fire", token="s3cret-token"), (200, {"fired": True}))
            for authorization in ("bearer s3cret-token", "BEARER  s3cret-token\t"):
                request = http_request("POST", "/api/v1/fire", port, ("Host: localhost", "Authorization: " +
                                                                       authorization))
                self.assertEqual(raw_exchange(port, request)[0], 200, authorization)
            self.assertEqual(once(port, "GET", "/")[0], 200, "the page itself is no secret")
            self.assertEqual(sim.command("requests"), "3")
        finally:
            stop_server(server)
        wide = subprocess.run(server_command("--port", name, "--listen", "0.0.0.0:0"), capture_output=True,
                              text=True, timeout=60)
        self.assertEqual(wide.returncode, 2)
        self.assertIn("give --token-file", wide.stderr)

    def test_a_token_file_that_holds_more_than_a_token_is_refused(self):
        folder = tempfile.mkdtemp()
        large = os.path.join(folder, "large")
        with open(large, "w") as out:
            out.write("t" * 5000)
        files = [large] + ([] if UNDER_WINE else ["/dev/zero"])
        for token_file in files:
            with self.subTest(token_file=token_file):
                name = "Z:" + token_file.replace("/", "\\") if UNDER_WINE else token_file
                result = subprocess.run(server_command("--port", "sim", "--token-file", name), capture_output=True,
                                        text=True, timeout=60)
                self.assertEqual(result.returncode, 2)
                self.assertIn("larger than 4 KiB", result.stderr)

    def test_without_a_port_it_stops_and_says_how_to_name_one(self):
        environment = {key: value for key, value in os.environ.items() if key != "VAREK_PORT"}
        result = subprocess.run(server_command(), capture_output=True, text=True, timeout=60, env=environment)
        self.assertEqual(result.returncode, 2)
        self.assertIn("--port sim", result.stderr)
        name = "COM250" if UNDER_WINE else "/dev/varek-no-such-port"
        missing = subprocess.run(server_command("--port", name), capture_output=True, text=True, timeout=60)
        self.assertEqual(missing.returncode, 1)
        self.assertIn(f"cannot open {name}: no such port", missing.stderr)


@unittest.skipIf(UNDER_WINE, "sysfs is Linux's")
class UsbNameTest(unittest.TestCase):
    def test_the_instrument_named_by_its_usb_identity(self):
        folder = tempfile.mkdtemp()
        simulator, link, _ = simulator_for(self, folder)
        environment = {**os.environ, **build_fake_device_tree(os.path.join(folder, "tree"), link)}
        server, port = start_server("--port", "usb:0403:6001:A1B2C3", "--listen", "127.0.0.1:0", env=environment)
        try:
            self.assertEqual(once(port, "POST", "/api/v1/fire"), (200, {"fired": True}))
            self.assertEqual(simulator.control.state()["fired"], "1")
            # The adapter unplugged: its name resolves no more, and the 503 says so.
            listed = os.path.join(environment["VAREK_SYSFS_ROOT"], "class", "tty", "ttyUSB2")
            target = os.readlink(listed)
            os.unlink(listed)
            simulator.control.command("hangup")
            self.assertEqual(once(port, "POST", "/api/v1/fire")[0], 503)
            time.sleep(1.5)  # a reopen has been tried
            status, gone = once(port, "POST", "/api/v1/fire")
            self.assertEqual((status, gone["outcome"], gone["open_failure"]), (503, "port_gone", "no_such_port"))
            self.assertIn("no USB serial port matches usb:0403:6001:A1B2C3", gone["error"])
            os.symlink(target, listed)
            simulator.control.command("revive")
            deadline = time.monotonic() + 10
            while once(port, "POST", "/api/v1/fire")[0] != 200:
                self.assertLess(time.monotonic(), deadline, "the adapter came back, the server did not")
                time.sleep(0.3)
        finally:
            stop_server(server)
        for name, code, reason in (("usb:0403:6001", 1, "2 USB serial ports match usb:0403:6001"),
                                   ("usb:xyz", 2, "a USB port is named usb:VID:PID")):
            with self.subTest(name=name):
                result = subprocess.run(server_command("--port", name), capture_output=True, text=True, timeout=60,
                                        env=environment)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn(reason, result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
