#!/usr/bin/env bash
# Makes the project's own Python environment, build/venv: Debian's python3,
# with Debian's packages (python3-tango, python3-pyepics) still visible, and
# from the package index what the tests need (python/test-requirements.txt)
# at the versions python/constraints.txt pins. Never the system Python's own
# site (Debian marks it externally managed). A second run installs only what
# is missing, so it is quick; pip keeps the wheels it fetched in its cache.
#   python-env.sh          prints the environment's python when it is ready
set -euo pipefail
cd "$(dirname "$0")/.."
venv=build/venv
if [ ! -x "$venv/bin/python" ]; then
  mkdir -p build
  /usr/bin/python3 -m venv --system-site-packages "$venv"
fi
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check \
  -r python/test-requirements.txt -c python/constraints.txt
echo "$PWD/$venv/bin/python"
