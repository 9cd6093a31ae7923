#!/usr/bin/env bash
# Runs a test program against a fresh simulated instrument.
#   run_with_sim.sh --sim VAREK_SIM [--link PATH --port-name NAME] -- PROGRAM [ARGS...]
# The program finds the instrument through VAREK_SIM_PORT (the name to open:
# the pty path, or NAME when the device is reached through the link PATH, as
# Wine reaches COM12 through $WINEPREFIX/dosdevices/com12) and
# VAREK_SIM_CONTROL (the loopback port of its control channel).
set -euo pipefail

sim="" link="" port_name=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sim) sim=$2; shift 2 ;;
    --link) link=$2; shift 2 ;;
    --port-name) port_name=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "run_with_sim.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -x "$sim" ] || { echo "run_with_sim.sh: simulator '$sim' not found (build the linux preset first)" >&2; exit 2; }

announce=$(mktemp)
sim_args=()
[ -n "$link" ] && sim_args+=(--link "$link")
"$sim" "${sim_args[@]}" >"$announce" &
sim_pid=$!
cleanup() { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -f "$announce"; }
trap cleanup EXIT

for _ in $(seq 100); do
  grep -q '^control ' "$announce" && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "run_with_sim.sh: simulator exited" >&2; exit 1; }
  sleep 0.05
done
device=$(sed -n 's/^device //p' "$announce")
control=$(sed -n 's/^control //p' "$announce")
[ -n "$control" ] || { echo "run_with_sim.sh: simulator did not start" >&2; exit 1; }

export VAREK_SIM_PORT="${port_name:-$device}"
export VAREK_SIM_CONTROL="$control"
status=0
"$@" || status=$?
exit "$status"
