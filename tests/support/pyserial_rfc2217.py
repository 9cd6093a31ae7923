"""pySerial's own RFC 2217 server (Debian's python3-serial ships it as an
example) serving loop://, which echoes each request back, bound to loopback
alone on a port of its own. It serves one client at a time and turns to the
next only once its reader's 3 s time-out has passed: a server unlike ser2net.

    PySerialRfc2217Server().url -> rfc2217://127.0.0.1:PORT
"""
import os
import runpy
import signal
import socket
import subprocess
import sys
import time

from ser2net_process import free_loopback_port, listening

EXAMPLE = "/usr/share/doc/python3-serial/examples/rfc2217_server.py"


class PySerialRfc2217Server:
    def __init__(self):
        self.port = free_loopback_port()
        self.url = f"rfc2217://127.0.0.1:{self.port}"
        env = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
        self.process = subprocess.Popen(["/usr/bin/python3", __file__, "-p", str(self.port), "loop://"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        deadline = time.monotonic() + 10
        while not listening(self.port):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"pySerial's RFC 2217 server did not listen on {self.port}")
            time.sleep(0.02)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def _serve_on_loopback_only():
    """Runs the example with its listening socket bound to 127.0.0.1 instead of every address."""
    bind = socket.socket.bind

    def loopback_bind(self, address):
        if isinstance(address, tuple) and address[0] == "":
            address = ("127.0.0.1",) + tuple(address[1:])
        return bind(self, address)

    socket.socket.bind = loopback_bind
    sys.argv = [EXAMPLE] + sys.argv[1:]
    runpy.run_path(EXAMPLE, run_name="__main__")


if __name__ == "__main__":
    _serve_on_loopback_only()
