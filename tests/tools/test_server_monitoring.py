"""varek-server as an operator and a monitoring system see it: its log lines
on stderr, GET /metrics checked by Debian's promtool and scraped by a real
Prometheus started on loopback, and its own reads after --poll seconds.

    test_server_monitoring.py VAREK_SERVER VAREK_SIM      (Linux; prometheus, promtool)
"""
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

SERVER, SIM = sys.argv[1:3]
del sys.argv[1:]
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from prometheus_process import PrometheusProcess  # noqa: E402
from server_process import SlowInstrument  # noqa: E402

TIMESTAMP = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ"


def get(port, path, token=None):
    request = urllib.request.Request(f"http://127.0.0.1:{port}{path}")
    if token:
        request.add_header("Authorization", "Bearer " + token)
    try:
        with urllib.request.urlopen(request, timeout=10) as answer:
            return answer.status, answer.headers.get("Content-Type"), answer.read().decode()
    except urllib.error.HTTPError as refusal:
        return refusal.code, refusal.headers.get("Content-Type"), refusal.read().decode()


def metric(text, name):
    match = re.search(rf"^{re.escape(name)} (\S+)$", text, re.MULTILINE)
    return float(match.group(1)) if match else None


class MonitoringTest(unittest.TestCase):
    def start(self, *args):
        setup = SlowInstrument(SERVER, SIM, 0, *args)
        self.addCleanup(lambda: setup.server.poll() is None and setup.stop())
        return setup

    def test_log_lines_say_what_happened_with_the_time(self):
        setup = self.start("--poll", "1")
        setup.sim.control.command("hangup")
        time.sleep(1.8)  # the server's own read finds the port gone
        setup.sim.control.command("revive")
        time.sleep(1.8)  # and back
        with socket.create_connection(("127.0.0.1", setup.port)):
            pass
        code, log = setup.stop()
        self.assertEqual(code, 0, log)
        lines = log.splitlines()
        for line in lines:
            self.assertRegex(line, "^" + TIMESTAMP + " ")
        self.assertRegex(lines[0], TIMESTAMP + r" started: instrument on \S+, listening on 127\.0\.0\.1:\d+, "
                                   r"no token$")
        self.assertRegex(log, r"port \S+ lost: .*; trying it again every second")
        self.assertRegex(log, r"port \S+ back")
        self.assertIn("stopping, as a signal asked", lines[-1])

    def test_a_refused_token_and_garbage_on_the_frame_port_are_logged(self):
        folder = tempfile.mkdtemp()
        token_file = os.path.join(folder, "token")
        with open(token_file, "w") as file:
            file.write("sesame\n")
        setup = self.start("--token-file", token_file, "--frames", "127.0.0.1:0", "--poll", "0")
        self.assertEqual(get(setup.port, "/api/v1/instrument")[0], 401)
        self.assertEqual(get(setup.port, "/api/v1/instrument", token="wrong")[0], 401)
        # With a token file the metrics need the token too.
        self.assertEqual(get(setup.port, "/metrics")[0], 401)
        status, content_type, text = get(setup.port, "/metrics", token="sesame")
        self.assertEqual((status, content_type), (200, "text/plain; version=0.0.4; charset=utf-8"))
        host, port = setup.frames_url.replace("socket://", "").rsplit(":", 1)
        with socket.create_connection((host, int(port))) as client:
            client.sendall(b"GET / HTTP/1.0\r\n\r\n")
            time.sleep(0.3)
        code, log = setup.stop()
        self.assertRegex(log, TIMESTAMP + r" refused GET /api/v1/instrument from 127\.0\.0\.1:\d+: no token given")
        self.assertRegex(log, r"refused GET /api/v1/instrument from 127\.0\.0\.1:\d+: not the token")
        self.assertRegex(log, r"frame client 127\.0\.0\.1:\d+ sent 18 bytes that are no request frame")

    def test_a_flood_of_refused_tokens_does_not_fill_the_log(self):
        folder = tempfile.mkdtemp()
        token_file = os.path.join(folder, "token")
        with open(token_file, "w") as file:
            file.write("sesame\n")
        setup = self.start("--token-file", token_file, "--poll", "0")
        for _ in range(40):
            self.assertEqual(get(setup.port, "/api/v1/instrument", token="guess")[0], 401)
        # The window over, the next refusal is logged with the count of those held back.
        time.sleep(10.5)
        self.assertEqual(get(setup.port, "/api/v1/instrument", token="guess")[0], 401)
        code, log = setup.stop()
        refused = [line for line in log.splitlines() if " refused GET " in line]
        self.assertEqual(len(refused), 6, log)
        self.assertTrue(refused[-1].endswith("not the token (and 35 more like it, not logged)"), refused[-1])

    def test_a_setting_whose_reply_was_lost_is_logged_as_unknown(self):
        setup = self.start("--poll", "0")
        setup.sim.control.command("fault silent")
        request = urllib.request.Request(f"http://127.0.0.1:{setup.port}/api/v1/channels/4", method="PUT",
                                         data=b'{"enabled": true}', headers={"Content-Type": "application/json"})
        with self.assertRaises(urllib.error.HTTPError) as failed:
            urllib.request.urlopen(request, timeout=10)
        self.assertEqual(failed.exception.code, 502)
        code, log = setup.stop()
        self.assertRegex(log, TIMESTAMP + r" channels\.4\.output is unknown until set again: "
                                          r"its request failed after it went out")

    def test_another_program_on_the_listen_address_is_named(self):
        setup = self.start()
        second = subprocess.run([SERVER, "--port", "sim", "--listen", f"127.0.0.1:{setup.port}"],
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(second.returncode, 1)
        self.assertIn(f"another program listens on 127.0.0.1:{setup.port}", second.stderr)

    def test_metrics_pass_promtool_and_count_what_happened(self):
        setup = self.start("--poll", "0")
        self.assertEqual(get(setup.port, "/api/v1/instrument")[0], 200)
        setup.sim.control.command("fault silent")
        self.assertEqual(get(setup.port, "/api/v1/instrument")[0], 502)
        text = get(setup.port, "/metrics")[2]
        check = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True, text=True)
        self.assertEqual((check.returncode, check.stdout + check.stderr), (0, ""))
        self.assertEqual(metric(text, "varek_port_up"), 1)
        self.assertEqual(metric(text, 'varek_exchanges_total{outcome="succeeded"}'), 1)
        self.assertEqual(metric(text, 'varek_exchanges_total{outcome="nothing_arrived"}'), 1)
        self.assertEqual(metric(text, "varek_exchange_duration_seconds_count"), 2)
        self.assertGreater(metric(text, "varek_exchange_duration_seconds_sum"), 0.9, "a time-out takes 1 s")
        self.assertEqual(metric(text, 'varek_exchange_duration_seconds_bucket{le="0.5"}'), 1)
        self.assertEqual(metric(text, "varek_temperature"), 25)
        self.assertEqual(metric(text, 'varek_http_requests_total{code="502"}'), 1)
        self.assertEqual(metric(text, "varek_drift"), 0)

    def test_the_server_reads_the_instrument_itself_when_idle(self):
        setup = self.start("--poll", "1")
        setup.sim.control.command("temperature 31.5")
        time.sleep(2.5)
        self.assertGreaterEqual(int(setup.sim.control.command("requests")), 2)
        self.assertEqual(metric(get(setup.port, "/metrics")[2], "varek_temperature"), 31.5)
        history = __import__("json").loads(get(setup.port, "/api/v1/instrument")[2])["temperature_history"]
        self.assertIn(31.5, [value for _, value in history])
        self.assertLess(abs(history[-1][0] - time.time()), 5)
        quiet = self.start("--poll", "0")
        time.sleep(1.5)
        self.assertEqual(quiet.sim.control.command("requests"), "0")

    def test_prometheus_scrapes_the_port_going_down_and_up(self):
        setup = self.start("--poll", "1")
        prometheus = PrometheusProcess([f"127.0.0.1:{setup.port}"])
        self.addCleanup(prometheus.stop)
        self.assertTrue(prometheus.wait_for("varek_port_up", 1.0, 30), "varek_port_up 1 never scraped")
        setup.sim.control.command("hangup")
        self.assertTrue(prometheus.wait_for("varek_port_up", 0.0, 15), "varek_port_up 0 never scraped")
        setup.sim.control.command("revive")
        self.assertTrue(prometheus.wait_for("varek_port_up", 1.0, 15), "varek_port_up 1 not scraped again")
        self.assertTrue(prometheus.wait_for("varek_port_reopens_total", 1.0, 15))


if __name__ == "__main__":
    unittest.main(verbosity=2)
