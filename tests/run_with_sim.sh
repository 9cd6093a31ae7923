#!/usr/bin/env bash
# Runs a test program against fresh simulated instruments.
#   run_with_sim.sh --sim VAREK_SIM [--sim-emulator EMULATOR] [--instruments N] [--wine-prefix PREFIX]
#                   -- PROGRAM [ARGS...]
# EMULATOR runs a simulator built for another architecture (qemu_run.sh of its build).
# For instrument i (1..N; suffix "" for the first, "_i" for the others) the
# program finds:
#   VAREK_SIM_PORT     the name the class interface opens: the pty path, or
#                      under Wine \\.\COMn, n = 11 + i
#   VAREK_SIM_C_PORT   the name a C host passes to varek_init: the pty path,
#                      or under Wine COMn, which the library must prefix
#   VAREK_SIM_CONTROL  the loopback port of its control channel
# Under Wine, COMn reaches the pty through $PREFIX/dosdevices/comn.
set -euo pipefail

sim="" sim_emulator=() instruments=1 wine_prefix=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sim) sim=$2; shift 2 ;;
    --sim-emulator) sim_emulator=("$2"); shift 2 ;;
    --instruments) instruments=$2; shift 2 ;;
    --wine-prefix) wine_prefix=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "run_with_sim.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -x "$sim" ] || { echo "run_with_sim.sh: simulator '$sim' not found (build the linux preset first)" >&2; exit 2; }

workdir=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$workdir"
}
trap cleanup EXIT

for i in $(seq "$instruments"); do
  suffix=""; [ "$i" -gt 1 ] && suffix="_$i"
  com=$((11 + i))
  args=()
  [ -n "$wine_prefix" ] && args=(--link "$wine_prefix/dosdevices/com$com")
  "${sim_emulator[@]}" "$sim" "${args[@]}" >"$workdir/$i" &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q '^control ' "$workdir/$i" && break
    kill -0 "${pids[-1]}" 2>/dev/null || { echo "run_with_sim.sh: simulator exited" >&2; exit 1; }
    sleep 0.05
  done
  device=$(sed -n 's/^device //p' "$workdir/$i")
  control=$(sed -n 's/^control //p' "$workdir/$i")
  [ -n "$control" ] || { echo "run_with_sim.sh: simulator did not start" >&2; exit 1; }
  if [ -n "$wine_prefix" ]; then
    export "VAREK_SIM_PORT$suffix=\\\\.\\COM$com" "VAREK_SIM_C_PORT$suffix=COM$com"
  else
    export "VAREK_SIM_PORT$suffix=$device" "VAREK_SIM_C_PORT$suffix=$device"
  fi
  export "VAREK_SIM_CONTROL$suffix=$control"
done

status=0
"$@" || status=$?
exit "$status"
