# Sourced by the bench scripts: one simulated instrument at a time.
#   start_sim [VAREK-SIM OPTIONS...]   (re)starts $bin/varek-sim; sets $device
#   stop_sim
sim_pid=""
sim_output=$(mktemp)
start_sim() {
  stop_sim
  "$bin/varek-sim" "$@" >"$sim_output" 2>/dev/null &
  sim_pid=$!
  for _ in $(seq 100); do grep -q '^control ' "$sim_output" && break; sleep 0.05; done
  device=$(sed -n 's/^device //p' "$sim_output")
}
stop_sim() { [ -n "$sim_pid" ] && { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; }; sim_pid=""; }
