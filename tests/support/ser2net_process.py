"""ser2net, the terminal server Debian packages, in front of a serial device:
raw TCP ("socket") or Telnet with RFC 2217 ("rfc2217"), on a loopback port of
its own, with a configuration file of the test's."""
import os
import signal
import socket
import subprocess
import tempfile
import time

ACCEPTERS = {"socket": "tcp,127.0.0.1,{port}", "rfc2217": "telnet(rfc2217),tcp,127.0.0.1,{port}"}


def free_loopback_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def listening(port):
    """True when a socket listens on 127.0.0.1:`port`, judged from /proc without connecting
    (a connection would make ser2net open the device, and a client right after could find it busy)."""
    wanted = f"0100007F:{port:04X}"
    with open("/proc/net/tcp") as table:
        return any(fields[1] == wanted and fields[3] == "0A"
                   for fields in (line.split() for line in list(table)[1:]))


class Ser2net:
    """ser2net serving `device` at 115200n81 in `kind` mode; `url` is what the library opens."""

    def __init__(self, device, kind):
        self.folder = tempfile.mkdtemp()
        self.port = free_loopback_port()
        self.url = f"{kind}://127.0.0.1:{self.port}"
        self.config = os.path.join(self.folder, "ser2net.yaml")
        with open(self.config, "w") as config:
            config.write(f"connection: &line\n"
                         f"  accepter: {ACCEPTERS[kind].format(port=self.port)}\n"
                         f"  connector: serialdev,{device},115200n81,local\n")
        self.process = None
        self.start()

    def start(self):
        # Not ours to instrument: a sanitizer runtime preloaded for the test's
        # own interpreter stays out of it.
        env = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
        self.process = subprocess.Popen(["ser2net", "-n", "-c", self.config, "-P",
                                         os.path.join(self.folder, "pid")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
        deadline = time.monotonic() + 10
        while not listening(self.port):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"ser2net did not listen on {self.port}: {self.process.stderr.read()}")
            time.sleep(0.02)

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process is not None:
            self.process.stderr.close()
