# Cross build for 32-bit ARM Linux with hardware floating point (Debian
# armhf: ARMv7) with Debian's g++-arm-linux-gnueabihf.
set(VAREK_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(VAREK_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross-linux.cmake)
# GCC notes where passing a structure changed in GCC 7.1 on this ABI: every
# object of a build comes from the one compiler, so it never applies.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
