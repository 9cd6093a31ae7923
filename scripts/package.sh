#!/usr/bin/env bash
# Builds the release artifacts from a clean tree and writes them to dist/:
#   varek-VERSION-windows-x64.zip     varek.dll, the programs, import libraries for
#                                     MSVC and MinGW, headers, CMake package, Python
#                                     module, README-windows.txt, LICENSE, SHA256SUMS
#   varek-VERSION-linux-x86_64.tar.gz the Linux install tree
#   libvarek1_, libvarek-dev_, varek_VERSION_amd64.deb, python3-varek_VERSION_all.deb
#                                     the same as Debian packages (CPack components)
#   varek-VERSION-py3-none-linux_x86_64.whl, varek-VERSION-py3-none-win_amd64.whl
#                                     the Python package with the library and varek-sim inside
#   varek-VERSION-openapi.json        the HTTP API of varek-server, as OpenAPI 3.1
#   SHA256SUMS                        over the artifacts
# Every binary is stripped; its debug information goes to dist-debug/, beside
# dist/: for Linux under usr/lib/debug/.build-id/ (unpacked at /, gdb finds
# it by the binary's build id), for Windows NAME.debug files that the
# binaries name in a debug link (gdb finds them beside the binary).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/quietly.sh
scripts/install-deps.sh package
root=$PWD
work=$root/build/package
rm -rf "$work" dist dist-debug
mkdir -p "$work" dist dist-debug

# split_debug OBJCOPY STRIP FILE DEBUG_FILE: moves FILE's debug information to
# DEBUG_FILE and strips FILE; with LINK, FILE names DEBUG_FILE in a debug link.
split_debug() {
  local objcopy=$1 strip=$2 file=$3 debug=$4 link=${5:-}
  mkdir -p "$(dirname "$debug")"
  "$objcopy" --only-keep-debug "$file" "$debug"
  "$strip" --strip-debug --strip-unneeded "$file"
  [ -z "$link" ] || (cd "$(dirname "$debug")" && "$objcopy" --add-gnu-debuglink="$(basename "$debug")" "$file")
}

echo "== linux"
# Built with debug information (-O2 -g), which goes to dist-debug/ below.
# Installed under /usr, the libraries land in Debian's multiarch directory.
quietly cmake -S . -B "$work/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAREK_BUILD_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr -DVAREK_INSTALL_PYTHONDIR=lib/python3/dist-packages
quietly cmake --build "$work/linux"
version=$(cat "$work/linux/varek-version.txt")
linux_name=varek-$version-linux-x86_64
DESTDIR="$work/stage" quietly cmake --install "$work/linux"
for binary in "$work/stage/usr/bin/"* "$work/stage/usr/lib/x86_64-linux-gnu/libvarek.so.$version"; do
  readelf -h "$binary" >/dev/null 2>&1 || continue  # a script
  build_id=$(readelf -n "$binary" | sed -n 's/.*Build ID: //p')
  split_debug objcopy strip "$binary" "$root/dist-debug/$linux_name-debug/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug"
done
tar -C "$root/dist-debug" --owner=0 --group=0 -czf "dist-debug/$linux_name-debug.tar.gz" "$linux_name-debug"
rm -rf "dist-debug/$linux_name-debug"
tar -C "$work/stage/usr" --transform "s,^\.,$linux_name," --owner=0 --group=0 -czf "dist/$linux_name.tar.gz" .
(cd "$work/linux" && quietly cpack -G DEB)
cp "$work/linux"/*.deb dist/

echo "== windows"
quietly cmake -S . -B "$work/windows" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAREK_BUILD_TESTS=OFF \
      --toolchain "$root/cmake/mingw-w64-x86_64.cmake"
quietly cmake --build "$work/windows"
windows_name=varek-$version-windows-x64
quietly cmake --install "$work/windows" --prefix "$work/$windows_name"
# The API's description, as the Linux build's server prints it: the same program.
cp "$work/linux/tools/server/openapi.json" "$work/$windows_name/openapi.json"
mkdir -p "dist-debug/$windows_name-debug"
for binary in "$work/$windows_name/bin/"*.dll "$work/$windows_name/bin/"*.exe; do
  debug=$root/dist-debug/$windows_name-debug/$(basename "$binary").debug
  split_debug x86_64-w64-mingw32-objcopy x86_64-w64-mingw32-strip "$binary" "$debug" link
done
(cd dist-debug && zip -qr "$windows_name-debug.zip" "$windows_name-debug" && rm -rf "$windows_name-debug")
(cd "$work/$windows_name" && find . -type f ! -name SHA256SUMS | sed 's,^\./,,' | sort | xargs sha256sum >SHA256SUMS)
(cd "$work" && zip -qr "$root/dist/$windows_name.zip" "$windows_name")

echo "== python wheels"
# The package as it is in python/, plus its version and the compiled parts of each platform;
# built with Debian's python3 (setuptools, wheel, build): the one on PATH may be another.
stage_wheel() {
  local platform=$1 stage=$work/wheel-$1
  shift
  mkdir -p "$stage"
  cp -r LICENSE python/pyproject.toml python/setup.py python/README-python.md python/varek "$stage/"
  rm "$stage/varek/_version.py.in"
  cp "$work/linux/python/_version.py" "$stage/varek/"
  cp "$@" "$stage/varek/"
  (cd "$stage" && VAREK_WHEEL_PLATFORM=$platform quietly /usr/bin/python3 -m build --wheel --no-isolation --outdir "$root/dist")
}
# The library under its soname, which the module loads.
library=$work/stage/usr/lib/x86_64-linux-gnu/libvarek.so.$version
soname=$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
cp "$library" "$work/$soname"
stage_wheel linux_x86_64 "$work/$soname" "$work/stage/usr/bin/varek-sim"
stage_wheel win_amd64 "$work/$windows_name/bin/varek.dll" "$work/$windows_name/bin/varek-sim.exe"

cp "$work/linux/tools/server/openapi.json" "dist/varek-$version-openapi.json"
(cd dist && sha256sum -- *.zip *.tar.gz *.deb *.whl *.json >SHA256SUMS)
echo "== dist"
ls -l dist
