"""varek-server against clients that try to hold or flood it: idle frame
clients past the limit, connections that send garbage by the thousand,
request heads that announce the longest frame, links planted beside the
state file, and /metrics with and without the token. Loopback only, every
loop bounded in count and time.

    test_server_hostile.py VAREK_SERVER VAREK_SIM      (VAREK_LIBRARY set; Linux, as root for the tmpfs)
"""
import http.client
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SERVER, SIM = sys.argv[1:3]
del sys.argv[1:]
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))
from server_process import SlowInstrument  # noqa: E402

import varek  # noqa: E402

# What the server answers for when it makes room (the same 10 s as its own rule).
IDLE_BEFORE_MAKING_ROOM_S = 10


def frame_address(url):
    host, port = url[len("socket://"):].rsplit(":", 1)
    return host, int(port)


def closed_by_server(connection, within):
    """Whether the server closes `connection` within `within` seconds."""
    connection.settimeout(within)
    try:
        return connection.recv(1) == b""
    except socket.timeout:
        return False
    except ConnectionResetError:
        return True


def request(port, method, path, token=None, body=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=15)
    headers = {"Authorization": "Bearer " + token} if token else {}
    if body is not None:
        headers["Content-Type"] = "application/json"
    connection.request(method, path, body=body, headers=headers)
    response = connection.getresponse()
    response.read()
    connection.close()
    return response.status


class FramePortTest(unittest.TestCase):
    def start(self, *args):
        setup = SlowInstrument(SERVER, SIM, 0, "--frames", "127.0.0.1:0", "--poll", "0", *args)
        self.addCleanup(lambda: setup.server.poll() is None and setup.stop())
        return setup

    def test_idle_clients_past_the_limit_give_way_to_a_new_one(self):
        setup = self.start("--max-connections", "64")
        address = frame_address(setup.frames_url)
        idle = [socket.create_connection(address, timeout=5) for _ in range(200)]
        self.addCleanup(lambda: [connection.close() for connection in idle])
        turned_away = sum(closed_by_server(connection, 0.5) for connection in idle[64:])
        self.assertGreater(turned_away, 100, "clients past the limit are closed at once")
        with self.assertRaises(varek.VarekError):
            varek.Varek(setup.frames_url).read_temperature()  # none of them idle long enough yet
        time.sleep(IDLE_BEFORE_MAKING_ROOM_S + 0.5)
        with varek.Varek(setup.frames_url) as newcomer:
            self.assertEqual(newcomer.read_temperature(), 25.0)
        _, log = setup.stop()
        self.assertRegex(log, r"frame client 127\.0\.0\.1:\d+ closed to make room for 127\.0\.0\.1:\d+, idle for")

    def test_a_client_idle_past_frames_idle_is_closed(self):
        setup = self.start("--frames-idle", "1")
        with socket.create_connection(frame_address(setup.frames_url)) as client:
            started = time.monotonic()
            self.assertTrue(closed_by_server(client, 5))
            self.assertGreaterEqual(time.monotonic() - started, 0.9)
        with varek.Varek(setup.frames_url) as busy:  # a client that keeps asking stays
            for _ in range(12):
                self.assertEqual(busy.read_temperature(), 25.0)
                time.sleep(0.2)

    def test_garbage_from_thousands_of_connections_does_not_fill_the_log(self):
        setup = self.start()
        address = frame_address(setup.frames_url)
        for _ in range(2000):
            with socket.create_connection(address) as client:
                client.sendall(b"GET / HTTP/1.0\r\n\r\n")
        time.sleep(0.3)
        _, log = setup.stop()
        garbage = [line for line in log.splitlines() if "no request frame" in line]
        self.assertGreater(len(garbage), 0)
        self.assertLessEqual(len(garbage), 10, "at most 5 lines in 10 s")
        self.assertLess(len(log), 4096)

    def test_heads_of_the_longest_frame_cost_little_and_block_no_one(self):
        setup = self.start()
        heads = b"\xeb\x90\xff\xff\x01\x02\x03" * 1500  # about 10 kB
        stop = threading.Event()

        def flood():
            with socket.create_connection(frame_address(setup.frames_url)) as client:
                while not stop.is_set():  # about 1 MB/s
                    client.sendall(heads)
                    time.sleep(0.01)

        flooder = threading.Thread(target=flood)
        flooder.start()
        try:
            time.sleep(0.5)
            cpu_before, started = setup.cpu_seconds(), time.monotonic()
            with varek.Varek(setup.frames_url) as other:
                for _ in range(10):
                    self.assertEqual(other.read_temperature(), 25.0)
                    time.sleep(0.2)
            share = (setup.cpu_seconds() - cpu_before) / (time.monotonic() - started)
        finally:
            stop.set()
            flooder.join()
        self.assertLess(share, 0.3, f"the server used {share:.0%} of a core")


class StateFileTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.state_file = os.path.join(self.folder, "lab1.json")
        self.victim = os.path.join(self.folder, "victim")
        with open(self.victim, "w") as file:
            file.write("precious\n")

    def start(self):
        setup = SlowInstrument(SERVER, SIM, 0, "--state-file", self.state_file, "--poll", "0")
        self.addCleanup(lambda: setup.server.poll() is None and setup.stop())
        return setup

    def temporary_names(self, pid):
        return [f"{self.state_file}.{pid}.{n}.tmp" for n in range(8)]

    def test_links_at_every_temporary_name_are_never_followed(self):
        setup = self.start()
        names = self.temporary_names(setup.server.pid)
        for name in names:
            os.symlink(self.victim, name)
        body = '{"delay": 4321}'
        # The setting reaches the instrument; keeping it fails, and says why.
        self.assertEqual(request(setup.port, "PUT", "/api/v1/channels/2", body=body), 200)
        with open(self.victim) as file:
            self.assertEqual(file.read(), "precious\n")
        self.assertFalse(os.path.islink(self.state_file))
        # One name free again: the write goes there, and the links stay links.
        os.unlink(names[5])
        self.assertEqual(request(setup.port, "PUT", "/api/v1/channels/2", body=body), 200)
        with open(self.state_file) as file:
            self.assertIn("4321", file.read())
        self.assertFalse(os.path.islink(self.state_file))
        self.assertFalse(os.path.exists(names[5]))
        for name in names[:5] + names[6:]:
            self.assertTrue(os.path.islink(name))
        with open(self.victim) as file:
            self.assertEqual(file.read(), "precious\n")
        _, log = setup.stop()
        self.assertIn(f"what was set could not be kept: cannot create a temporary file beside {self.state_file}: "
                      f"{names[0]} to {names[7]} all exist already", log)

    def test_a_state_file_that_is_a_link_or_no_file_is_refused_at_start(self):
        os.symlink(self.victim, self.state_file)
        for state_file, words in ((self.state_file, "is a symbolic link"), ("/dev/full", "is not a regular file")):
            result = subprocess.run([SERVER, "--port", "sim", "--listen", "127.0.0.1:0", "--state-file", state_file],
                                    capture_output=True, text=True, timeout=30)
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertIn(f"--state-file {state_file} {words}", result.stderr)
        with open(self.victim) as file:
            self.assertEqual(file.read(), "precious\n")

    def test_a_write_error_is_named_as_the_system_names_it(self):
        # A folder on a full file system of its own, in a mount namespace of the test's.
        script = ('mount -t tmpfs -o size=4k varek-full "$0" && '
                  'head -c 1000000 /dev/zero > "$0/filler" 2>/dev/null; exec "$@"')
        result = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c", script, self.folder,
                                 SERVER, "--port", "sim", "--listen", "127.0.0.1:0", "--state-file", self.state_file],
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn("No space left on device", result.stderr)


class MetricsTest(unittest.TestCase):
    def start(self, *args):
        setup = SlowInstrument(SERVER, SIM, 0, "--poll", "0", *args)
        self.addCleanup(lambda: setup.server.poll() is None and setup.stop())
        return setup

    def test_metrics_need_the_token_when_there_is_one_unless_opened(self):
        token_file = os.path.join(tempfile.mkdtemp(), "token")
        with open(token_file, "w") as file:
            file.write("sesame\n")
        guarded = self.start("--token-file", token_file)
        self.assertEqual(request(guarded.port, "GET", "/metrics"), 401)
        self.assertEqual(request(guarded.port, "GET", "/metrics", token="sesame"), 200)
        opened = self.start("--token-file", token_file, "--metrics-open")
        self.assertEqual(request(opened.port, "GET", "/metrics"), 200)
        self.assertEqual(request(opened.port, "GET", "/api/v1/instrument"), 401)
        without = self.start()
        self.assertEqual(request(without.port, "GET", "/metrics"), 200)


if __name__ == "__main__":
    unittest.main(verbosity=2)
