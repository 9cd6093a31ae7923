"""What the varek Python package adds to a call, against bare ctypes calls of
the same C function on the same library: an unpaced software trigger through
each, taking turns against one simulated instrument.

    python_overhead.py PORT LIBRARY [COUNT]

Prints one line per way: the median over five runs of each run's median call
time in microseconds, and the package's overhead in percent."""
import ctypes
import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "python"))
from call_timing import median_us  # noqa: E402
from varek import Varek  # noqa: E402


def main():
    port, library = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 3000
    bare = ctypes.CDLL(library)
    bare.varek_init.restype = ctypes.c_void_p
    bare.varek_init.argtypes = [ctypes.c_char_p, ctypes.c_int32]
    bare.varek_software_trigger.argtypes = [ctypes.c_void_p]
    bare.varek_close.argtypes = [ctypes.c_void_p]

    def bare_trigger():
        if bare.varek_software_trigger(handle) != 0:
            raise RuntimeError("software trigger failed")

    runs = {"bare ctypes": [], "varek package": []}
    for _ in range(5):
        handle = bare.varek_init(port.encode(), 0)
        runs["bare ctypes"].append(median_us(bare_trigger, count))
        bare.varek_close(handle)
        with Varek(port, library=library) as ddg:
            runs["varek package"].append(median_us(ddg.software_trigger, count))
    bare_us = statistics.median(runs["bare ctypes"])
    package_us = statistics.median(runs["varek package"])
    print(f"bare ctypes: median_us={bare_us:.1f}")
    print(f"varek package: median_us={package_us:.1f} overhead={100.0 * (package_us - bare_us) / bare_us:+.1f}%")


if __name__ == "__main__":
    main()
