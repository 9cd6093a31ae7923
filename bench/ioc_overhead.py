"""What varek-ioc adds, for bench/run_all.sh: a put with callback of a delay
(caput -c, pyepics) through the IOC against the same setting by a direct
library call, and the time from a write's completion to its read-back's
monitor against a direct status read; the simulator paced at 115200 baud,
five rounds each, medians in µs.

    ioc_overhead.py VAREK_SIM COUNT      (the project's environment; VAREK_LIBRARY set)
"""
import os
import statistics
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "python"))
from ioc_process import EpicsPorts, IocProcess  # noqa: E402
from sim_process import SimProcess  # noqa: E402

SIM, COUNT = sys.argv[1], int(sys.argv[2])
PORTS = EpicsPorts()
PORTS.use_as_client()

import epics  # noqa: E402

import varek  # noqa: E402

PACE = ["--pace", "115200"]


def median_us(samples):
    return statistics.median(samples) * 1e6


def direct(device):
    """A delay set, and a status read, by the library itself."""
    sets, reads = [], []
    with varek.Varek(device) as ddg:
        for value in range(COUNT):
            started = time.perf_counter()
            ddg.set_delay(1, value)
            sets.append(time.perf_counter() - started)
            started = time.perf_counter()
            ddg.read_status()
            reads.append(time.perf_counter() - started)
    return median_us(sets), median_us(reads)


def through_ioc(device):
    """A put with callback of the delay, then the wait for its read-back's monitor."""
    ioc = IocProcess(PORTS, "--port", device, "--prefix", "BENCH:", "--poll", "60")
    arrived = threading.Event()
    wanted = [None]
    monitor = epics.PV("BENCH:CH1:Delay_RBV",
                       callback=lambda value=None, **_: value == wanted[0] and arrived.set())
    try:
        monitor.wait_for_connection(10)
        puts, updates = [], []
        for value in range(1, COUNT + 1):
            wanted[0] = value
            arrived.clear()
            started = time.perf_counter()
            epics.caput("BENCH:CH1:Delay", value, wait=True, timeout=10)
            put_done = time.perf_counter()
            arrived.wait(10)
            puts.append(put_done - started)
            updates.append(time.perf_counter() - put_done)
        return median_us(puts), median_us(updates)
    finally:
        monitor.disconnect()
        ioc.stop()


rows = {"direct": [], "ioc": []}
for _ in range(5):
    sim = SimProcess([SIM] + PACE)
    try:
        rows["direct"].append(direct(sim.device))
        rows["ioc"].append(through_ioc(sim.device))
    finally:
        sim.stop()
set_direct = statistics.median(r[0] for r in rows["direct"])
read_direct = statistics.median(r[1] for r in rows["direct"])
put_ioc = statistics.median(r[0] for r in rows["ioc"])
update_ioc = statistics.median(r[1] for r in rows["ioc"])
print(f"a delay set by the library: {set_direct:.0f} µs; by caput -c through varek-ioc: {put_ioc:.0f} µs "
      f"(the IOC's own cost per write: {put_ioc - set_direct:.0f} µs)")
print(f"a status read by the library: {read_direct:.0f} µs; from a write's completion to its read-back's "
      f"monitor: {update_ioc:.0f} µs (beyond one status read: {update_ioc - read_direct:.0f} µs per update)")
