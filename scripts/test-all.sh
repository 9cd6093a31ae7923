#!/usr/bin/env bash
# Builds the linux, asan and windows presets and runs every test: natively,
# under AddressSanitizer/UndefinedBehaviorSanitizer, and as the Windows build
# under Wine against the Linux simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all

echo "== format check"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror

# linux first: the windows tests run against its varek-sim.
for preset in linux asan windows; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "== valgrind memcheck"
scripts/valgrind-tests.sh
