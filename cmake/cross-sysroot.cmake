# Shared by the cross toolchain files: the target's headers and libraries
# come from a root of Debian packages for that architecture (KVN_SYSROOT,
# made by scripts/cross-test), never from the build machine, and programs
# built here run through qemu-user on the same root.  Expects
# KVN_CROSS_TRIPLET and KVN_CROSS_QEMU to be set by the including file.
set(CMAKE_SYSTEM_NAME Linux)

# try_compile projects see only the toolchain file, not the cache: carry the
# root through the environment to them.
if(KVN_SYSROOT)
  set(ENV{KVN_SYSROOT} "${KVN_SYSROOT}")
else()
  set(KVN_SYSROOT "$ENV{KVN_SYSROOT}")
endif()
if(NOT KVN_SYSROOT OR NOT EXISTS "${KVN_SYSROOT}/usr/include/${KVN_CROSS_TRIPLET}")
  message(FATAL_ERROR "KVN_SYSROOT must name a ${KVN_CROSS_TRIPLET} root (scripts/cross-test makes one); got '${KVN_SYSROOT}'")
endif()

set(CMAKE_C_COMPILER ${KVN_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KVN_CROSS_TRIPLET}-g++)
set(CMAKE_SYSROOT "${KVN_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH "${KVN_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(NOT DEFINED CMAKE_FIND_ROOT_PATH_MODE_PACKAGE)  # BOTH: also a package installed elsewhere
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
endif()
# pkg-config must read the target's .pc files and prefix their paths with the root.
set(ENV{PKG_CONFIG_LIBDIR} "${KVN_SYSROOT}/usr/lib/${KVN_CROSS_TRIPLET}/pkgconfig:${KVN_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${KVN_SYSROOT}")

# binfmt_misc is not there to start foreign programs: CTest, and every test
# that starts a program of this build, goes through this command.  It runs
# inside the sandbox, after its "--" (sandbox/sandbox.cmake).
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/qemu-run;${KVN_CROSS_QEMU};${KVN_SYSROOT}")
