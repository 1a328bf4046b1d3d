# Cross build for 64-bit ARM Linux (AArch64) with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the target's libraries from Debian's arm64
# packages installed through multiarch (libpng-dev:arm64, libx11-dev:arm64, ...;
# scripts/lib.sh lists them).
#
#   cmake -S . -B build/arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#
# Test programs, and the build's own helper programs (the LV2 Turtle writer),
# run under qemu-user (Debian's qemu-user); with libc6:arm64 installed the
# target's loader and libraries lie where the emulated program looks for them.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(TALVOR_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${TALVOR_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TALVOR_CROSS_TRIPLET}-g++)
# Multiarch: the target's libraries in /usr/lib/aarch64-linux-gnu, its
# architecture-specific headers in /usr/include/aarch64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE ${TALVOR_CROSS_TRIPLET})

# GCC fuses a * b + c into one multiply-add on AArch64 by default, which rounds
# once instead of twice: every file of this build, third-party code included,
# keeps the two roundings so that the sound is the same bits as on x86-64.
set(CMAKE_C_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")

# Only the target's folders: the cross toolchain's own, and the multiarch
# ones under /usr (found through CMAKE_LIBRARY_ARCHITECTURE). The host's
# x86-64 libraries lie in x86_64-linux-gnu folders and are never searched.
set(CMAKE_FIND_ROOT_PATH /usr/${TALVOR_CROSS_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config (lilv, libsndfile) reads the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${TALVOR_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

find_program(TALVOR_QEMU_AARCH64 qemu-aarch64)
if(NOT TALVOR_QEMU_AARCH64)
  message(FATAL_ERROR "qemu-aarch64 not found (the build runs its Turtle writer with it): install Debian's package qemu-user")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR "${TALVOR_QEMU_AARCH64}")
