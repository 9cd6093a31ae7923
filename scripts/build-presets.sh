#!/usr/bin/env bash
# Configures and builds each PRESET in turn, at the lowest CPU priority, so
# that it takes only what the tests running beside it leave idle.
#   build-presets.sh LOG_DIR PRESET...
# For each preset it writes LOG_DIR/PRESET.log (the build's output) and then
# LOG_DIR/PRESET.status (its exit status); it stops at the first that fails.
set -uo pipefail
cd "$(dirname "$0")/.."
logs=$1
shift
renice -n 19 -p $$ >/dev/null
# Where the kernel groups tasks by session (autogroup), a task's nice value
# counts only within its session: a session of its own, as the test command
# starts this in, takes the lowest weight as a whole.
if [ -w /proc/self/autogroup ]; then echo 19 >/proc/self/autogroup; fi
for preset in "$@"; do
  { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; } >"$logs/$preset.log" 2>&1
  status=$?
  echo "$status" >"$logs/$preset.status.new" && mv "$logs/$preset.status.new" "$logs/$preset.status"
  [ "$status" = 0 ] || exit "$status"
done
