#!/usr/bin/env bash
# Builds the library and its tools, then runs the session in
# examples/session.txt with varekctl: on the instrument at PORT when given,
# else on a simulated instrument that varekctl starts itself (--port sim).
#   run-demo.sh [PORT]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/quietly.sh
scripts/install-deps.sh native
quietly cmake --preset linux
quietly cmake --build --preset linux
exec build/linux/bin/varekctl --port "${1:-sim}" run examples/session.txt
