"""Debian's Prometheus, started by a test on loopback with a configuration of
its own that scrapes the given targets every second, and stopped with it."""
import json
import os
import subprocess
import tempfile
import time
import urllib.parse
import urllib.request

from services import free_port, stop_process


class PrometheusProcess:
    def __init__(self, targets):
        self.folder = tempfile.mkdtemp()
        config = os.path.join(self.folder, "prometheus.yml")
        with open(config, "w") as file:
            file.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                       "scrape_configs:\n  - job_name: varek\n    static_configs:\n"
                       f"      - targets: {json.dumps(targets)}\n")
        self.port = free_port()
        self.log = open(os.path.join(self.folder, "prometheus.log"), "w")
        self.process = subprocess.Popen(
            ["prometheus", f"--config.file={config}", f"--web.listen-address=127.0.0.1:{self.port}",
             f"--storage.tsdb.path={os.path.join(self.folder, 'data')}"],
            stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while not self._ready():
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("prometheus did not start: " + open(self.log.name).read()[-2000:])
            time.sleep(0.2)

    def _ready(self):
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/-/ready", timeout=2) as answer:
                return answer.status == 200
        except OSError:
            return False

    def query(self, expression):
        """The instant query's values, as floats (empty when it has none yet)."""
        url = f"http://127.0.0.1:{self.port}/api/v1/query?" + urllib.parse.urlencode({"query": expression})
        with urllib.request.urlopen(url, timeout=5) as answer:
            result = json.load(answer)["data"]["result"]
        return [float(sample["value"][1]) for sample in result]

    def wait_for(self, expression, value, seconds):
        """Whether the query gives `value` within `seconds`."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.query(expression) == [value]:
                return True
            time.sleep(0.3)
        return False

    def stop(self):
        stop_process(self.process)
        self.log.close()
