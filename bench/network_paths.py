"""Exchanges over the network paths, for bench/run_all.sh: each client line
as "LABEL|median_us=... p99_us=... cpu_us_per_exchange=... failures=...",
five rounds of each client in turn, for bench/median_row.py.

    network_paths.py terminal-server BIN COUNT
        the library and pySerial's serial_for_url over socket:// through
        ser2net (and the library over rfc2217://), an unpaced simulator;
    network_paths.py frame-port BIN COUNT
        the library through ser2net directly against the library through
        varek-server's frame port in front of the same ser2net, the
        simulator paced at 115200 baud.
"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "support"))
from ser2net_process import Ser2net  # noqa: E402
from sim_process import SimProcess  # noqa: E402

PYTHON = "/usr/bin/python3"  # Debian's, with python3-serial
HERE = os.path.dirname(os.path.abspath(__file__))


def client_line(label, command):
    if callable(command):
        return f"{label}|{command()}"
    return f"{label}|{subprocess.run(command, capture_output=True, text=True, check=True).stdout.strip()}"


class FramePortClient:
    """The library's client through a varek-server that holds `port` while the client runs."""

    def __init__(self, bin_dir, port, library, count):
        self.server = [os.path.join(bin_dir, "varek-server"), "--port", port, "--listen", "127.0.0.1:0",
                       "--frames", "127.0.0.1:0"]
        self.library, self.count = library, count

    def __call__(self):
        server = subprocess.Popen(self.server, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            server.stdout.readline()
            frames = re.search(r"socket://\S+", server.stdout.readline()).group(0)
            command = self.library + [frames, self.count, "status"]
            return subprocess.run(command, capture_output=True, text=True, check=True).stdout.strip()
        finally:
            server.terminate()
            server.wait()


def main():
    mode, bin_dir, count = sys.argv[1], sys.argv[2], sys.argv[3]
    library = [os.path.join(bin_dir, "exchange_client")]
    sim = SimProcess([os.path.join(bin_dir, "varek-sim")] + (["--pace", "115200"] if mode == "frame-port" else []))
    raw = Ser2net(sim.device, "socket")
    cleanups = [sim.stop, raw.stop]
    try:
        if mode == "terminal-server":
            telnet_sim = SimProcess([os.path.join(bin_dir, "varek-sim")])
            telnet = Ser2net(telnet_sim.device, "rfc2217")
            cleanups += [telnet_sim.stop, telnet.stop]
            clients = [("varek, socket:// via ser2net", library + [raw.url, count, "status"]),
                       ("pySerial serial_for_url, socket:// via ser2net",
                        [PYTHON, os.path.join(HERE, "pyserial_client.py"), raw.url, count, "status"]),
                       ("varek, rfc2217:// via ser2net", library + [telnet.url, count, "status"])]
        else:
            # ser2net serves one client at a time: the server holds it only
            # while its own client runs.
            clients = [("varek → ser2net", library + [raw.url, count, "status"]),
                       ("varek → varek-server --frames → ser2net", FramePortClient(bin_dir, raw.url, library, count))]
        for _ in range(5):
            for label, command in clients:
                print(client_line(label, command), flush=True)
                # ser2net lets the device go a moment after its client leaves.
                time.sleep(0.3)
    finally:
        for cleanup in reversed(cleanups):
            cleanup()


if __name__ == "__main__":
    main()
