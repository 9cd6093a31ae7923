#!/usr/bin/env bash
# The exchange benchmark of this tree's library against another revision's,
# taking turns against one simulated instrument, so that a change's cost on
# the success path shows: unpaced and paced at 115200 baud, trigger and status.
#   bench/compare_revision.sh REVISION [COUNT]   (COUNT unpaced exchanges per run, 3000)
set -euo pipefail
cd "$(dirname "$0")/.."
revision=$1 count=${2:-3000}
other=$(mktemp -d)
git worktree add --detach "$other" "$revision" >/dev/null
bin=build/linux/bin
source bench/sim_process.sh
cleanup() { stop_sim; git worktree remove --force "$other"; }
trap cleanup EXIT

for tree in "$other" .; do
  (cd "$tree" && cmake --preset linux >/dev/null && cmake --build --preset linux --target exchange_client varek-sim >/dev/null)
done
rows() {
  local op=$1 n=$2 results=()
  for _ in 1 2 3 4 5; do
    results+=("$revision|$("$other/$bin/exchange_client" "$device" "$n" "$op")")
    results+=("this tree|$("$bin/exchange_client" "$device" "$n" "$op")")
  done
  printf '%s\n' "${results[@]}" | /usr/bin/python3 bench/median_row.py
}
table() {
  echo "## $1"
  echo
  echo "| library | median µs | p99 µs | host CPU µs/exchange | failures |"
  echo "|---|---|---|---|---|"
  rows "$2" "$3"
  echo
}
start_sim
table "trigger exchange, unpaced pty, 5 runs of $count each" trigger "$count"
table "status exchange, unpaced pty, 5 runs of $count each" status "$count"
start_sim --pace 115200
table "trigger exchange, paced at 115200 baud, 5 runs of $((count / 10)) each" trigger $((count / 10))
table "status exchange, paced at 115200 baud, 5 runs of $((count / 10)) each" status $((count / 10))
