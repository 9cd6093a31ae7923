#!/usr/bin/env bash
# Fails unless each program's --version prints its name and the project
# version, and exits 0.
#   check_versions.sh VERSION [--run EMULATOR] PROGRAM...
set -euo pipefail
version=$1
shift
run=()
if [ "${1:-}" = "--run" ]; then
  run=("$2")
  shift 2
fi
status=0
for program in "$@"; do
  name=$(basename "$program" .exe)
  printed=$("${run[@]}" "$program" --version | tr -d '\r')
  if [ "$printed" = "$name $version" ]; then
    echo "ok: $printed"
  else
    echo "$program --version printed '$printed', not '$name $version'" >&2
    status=1
  fi
done
exit $status
