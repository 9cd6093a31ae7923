"""varek-ioc in a process of its own, on loopback ports of the test's own set
through the standard EPICS variables, and the client side of those variables
(searches sent to the test's own ports alone).

    ports = EpicsPorts()                 # before the first import of epics or p4p
    ports.use_as_client()
    ioc = IocProcess(ports, "--port", sim.device, "--prefix", "T1:")
"""
import os
import signal
import subprocess
import sys
import threading
import time

from services import free_port

ROOT = os.path.join(os.path.dirname(__file__), "..", "..")


class EpicsPorts:
    """A Channel Access port and a PVAccess port (and its UDP broadcast port) for one test run."""

    def __init__(self):
        self.ca, self.pva, self.pva_broadcast = free_port(), free_port(), free_port()

    def server_environment(self):
        return {"EPICS_CAS_INTF_ADDR_LIST": "127.0.0.1", "EPICS_CAS_SERVER_PORT": str(self.ca),
                "EPICS_CAS_BEACON_ADDR_LIST": "127.0.0.1", "EPICS_CAS_AUTO_BEACON_ADDR_LIST": "NO",
                "EPICS_PVAS_INTF_ADDR_LIST": "127.0.0.1", "EPICS_PVAS_SERVER_PORT": str(self.pva),
                "EPICS_PVAS_BROADCAST_PORT": str(self.pva_broadcast)}

    def use_as_client(self):
        """Points this process's Channel Access and PVAccess clients at the test's IOC alone: searches
        go to its ports (one IOC at a time listens there, so that it hears them all, however often it
        is restarted)."""
        os.environ.update({"EPICS_CA_AUTO_ADDR_LIST": "NO", "EPICS_CA_ADDR_LIST": f"127.0.0.1:{self.ca}",
                           "EPICS_PVA_AUTO_ADDR_LIST": "NO", "EPICS_PVA_ADDR_LIST": "",
                           "EPICS_PVA_NAME_SERVERS": f"127.0.0.1:{self.pva}"})


class IocProcess:
    """varek-ioc ARGS, run by this interpreter from the repository's python/; `ready` once its records serve."""

    def __init__(self, ports, *args, python=sys.executable, wait=True):
        environment = {**os.environ, **ports.server_environment(),
                       "PYTHONPATH": os.path.join(ROOT, "python")}
        # EPICS base's banner goes to stdout: nothing a test reads.
        self.process = subprocess.Popen([python, "-m", "varek.epics", *args], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                        env=environment)
        self.errors = ""
        if wait:
            self._await_start()

    def _await_start(self):
        started = threading.Event()

        def collect():  # all it says, so that its pipe never fills
            for line in self.process.stderr:
                self.errors += line
                if " started: " in line:
                    started.set()

        self._collector = threading.Thread(target=collect, daemon=True)
        self._collector.start()
        if not started.wait(30):
            self.stop()
            raise RuntimeError(f"varek-ioc did not start: {self.errors}")

    def stop(self, sig=signal.SIGTERM, timeout=10):
        """Stops it with `sig`; returns (exit code, seconds it took, its stderr)."""
        started = time.monotonic()
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        took = time.monotonic() - started
        if getattr(self, "_collector", None):
            self._collector.join(timeout=5)
        else:
            self.errors += self.process.stderr.read()
        self.process.stderr.close()
        return self.process.returncode, took, self.errors
