#!/usr/bin/env bash
# Installs the build tree BUILD_DIR into a fresh prefix, builds the consumer
# project against the installed package, and runs it (under EMULATOR, for the
# Windows build). On Linux it also compiles a C file with pkg-config's flags.
#   build_and_run.sh BUILD_DIR [TOOLCHAIN_FILE EMULATOR]
set -euo pipefail
build_dir=$1 toolchain=${2:-} emulator=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "$build_dir/consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
# Built as the library was: a sanitizer build's consumer needs the sanitizer too.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build_dir/CMakeCache.txt"; }
cxx_flags=$(cache_value CMAKE_CXX_FLAGS)
c_flags=$(cache_value CMAKE_C_FLAGS)
configure=(-S "$here" -B "$work/build" -G Ninja -Dvarek_DIR="$work/prefix/lib/cmake/varek"
           -DCMAKE_CXX_FLAGS="$cxx_flags" -DCMAKE_EXE_LINKER_FLAGS="$(cache_value CMAKE_EXE_LINKER_FLAGS)")
[ -n "$toolchain" ] && configure+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
cmake "${configure[@]}" >/dev/null
cmake --build "$work/build" >/dev/null

if [ -n "$emulator" ]; then
  # The one file users copy beside their program.
  cp "$work/prefix/bin/varek.dll" "$work/build/"
  test -f "$work/prefix/lib/varek.def" && test -f "$work/prefix/lib/libvarek.dll.a" && test -f "$work/prefix/lib/varek.lib"
  (cd "$work/build" && "$emulator" ./consumer.exe)
else
  "$work/build/consumer"
  export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
  printf '#include "varek/varek.h"\nint main(void) { varek_close(0); return 0; }\n' >"$work/pc.c"
  # shellcheck disable=SC2046,SC2086
  cc -std=c11 -Wall -Werror $c_flags "$work/pc.c" -o "$work/pc" $(pkg-config --cflags --libs varek)
  LD_LIBRARY_PATH="$work/prefix/lib" "$work/pc"
  echo "pkg-config: $(pkg-config --libs varek)"
fi
