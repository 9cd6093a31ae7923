# The body of the toolchain files for another Linux architecture with
# Debian's cross compilers (packages g++-TRIPLE): the including file sets
# VAREK_CROSS_TRIPLE, CMAKE_SYSTEM_PROCESSOR and VAREK_QEMU, the qemu-user
# program through which the build runs the target's binaries here (for the
# tests, the man pages and the API document).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${VAREK_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VAREK_CROSS_TRIPLE}-g++)
# Debian's multiarch name of the target, which CMake's searches and the
# package's architecture follow (GNUInstallDirs does not, cross: the presets
# name the multiarch library folder).
set(CMAKE_LIBRARY_ARCHITECTURE ${VAREK_CROSS_TRIPLE})
# The target's C and C++ runtimes; the header-only Boost and nlohmann-json
# come from the build's own third_party folder, never the host's /usr/include.
set(CMAKE_FIND_ROOT_PATH /usr/${VAREK_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
