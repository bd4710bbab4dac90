# Cross build for 32-bit ARM players (armhf: long and time_t are 4 bytes)
# with Debian's cross compiler (gcc-arm-linux-gnueabihf) against a root of
# armhf packages:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake -DKVN_SYSROOT=ROOT ...
set(CMAKE_SYSTEM_PROCESSOR arm)
set(KVN_CROSS_TRIPLET arm-linux-gnueabihf)
set(KVN_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-sysroot.cmake)
# GCC notes at every std::vector of a struct that the ARM calling convention
# changed in GCC 7.1; everything here is built by one compiler.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
