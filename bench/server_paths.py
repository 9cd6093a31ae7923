"""A paced exchange along each path to one simulated instrument: called
directly through the library, through varek-server's frame port (the library
with socket://) and through its HTTP API; one client, then eight at once.
The paths take turns, five rounds; each figure is the median of the rounds.

    server_paths.py BIN COUNT [trigger|status]

BIN holds varek-sim, varek-server and path_client. Prints a Markdown table:
latency, the client's and the server's CPU per exchange, the rate, and the
rate against one direct client's; then the share of the line's time that
the instrument's bytes fill (the exchange's bytes at 115200 baud, times the
rate)."""
import glob
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

BAUD = 115200
# Request and reply bytes of each exchange, 10 bits each on the line.
WIRE_BYTES = {"trigger": 10 + 10, "status": 10 + 358}


def server_cpu_ns(pid):
    """CPU time of every thread of process `pid` so far, in nanoseconds."""
    total = 0
    for path in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        try:
            with open(path) as stat:
                total += int(stat.read().split()[0])
        except OSError:
            pass  # a thread that ended meanwhile
    return total


def run_client(bin_dir, args):
    line = subprocess.run([os.path.join(bin_dir, "path_client")] + args, capture_output=True, text=True,
                          check=True).stdout
    return {key: float(value) for key, value in re.findall(r"(\w+)=([\d.]+)", line)}


class Server:
    def __init__(self, bin_dir, port):
        self.process = subprocess.Popen([os.path.join(bin_dir, "varek-server"), "--port", port, "--listen",
                                         "127.0.0.1:0", "--frames", "127.0.0.1:0"],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.http = re.search(r"http://([\d.]+:\d+)/", self.process.stdout.readline()).group(1)
        self.frames = re.search(r"socket://\S+", self.process.stdout.readline()).group(0)

    def measured(self, bin_dir, args):
        before = server_cpu_ns(self.process.pid)
        result = run_client(bin_dir, args)
        exchanges = float(args[2]) * (float(args[4]) if len(args) > 4 else 1)
        result["server_cpu_us_per_exchange"] = (server_cpu_ns(self.process.pid) - before) / 1000.0 / exchanges
        return result

    def stop(self):
        self.process.terminate()
        self.process.wait()
        self.process.stdout.close()


def main():
    bin_dir, count = sys.argv[1], int(sys.argv[2])
    exchange = sys.argv[3] if len(sys.argv) > 3 else "trigger"
    link = os.path.join(tempfile.mkdtemp(), "ttyVAREK")
    sim = subprocess.Popen([os.path.join(bin_dir, "varek-sim"), "--pace", str(BAUD), "--link", link],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    sim.stdout.readline()
    sim.stdout.readline()
    rows = {}
    per_client = max(count // 4, 10)
    try:
        for _ in range(5):
            rows.setdefault(("direct", 1), []).append(run_client(bin_dir, ["library", link, str(count), exchange]))
            server = Server(bin_dir, link)
            try:
                for path, target in (("frame port", server.frames), ("HTTP", server.http)):
                    mode = "library" if path == "frame port" else "http"
                    rows.setdefault((path, 1), []).append(
                        server.measured(bin_dir, [mode, target, str(count), exchange]))
                    rows.setdefault((path, 8), []).append(
                        server.measured(bin_dir, [mode, target, str(per_client), exchange, "8"]))
            finally:
                server.stop()
            time.sleep(0.2)
    finally:
        sim.terminate()
        sim.wait()

    def median(key, path, clients):
        return statistics.median(result.get(key, 0.0) for result in rows[(path, clients)])

    direct_latency, direct_rate = median("median_us", "direct", 1), median("per_second", "direct", 1)
    wire_s = WIRE_BYTES[exchange] * 10 / BAUD
    print(f"| path | clients | median µs | p99 µs | latency / direct | client CPU µs/exchange "
          f"| server CPU µs/exchange | exchanges/s | rate / direct | line busy | failures |")
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
