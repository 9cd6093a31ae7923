#!/usr/bin/env bash
# The library alone builds with a C++17 compiler and CMake: configured with
# VAREK_BUILD_TOOLS=OFF in a private mount namespace where the Boost and
# nlohmann-json headers are hidden, it must configure, build libvarek and
# install its headers; with the tools on, the same tree must stop at
# configure and say what is missing.
#   library_alone.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
exec unshare -m bash -euo pipefail -c '
  source_dir=$1 work=$2
  for folder in /usr/include/boost /usr/include/nlohmann; do
    [ -d "$folder" ] && mount -t tmpfs -o ro,size=1k none "$folder"
  done
  if [ -e /usr/include/boost/version.hpp ] || [ -e /usr/include/nlohmann/json.hpp ]; then
    echo "the headers are still visible" >&2; exit 1
  fi
  if cmake -S "$source_dir" -B "$work/with-tools" -G Ninja >"$work/with-tools.log" 2>&1; then
    echo "configuring the tools without their headers succeeded" >&2; exit 1
  fi
  grep -q "VAREK_BUILD_TOOLS=OFF" "$work/with-tools.log" || { cat "$work/with-tools.log" >&2; exit 1; }
  cmake -S "$source_dir" -B "$work/alone" -G Ninja -DVAREK_BUILD_TOOLS=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$work/alone"
  cmake --install "$work/alone" --prefix "$work/prefix" >/dev/null
  test -e "$work/prefix/include/varek/ports.h"
  ls "$work"/prefix/lib*/libvarek.so.1 >/dev/null
  echo "library alone: built and installed without Boost or nlohmann-json"
' library_alone "$source_dir" "$work"
