"""Timing one call the way the Python benchmarks do."""
import statistics
import time


def median_us(call, count):
    """The median time of `count` calls of `call`, in microseconds."""
    times = []
    for _ in range(count):
        start = time.perf_counter_ns()
        call()
        times.append(time.perf_counter_ns() - start)
    return statistics.median(times) / 1000.0
