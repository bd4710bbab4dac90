# Cross build for the player's arm64 processors with Debian's cross compiler
# (gcc-aarch64-linux-gnu) against a root of arm64 packages:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DKVN_SYSROOT=ROOT ...
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KVN_CROSS_TRIPLET aarch64-linux-gnu)
set(KVN_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-sysroot.cmake)
