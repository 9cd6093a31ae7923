#!/usr/bin/env bash
# Builds the library and runs one exchange: against the instrument on PORT
# when given, else against a simulated instrument started here.
#   run-demo.sh [PORT]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
bin=build/linux/bin

port=${1:-}
if [ -z "$port" ]; then
  announce=$(mktemp)
  "$bin/varek-sim" >"$announce" &
  sim_pid=$!
  trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -f "$announce"' EXIT
  for _ in $(seq 100); do grep -q '^device ' "$announce" && break; sleep 0.05; done
  port=$(sed -n 's/^device //p' "$announce")
  echo "no port named: using a simulated instrument on $port" >&2
fi
"$bin/varekctl" --port "$port" fire
