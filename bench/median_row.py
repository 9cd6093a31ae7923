"""Turns client result lines ("LABEL|median_us=... p99_us=... cpu_us_per_exchange=...
failures=...") from stdin into one Markdown row per label: each column the
median over that label's runs, failures summed."""
import re
import statistics
import sys

runs = {}
for line in sys.stdin:
    label, result = line.rstrip("\n").split("|", 1)
    runs.setdefault(label, []).append(dict(re.findall(r"(\w+)=([\d.]+)", result)))
for label, results in runs.items():
    def column(key):
        return statistics.median(float(r[key]) for r in results)
    failures = sum(int(r["failures"]) for r in results)
    print(f"| {label} | {column('median_us'):.1f} | {column('p99_us'):.1f} "
          f"| {column('cpu_us_per_exchange'):.1f} | {failures} |")
