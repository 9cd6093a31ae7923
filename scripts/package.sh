#!/usr/bin/env bash
# Builds the release artifacts from a clean tree and writes them to dist/:
#   varek-VERSION-windows-x64.zip     varek.dll, the programs, import libraries for
#                                     MSVC and MinGW, headers, CMake package, Python
#                                     module, README-windows.txt, LICENSE, SHA256SUMS
#   varek-VERSION-linux-x86_64.tar.gz the Linux install tree
#   varek_VERSION_amd64.deb           the same as a Debian package (CPack)
#   varek-VERSION-py3-none-linux_x86_64.whl, varek-VERSION-py3-none-win_amd64.whl
#                                     the Python package with the library and varek-sim inside
#   SHA256SUMS                        over the artifacts
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/quietly.sh
scripts/install-deps.sh package
root=$PWD
work=$root/build/package
rm -rf "$work" dist
mkdir -p "$work" dist

echo "== linux"
# Installed under /usr, the libraries land in Debian's multiarch directory.
quietly cmake -S . -B "$work/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVAREK_BUILD_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr -DVAREK_INSTALL_PYTHONDIR=lib/python3/dist-packages
quietly cmake --build "$work/linux"
version=$(cat "$work/linux/varek-version.txt")
linux_name=varek-$version-linux-x86_64
DESTDIR="$work/stage" quietly cmake --install "$work/linux"
tar -C "$work/stage/usr" --transform "s,^\.,$linux_name," --owner=0 --group=0 -czf "dist/$linux_name.tar.gz" .
(cd "$work/linux" && quietly cpack -G DEB)
cp "$work/linux"/*.deb dist/

echo "== windows"
quietly cmake -S . -B "$work/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVAREK_BUILD_TESTS=OFF \
      --toolchain "$root/cmake/mingw-w64-x86_64.cmake"
quietly cmake --build "$work/windows"
windows_name=varek-$version-windows-x64
quietly cmake --install "$work/windows" --prefix "$work/$windows_name"
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
  echo "__version__ = \"$version\"" >"$stage/varek/_version.py"
  cp "$@" "$stage/varek/"
  (cd "$stage" && VAREK_WHEEL_PLATFORM=$platform quietly /usr/bin/python3 -m build --wheel --no-isolation --outdir "$root/dist")
}
cp "$work/stage/usr/lib/x86_64-linux-gnu/libvarek.so.$version" "$work/libvarek.so.1"
stage_wheel linux_x86_64 "$work/libvarek.so.1" "$work/stage/usr/bin/varek-sim"
stage_wheel win_amd64 "$work/$windows_name/bin/varek.dll" "$work/$windows_name/bin/varek-sim.exe"

(cd dist && sha256sum -- *.zip *.tar.gz *.deb *.whl >SHA256SUMS)
echo "== dist"
ls -l dist
