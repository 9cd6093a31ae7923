#!/usr/bin/env bash
# Builds the linux, asan, windows, linux-arm64 and linux-armhf presets and
# runs every test: natively, under AddressSanitizer/UndefinedBehaviorSanitizer,
# as the Windows build under Wine against the Linux simulator, and as the ARM
# builds under qemu-user; then builds the release packages and tests them as a
# user would; then the Linux tests under valgrind.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all
scripts/python-env.sh >/dev/null

echo "== format check"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror

# linux first: the windows tests run against its varek-sim.
for preset in linux asan windows linux-arm64 linux-armhf; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "== release packages"
scripts/package.sh
/usr/bin/python3 -m pytest -q -p no:cacheprovider tests/packages

echo "== valgrind memcheck"
scripts/valgrind-tests.sh
