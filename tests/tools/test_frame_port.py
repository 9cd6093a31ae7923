"""varek-server's frame port: programs using the library with socket:// share
one instrument through the server's queue, beside the HTTP API.

    test_frame_port.py VAREK_SERVER VAREK_SIM      (VAREK_LIBRARY set)
"""
import http.client
import json
import os
import socket
import subprocess
import sys
import time
import unittest

SERVER, SIM = sys.argv[1:3]
del sys.argv[1:]
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))
from server_process import SlowInstrument, in_parallel  # noqa: E402

import varek  # noqa: E402

TEMPERATURE_QUERY = bytes.fromhex("EB 90 06 00 93 00 00 14 02 CC")
TEMPERATURE_REPLY = bytes.fromhex("EB 90 0A 00 93 01 00 00 00 C8 41 22 03 CC")


def frame_client(url):
    host, port = url[len("socket://"):].rsplit(":", 1)
    return socket.create_connection((host, int(port)), timeout=5)


def read_reply(connection, size):
    data = b""
    while len(data) < size:
        chunk = connection.recv(size - len(data))
        if not chunk:
            break
        data += chunk
    return data


class FramePortTest(unittest.TestCase):
    def setUp(self):
        self.setup = SlowInstrument(SERVER, SIM, 0, "--frames", "127.0.0.1:0")
        self.addCleanup(self.setup.stop)
        self.url = self.setup.frames_url
        self.assertRegex(self.url, r"^socket://127\.0\.0\.1:\d+$")

    def api_status(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.setup.port, timeout=15)
        connection.request("GET", "/api/v1/instrument")
        response = connection.getresponse()
        body = response.read()
        connection.close()
        return response.status, json.loads(body)

    def test_eight_library_clients_at_once_each_get_their_own_answers(self):
        rounds = 25

        def client(index):
            channel = index + 1
            with varek.Varek(self.url) as v:
                for round_number in range(rounds):
                    value = channel * 1000 + round_number
                    v.set_delay(channel, value)
                    if v.read_status().delay[channel - 1] != value:
                        return f"client {channel} read another value in round {round_number}"
                    if v.read_temperature() != 25.0:
                        return f"client {channel} read a wrong temperature"
            return None

        def watch_the_api():
            statuses = []
            for _ in range(10):
                statuses.append(self.api_status()[0])
                time.sleep(0.05)
            return statuses

        results = in_parallel(9, lambda index: client(index) if index < 8 else watch_the_api())
        self.assertEqual([result for result in results[:8] if result], [])
        self.assertEqual(results[8], [200] * 10, "the HTTP API stopped answering beside the frame clients")
        state = self.setup.sim.control.state()
        self.assertEqual([state[f"delay{channel}"] for channel in range(1, 9)],
                         [str((channel * 1000 + rounds - 1) * 100) for channel in range(1, 9)])

    def test_garbage_and_a_frame_left_unfinished_are_skipped_as_the_instrument_would(self):
        with frame_client(self.url) as connection:
            connection.sendall(b"\x00\x11no frame\xEB" + TEMPERATURE_QUERY)
            self.assertEqual(read_reply(connection, len(TEMPERATURE_REPLY)), TEMPERATURE_REPLY)
            connection.sendall(TEMPERATURE_QUERY[:5])
            time.sleep(0.3)  # the unfinished frame is dropped after 100 ms of quiet
            connection.sendall(TEMPERATURE_QUERY[5:] + TEMPERATURE_QUERY)
            self.assertEqual(read_reply(connection, len(TEMPERATURE_REPLY)), TEMPERATURE_REPLY)
            connection.settimeout(0.5)
            with self.assertRaises(socket.timeout):
                connection.recv(100)
        self.assertEqual(self.setup.sim.control.command("requests"), "2")

    def test_a_client_leaving_mid_exchange_disturbs_no_one(self):
        self.setup.sim.control.command("fault delay=400")
        leaving = frame_client(self.url)
        leaving.sendall(TEMPERATURE_QUERY)
        time.sleep(0.1)  # its exchange is under way
        leaving.close()
        with varek.Varek(self.url) as v:
            self.assertEqual(v.read_temperature(), 25.0)
            v.set_delay(2, 77)
            self.assertEqual(v.read_timing_config(2).delay, 77)
        self.assertEqual(self.api_status()[0], 200)

    def test_a_request_whose_client_left_while_it_waited_never_reaches_the_instrument(self):
        self.setup.sim.control.command("fault delay=400")
        with frame_client(self.url) as running:
            running.sendall(TEMPERATURE_QUERY)
            time.sleep(0.1)  # under way, for 400 ms
            waiting = frame_client(self.url)
            waiting.sendall(TEMPERATURE_QUERY)
            time.sleep(0.05)
            waiting.close()
            self.assertEqual(read_reply(running, len(TEMPERATURE_REPLY)), TEMPERATURE_REPLY)
        time.sleep(0.2)
        self.assertEqual(self.setup.sim.control.command("requests"), "1")

    def test_the_instrument_silent_gives_the_client_its_own_time_out(self):
        self.setup.sim.control.command("fault silent")
        with varek.Varek(self.url) as v:
            started = time.monotonic()
            with self.assertRaises(varek.VarekError) as raised:
                v.software_trigger()
            self.assertEqual(raised.exception.outcome, varek.Outcome.NOTHING_ARRIVED)
            self.assertLess(time.monotonic() - started, 3.0)
            self.assertEqual(v.read_temperature(), 25.0)


class FramePortAccessTest(unittest.TestCase):
    def test_only_the_named_networks_may_connect(self):
        for allowed, served in (("10.0.0.0/8,fd00::/8", False), ("10.0.0.0/8,127.0.0.0/8", True)):
            setup = SlowInstrument(SERVER, SIM, 0, "--frames", "127.0.0.1:0", "--frames-allow", allowed)
            try:
                with frame_client(setup.frames_url) as connection:
                    try:
                        connection.sendall(TEMPERATURE_QUERY)
                        reply = read_reply(connection, len(TEMPERATURE_REPLY))
                    except (ConnectionResetError, BrokenPipeError):
                        reply = b""  # closed, and our request met the closed socket
                    self.assertEqual(reply, TEMPERATURE_REPLY if served else b"", allowed)
            finally:
                setup.stop()

    def test_a_frame_port_beyond_loopback_needs_its_networks_named(self):
        for args, expected in ((["--frames", "0.0.0.0:0"], "--frames-allow"),
                               (["--frames", "127.0.0.1:0", "--frames-allow", "10.0.0.0/33"], "10.0.0.0/33"),
                               (["--frames", "127.0.0.1:0", "--frames-allow", "lab"], "'lab' is none")):
            result = subprocess.run([SERVER, "--port", "/dev/null", *args], capture_output=True, text=True,
                                    timeout=30)
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertIn(expected, result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
