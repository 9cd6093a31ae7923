"""varek-server as a flooded or overloaded lab drives it, measured:
the server's CPU while 400 connections are held against a descriptor limit
of 256, what a new client meets then; how many of 20 fires are carried out
when their clients give up after 1.5 s behind a 300 ms instrument; and how 32
clients behind a 500 ms instrument are answered.

    server_abuse.py VAREK_SERVER VAREK_SIM
"""
import os
import socket
import sys
import time
from collections import Counter

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "support"))
from server_process import SlowInstrument, in_parallel, post_fire  # noqa: E402


def main():
    server, sim = sys.argv[1:3]
    for label, args in (("the default cap", ()), ("--max-connections 1000", ("--max-connections", "1000"))):
        instrument = SlowInstrument(server, sim, 0, *args, prefix=("prlimit", "--nofile=256"))
        flood = [socket.create_connection(("127.0.0.1", instrument.port), timeout=5) for _ in range(400)]
        cpu, started = instrument.cpu_seconds(), time.monotonic()
        time.sleep(3)
        share = (instrument.cpu_seconds() - cpu) / (time.monotonic() - started)
        status, took = post_fire(instrument.port, timeout=15)
        for connection in flood:
            connection.close()
        instrument.stop()
        print(f"400 connections held, descriptor limit 256, {label}: server CPU {share * 100:.1f} %; "
              f"a new client meanwhile: {status} in {took:.2f} s")

    instrument = SlowInstrument(server, sim, 300)
    results = in_parallel(20, lambda _: post_fire(instrument.port, timeout=1.5))
    answered = sum(1 for status, _ in results if status == 200)
    time.sleep(4)
    print(f"20 fires given up after 1.5 s, 300 ms each: {answered} answered, {instrument.fired()} carried out")
    instrument.stop()

    instrument = SlowInstrument(server, sim, 500)
    results = in_parallel(32, lambda _: post_fire(instrument.port, timeout=60))
    statuses = dict(sorted(Counter(status for status, _ in results).items()))
    print(f"32 clients at once, 500 ms each: statuses {statuses}, slowest answer "
          f"{max(took for _, took in results):.1f} s")
    instrument.stop()


if __name__ == "__main__":
    main()
