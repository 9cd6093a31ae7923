"""An exchange through varek-server against the same exchange as a direct
library call, on a simulated instrument paced at 115200 baud: a software
trigger (POST /api/v1/fire against varek_software_trigger) and a full read
(GET /api/v1/instrument, one status read and one temperature read, against
varek_read_timing_config and varek_read_temperature). The two take turns,
five runs each; the server holds the port only during its runs.

    server_bench.py VAREK_SERVER VAREK_SIM LIBRARY [COUNT]

Prints, per exchange, the median over five runs of each run's median in
microseconds, and the server's extra time in percent; then what the HTTP round
trip alone costs (a 404 answered without the instrument), the part of the
extra time that no change inside the server's instrument queue can remove."""
import ctypes
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import os

from call_timing import median_us


def main():
    server, sim, library = sys.argv[1:4]
    count = int(sys.argv[4]) if len(sys.argv) > 4 else 200
    lib = ctypes.CDLL(library)  # before the simulator starts, so that a wrong path leaves nothing running
    lib.varek_init.restype = ctypes.c_void_p
    lib.varek_init.argtypes = [ctypes.c_char_p, ctypes.c_int32]
    for name in ("varek_software_trigger", "varek_close"):
        getattr(lib, name).argtypes = [ctypes.c_void_p]
    lib.varek_read_temperature.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_float)]
    lib.varek_read_timing_config.argtypes = [ctypes.c_void_p, ctypes.c_int32] + [ctypes.c_void_p] * 4
    temperature, delay = ctypes.c_float(), ctypes.c_int64()

    def checked(result, expected=(0, 200)):
        if result not in expected:
            raise RuntimeError(f"a benchmark exchange failed: {result}")

    link = os.path.join(tempfile.mkdtemp(), "ttyVAREK")
    simulator = subprocess.Popen([sim, "--pace", "115200", "--link", link], stdout=subprocess.PIPE, text=True)
    simulator.stdout.readline()
    simulator.stdout.readline()
    results = {"fire": {"direct": [], "server": []}, "instrument": {"direct": [], "server": []}}
    http_alone = []
    reads = max(count // 10, 5)
    try:
        for _ in range(5):
            handle = lib.varek_init(link.encode(), 0)
            results["fire"]["direct"].append(median_us(lambda: checked(lib.varek_software_trigger(handle)), count))
            results["instrument"]["direct"].append(median_us(
                lambda: (checked(lib.varek_read_timing_config(handle, 1, ctypes.byref(delay), None, None, None)),
                         checked(lib.varek_read_temperature(handle, ctypes.byref(temperature)))), reads))
            lib.varek_close(handle)

            process = subprocess.Popen([server, "--port", link, "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                                       text=True)
            port = int(re.search(r":(\d+)/", process.stdout.readline()).group(1))
            connection = socket.create_connection(("127.0.0.1", port))
            connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

            def ask(method, path, expected=(200,)):
                # As lean as the direct call: one prepared request, the answer read to its length.
                connection.sendall(f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n".encode())
                answer = b""
                while b"\r\n\r\n" not in answer:
                    answer += connection.recv(65536)
                head, body = answer.split(b"\r\n\r\n", 1)
                length = int(re.search(rb"Content-Length: (\d+)", head, re.I).group(1))
                while len(body) < length:
                    body += connection.recv(65536)
                checked(int(head.split()[1]), expected)

            results["fire"]["server"].append(median_us(lambda: ask("POST", "/api/v1/fire"), count))
            results["instrument"]["server"].append(median_us(lambda: ask("GET", "/api/v1/instrument"), reads))
            http_alone.append(median_us(lambda: ask("GET", "/api/v1/none", (404,)), count))
            connection.close()
            process.terminate()
            process.wait()
            process.stdout.close()
    finally:
        simulator.terminate()
        simulator.wait()
    for exchange, ways in results.items():
        direct, through = statistics.median(ways["direct"]), statistics.median(ways["server"])
        print(f"{exchange}: direct median_us={direct:.1f}, through the server median_us={through:.1f}, "
              f"extra={100.0 * (through - direct) / direct:+.1f}%")
    print(f"the HTTP round trip alone (an answer that never reaches the instrument): "
          f"median_us={statistics.median(http_alone):.1f}")


if __name__ == "__main__":
    main()
