# Cross build for 64-bit ARM Linux (Debian arm64) with Debian's g++-aarch64-linux-gnu.
set(VAREK_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VAREK_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross-linux.cmake)
