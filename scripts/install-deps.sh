#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build and test tools is missing.
#   install-deps.sh native    compiler, CMake, Ninja, GoogleTest sources, Boost and nlohmann-json headers
#   install-deps.sh package   the above plus mingw-w64, Wine, llvm-dlltool, zip, dpkg-dev, help2man
#                             (man pages), lintian and
#                             Python's setuptools, wheel, build and venv
#   install-deps.sh all       the above plus clang and lld (an MSVC-ABI host), clang-format,
#                             valgrind, socat, ser2net, pySerial, pytest, pefile, Chromium with
#                             Selenium, and PyTango
set -euo pipefail
level=${1:-native}
packages=(cmake ninja-build g++ googletest python3 pkg-config libboost-dev nlohmann-json3-dev)
case "$level" in
  package | all) packages+=(g++-mingw-w64-x86-64-posix wine64 llvm zip unzip dpkg-dev help2man lintian
                           python3-setuptools python3-wheel python3-build python3-venv) ;;&
  all) packages+=(clang lld clang-format valgrind socat ser2net python3-serial python3-pytest python3-pefile
                  chromium chromium-driver python3-selenium python3-tango) ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
