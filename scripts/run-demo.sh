#!/usr/bin/env bash
# Builds the library and its tools, then runs the session in
# examples/session.txt with varekctl: on the instrument at PORT when given,
# else on a simulated instrument that varekctl starts itself.
#   run-demo.sh [PORT]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
port_args=()
[ -n "${1:-}" ] && port_args=(--port "$1")
exec build/linux/bin/varekctl "${port_args[@]}" run examples/session.txt
