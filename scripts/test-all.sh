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

# linux first: the windows tests run against its varek-sim. The other presets
# build behind it at the lowest priority, each while the tests of the one
# before run: those wait mostly on time-outs and leave a core or more idle.
echo "== linux"
cmake --preset linux >/dev/null
cmake --build --preset linux
logs=build/preset-logs
rm -rf "$logs"
mkdir -p "$logs"
later=(asan windows linux-arm64 linux-armhf)
setsid scripts/build-presets.sh "$logs" "${later[@]}" &
builder=$!
trap 'kill -- -"$builder" 2>/dev/null || true' EXIT
ctest --preset linux
for preset in "${later[@]}"; do
  echo "== $preset"
  while [ ! -f "$logs/$preset.status" ] && kill -0 "$builder" 2>/dev/null; do sleep 1; done
  cat "$logs/$preset.log" 2>/dev/null || true
  [ "$(cat "$logs/$preset.status" 2>/dev/null)" = 0 ] || { echo "the $preset build failed" >&2; exit 1; }
  ctest --preset "$preset"
done

echo "== release packages"
scripts/package.sh
/usr/bin/python3 -m pytest -q -p no:cacheprovider tests/packages

echo "== valgrind memcheck"
scripts/valgrind-tests.sh
