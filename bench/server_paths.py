"""A paced exchange along each path to one simulated instrument: called
directly through the library, through varek-server's frame port (the library
with socket://) and through its HTTP API; one client, then eight at once.
The paths take turns, five rounds; each figure is the median of the rounds.

    server_paths.py BIN COUNT [trigger|status] [--wine WINE_BIN]

BIN holds varek-sim, varek-server and path_client; with --wine the server and
the clients are the Windows build's (WINE_BIN) under Wine, the instrument
COM12. Prints a Markdown table: latency, the client's and the server's CPU
per exchange, the rate, and the rate against one direct client's; then the
share of the line's time that the exchange's bytes fill (10 bits a byte at
115200 baud, times the rate)."""
import glob
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

BAUD = 115200
# Request and reply bytes of each exchange.
WIRE_BYTES = {"trigger": 10 + 10, "status": 10 + 358}
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
WINE_RUN = os.path.join(ROOT, "build", "windows", "wine_run.sh")


def process_cpu_ns(pid):
    """CPU time of every thread of process `pid` so far, in nanoseconds."""
    total = 0
    for path in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        try:
            with open(path) as stat:
                total += int(stat.read().split()[0])
        except OSError:
            pass  # a thread that ended meanwhile
    return total


class Programs:
    """The server and the client, Linux's or the Windows build's under Wine."""

    def __init__(self, bin_dir, wine_bin):
        self.bin_dir, self.wine_bin = bin_dir, wine_bin

    def command(self, program):
        if self.wine_bin:
            return [WINE_RUN, os.path.join(self.wine_bin, program + ".exe")]
        return [os.path.join(self.bin_dir, program)]

    def client(self, args):
        line = subprocess.run(self.command("path_client") + args, capture_output=True, text=True,
                              check=True).stdout
        return {key: float(value) for key, value in re.findall(r"(\w+)=([\d.]+)", line)}


class Server:
    def __init__(self, programs, port):
        self.programs = programs
        # wine_run.sh ends in exec: the process is the server's own.
        self.process = subprocess.Popen(programs.command("varek-server") + [
            "--port", port, "--listen", "127.0.0.1:0", "--frames", "127.0.0.1:0"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.http = re.search(r"http://([\d.]+:\d+)/", self.process.stdout.readline()).group(1)
        self.frames = re.search(r"socket://\S+", self.process.stdout.readline()).group(0)

    def measured(self, args):
        before = process_cpu_ns(self.process.pid)
        result = self.programs.client(args)
        exchanges = float(args[2]) * (float(args[4]) if len(args) > 4 else 1)
        result["server_cpu_us_per_exchange"] = (process_cpu_ns(self.process.pid) - before) / 1000.0 / exchanges
        return result

    def stop(self):
        self.process.terminate()
        self.process.wait()
        self.process.stdout.close()


def simulator(bin_dir, *options):
    process = subprocess.Popen([os.path.join(bin_dir, "varek-sim"), "--pace", str(BAUD), *options],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    process.stdout.readline()  # device, control
    process.stdout.readline()
    return process


def main():
    args = sys.argv[1:]
    wine_bin = None
    if "--wine" in args:
        at = args.index("--wine")
        wine_bin = args[at + 1]
        del args[at:at + 2]
    bin_dir, count = args[0], int(args[1])
    exchange = args[2] if len(args) > 2 else "trigger"
    programs = Programs(bin_dir, wine_bin)
    if wine_bin:
        link, port = os.path.join(ROOT, "build", "windows", "wineprefix", "dosdevices", "com12"), "COM12"
    else:
        link = port = os.path.join(tempfile.mkdtemp(), "ttyVAREK")
    if os.path.lexists(link):
        os.unlink(link)
    sim = simulator(bin_dir, "--link", link)
    rows = {}
    per_client = max(count // 4, 10)
    try:
        for _ in range(5):
            rows.setdefault(("direct", 1), []).append(programs.client(["library", port, str(count), exchange]))
            server = Server(programs, port)
            try:
                for path, target in (("frame port", server.frames), ("HTTP", server.http)):
                    mode = "library" if path == "frame port" else "http"
                    rows.setdefault((path, 1), []).append(server.measured([mode, target, str(count), exchange]))
                    rows.setdefault((path, 8), []).append(
                        server.measured([mode, target, str(per_client), exchange, "8"]))
            finally:
                server.stop()
            time.sleep(0.5 if wine_bin else 0.2)
    finally:
        sim.terminate()
        sim.wait()

    def median(key, path, clients):
        return statistics.median(result.get(key, 0.0) for result in rows[(path, clients)])

    direct_latency, direct_rate = median("median_us", "direct", 1), median("per_second", "direct", 1)
    wire_s = WIRE_BYTES[exchange] * 10 / BAUD
    print("| path | clients | median µs | p99 µs | latency / direct | client CPU µs/exchange "
          "| server CPU µs/exchange | exchanges/s | rate / direct | line busy | failures |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for (path, clients) in rows:
        latency, rate = median("median_us", path, clients), median("per_second", path, clients)
        failures = int(sum(result["failures"] for result in rows[(path, clients)]))
        server_cpu = "–" if path == "direct" else f"{median('server_cpu_us_per_exchange', path, clients):.1f}"
        print(f"| {path} | {clients} | {latency:.1f} | {median('p99_us', path, clients):.1f} "
              f"| {latency / direct_latency:.3f} | {median('cpu_us_per_exchange', path, clients):.1f} "
              f"| {server_cpu} | {rate:.1f} | {rate / direct_rate:.3f} | {100 * rate * wire_s:.1f} % | {failures} |")


if __name__ == "__main__":
    main()
