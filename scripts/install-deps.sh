#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build and test tools is missing.
#   install-deps.sh native    compiler, CMake, Ninja, GoogleTest sources, Boost and nlohmann-json headers
#   install-deps.sh package   the above plus mingw-w64, Wine, llvm-dlltool, zip, dpkg-dev, help2man
#                             (man pages), lintian, systemd (to verify the unit),
#                             Python's setuptools, wheel, build and venv, and for the
#                             manual Doxygen, Sphinx and MyST, and for the ARM builds Debian's
#                             aarch64 and armhf cross compilers, qemu-user to run what they
#                             build, and (arm64 and armhf added to dpkg's architectures) the
#                             targets' C and C++ runtime packages, from which dpkg-shlibdeps
#                             reads the ARM packages' dependencies
#   install-deps.sh all       the above plus clang and lld (an MSVC-ABI host), clang-format,
#                             valgrind, socat, ser2net, pySerial, pytest, pefile, Chromium with
#                             Selenium, PyTango, and a Tango control system (MariaDB, then
#                             tango-db, configured while MariaDB runs) and Prometheus
set -euo pipefail
level=${1:-native}
packages=(cmake ninja-build g++ googletest python3 pkg-config libboost-dev nlohmann-json3-dev)
case "$level" in
  package | all) packages+=(g++-mingw-w64-x86-64-posix wine64 llvm zip unzip dpkg-dev help2man lintian
                           python3-setuptools python3-wheel python3-build python3-venv systemd
                           doxygen python3-sphinx python3-myst-parser
                           g++-aarch64-linux-gnu g++-arm-linux-gnueabihf qemu-user) ;;&
  all) packages+=(clang lld clang-format valgrind socat ser2net python3-serial python3-pytest python3-pefile
                  chromium chromium-driver python3-selenium python3-tango python3-pyepics iproute2 prometheus mariadb-server) ;;
esac

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
case "$level" in
  package | all)
    for architecture in arm64 armhf; do
      dpkg --print-foreign-architectures | grep -qx "$architecture" ||
        "${sudo_cmd[@]}" dpkg --add-architecture "$architecture"
      packages+=("libc6:$architecture" "libstdc++6:$architecture")
    done ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
# Packages may not start their services here (MariaDB, Prometheus, tango-db's
# database server would each listen beyond loopback): every test starts what
# it needs and stops it again.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee /usr/sbin/policy-rc.d >/dev/null
  "${sudo_cmd[@]}" chmod 755 /usr/sbin/policy-rc.d
  trap '"${sudo_cmd[@]}" rm -f /usr/sbin/policy-rc.d' EXIT
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# tango-db makes its database while it is configured, so MariaDB must run
# then; it is stopped again afterwards.
if [ "$level" = all ] && ! installed tango-db; then
  echo "installing: tango-db (with MariaDB running)" >&2
  mariadb_was_running=true
  mariadb-admin ping >/dev/null 2>&1 || { mariadb_was_running=false; "${sudo_cmd[@]}" service mariadb start >/dev/null; }
  echo "tango-db tango-db/dbconfig-install boolean true" | "${sudo_cmd[@]}" debconf-set-selections
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends tango-db >/dev/null
  [ "$mariadb_was_running" = true ] || "${sudo_cmd[@]}" service mariadb stop >/dev/null
fi
