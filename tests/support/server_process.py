"""varek-server in front of a simulated instrument, as the load tests and
the server benchmarks drive it: the processes, and clients that fire."""
import http.client
import json
import os
import re
import signal
import subprocess
import tempfile
import threading
import time

from sim_process import SimProcess

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


class SlowInstrument:
    """varek-sim (`sim`, behind the command `sim_prefix`) answering every request after `delay_ms`, and
    varek-server (`server`) in front of it, started with `server_args` behind the command `prefix`."""

    def __init__(self, server, sim, delay_ms, *server_args, prefix=(), sim_prefix=()):
        folder = tempfile.mkdtemp()
        link = os.path.join(folder, "ttyVAREK")
        self.sim = SimProcess([*sim_prefix, sim, "--link", link] + (["--delay", str(delay_ms)] if delay_ms else []))
        self.server = subprocess.Popen([*prefix, server, "--port", link, "--listen", "127.0.0.1:0", *server_args],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.server.stdout.readline()
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        if not match:
            self.server.kill()
            self.sim.stop()
            raise RuntimeError(f"varek-server did not start: {line}{self.server.stderr.read()}")
        self.port = int(match.group(1))
        # With --frames, the next line names the frame port.
        self.frames_url = self.server.stdout.readline().split()[-1] if "--frames" in server_args else None

    def fired(self):
        return int(self.sim.control.state()["fired"])

    def cpu_seconds(self):
        with open(f"/proc/{self.server.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS

    def stop(self):
        """Stops the server with SIGTERM; returns (exit code, stderr)."""
        if self.server.poll() is None:
            self.server.send_signal(signal.SIGTERM)
        try:
            _, errors = self.server.communicate(timeout=15)
        finally:
            self.sim.stop()
        return self.server.returncode, errors


def post_fire(port, timeout):
    """(status, seconds taken); status None when the client gave up or lost the connection."""
    status, took, _ = post_fire_answer(port, timeout)
    return status, took


def post_fire_answer(port, timeout):
    """(status, seconds taken, the JSON answer); status and answer None when the client gave up or lost
    the connection."""
    started = time.monotonic()
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        connection.request("POST", "/api/v1/fire")
        response = connection.getresponse()
        body = response.read()
        return response.status, time.monotonic() - started, json.loads(body) if body else None
    except (OSError, http.client.HTTPException):
        return None, time.monotonic() - started, None
    finally:
        connection.close()


def in_parallel(count, function):
    results = [None] * count

    def run(index):
        results[index] = function(index)

    threads = [threading.Thread(target=run, args=(index,)) for index in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return results
