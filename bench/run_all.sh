#!/usr/bin/env bash
# Runs every benchmark and the long soak, and prints the results as Markdown:
#   - codec speed (Google Benchmark);
#   - exchange latency and host CPU per exchange for the library, a minimal C
#     client (the floor) and a pySerial client, side by side against the same
#     simulated instrument, unpaced and paced at 115200 baud;
#   - what the Python package adds to a call, against bare ctypes;
#   - an exchange through varek-server against a direct library call, paced;
#   - a paced trigger directly, through the frame port and through HTTP, one
#     client and eight at once;
#   - what varek-ioc adds to a write and to a read-back;
#   - host CPU while waiting out a 1000 ms time-out;
#   - the soak: 100 000 exchanges on Linux, 10 000 under Wine.
# Builds the linux preset first; the Wine rows need the windows preset built.
#   bench/run_all.sh [COUNT]      (COUNT unpaced exchanges per client, 3000)
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-3000}
scripts/install-deps.sh native
for package in python3-serial libbenchmark-dev ser2net; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$package" >/dev/null; }
done
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
bin=build/linux/bin
wine_bin=build/windows/bin
python=/usr/bin/python3  # Debian's, which has python3-serial

source bench/sim_process.sh
trap stop_sim EXIT

# rows OP COUNT: the three clients, each run five times in turn; each
# column is the median of its five runs, so that a disturbed run does not
# decide a row.
rows() {
  local op=$1 n=$2 results=()
  for _ in 1 2 3 4 5; do
    results+=("floor (C, poll)|$("$bin/floor_client" "$device" "$n" "$op")")
    results+=("varek (Linux)|$("$bin/exchange_client" "$device" "$n" "$op")")
    results+=("pySerial|$("$python" bench/pyserial_client.py "$device" "$n" "$op")")
  done
  printf '%s\n' "${results[@]}" | "$python" bench/median_row.py
}

echo "## Machine"
echo
echo "$(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(uname -sr), $(date -u +%Y-%m-%d)"
echo
echo "## Codec"
echo
echo '```'
"$bin/codec_bench" --benchmark_min_time=0.2 2>/dev/null | grep -E "^BM_|^Benchmark"
echo '```'

for pace in "" 115200; do
  if [ -z "$pace" ]; then start_sim; n=$count; title="unpaced pty"; else start_sim --pace "$pace"; n=$((count / 10)); title="paced at $pace baud"; fi
  for op in trigger status; do
    echo
    echo "## $op exchange, $title, 5 runs of $n exchanges each"
    echo
    echo "| client | median µs | p99 µs | host CPU µs/exchange | failures |"
    echo "|---|---|---|---|---|"
    rows "$op" "$n"
  done
done

echo
echo "## The Python package against bare ctypes, unpaced software trigger, 5 runs of $count calls each"
echo
start_sim
"$python" bench/python_overhead.py "$device" "$bin/libvarek.so" "$count" | sed 's/^/- /'

echo
echo "## Through varek-server against a direct call, paced at 115200 baud, 5 runs each"
echo
"$python" bench/server_bench.py "$bin/varek-server" "$bin/varek-sim" "$bin/libvarek.so" 200 | sed 's/^/- /'

echo
echo "## Paths to the instrument: a paced software trigger directly, through the frame port and through HTTP"
echo
"$python" bench/server_paths.py "$bin" $((count / 10)) trigger

echo
echo "## What varek-ioc adds, paced at 115200 baud"
echo
scripts/python-env.sh >/dev/null
VAREK_LIBRARY="$bin/libvarek.so" build/venv/bin/python bench/ioc_overhead.py "$bin/varek-sim" 100 | sed 's/^/- /'

echo
echo "## Through a terminal server: socket:// via ser2net, unpaced status exchange, 5 runs of $((count / 3)) each"
echo
echo "| client | median µs | p99 µs | host CPU µs/exchange | failures |"
echo "|---|---|---|---|---|"
"$python" bench/network_paths.py terminal-server "$bin" $((count / 3)) | "$python" bench/median_row.py
echo
echo "## The frame port's cost: status exchange paced at 115200 baud, 5 runs of $((count / 10)) each"
echo
echo "| client | median µs | p99 µs | host CPU µs/exchange | failures |"
echo "|---|---|---|---|---|"
"$python" bench/network_paths.py frame-port "$bin" $((count / 10)) | "$python" bench/median_row.py

echo
echo "## varek-server flooded and overloaded"
echo
"$python" bench/server_abuse.py "$bin/varek-server" "$bin/varek-sim" | sed 's/^/- /'

echo
echo "## Host CPU while waiting out a 1000 ms time-out (5 runs of 2 exchanges each)"
echo
echo "| client | median µs | p99 µs | host CPU µs/exchange | failures |"
echo "|---|---|---|---|---|"
start_sim --silent
rows timeout 2
if [ -x "$wine_bin/exchange_client.exe" ]; then
  start_sim --silent --link build/windows/wineprefix/dosdevices/com12
  echo
  echo "- Windows build under Wine: $(build/windows/wine_run.sh "$wine_bin/exchange_client.exe" COM12 3 timeout)"
fi

echo
echo "## Soak"
echo
start_sim
echo "- Linux, 100 000 exchanges: $("$bin/soak" "$device" 100000)"
if [ -x "$wine_bin/soak.exe" ]; then
  start_sim --link build/windows/wineprefix/dosdevices/com12
  echo "- Windows build under Wine, 10 000 exchanges: $(build/windows/wine_run.sh "$wine_bin/soak.exe" COM12 10000)"
  for op in trigger status; do
    echo "- Windows build under Wine, $op: $(build/windows/wine_run.sh "$wine_bin/exchange_client.exe" COM12 1000 $op)"
  done
fi
