# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix thread model).
#
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# zlib and libpng come from build-deps/win64 (scripts/build-win64-deps.sh);
# another location can be given with -DTALVOR_WIN64_DEPS_DIR=... or the
# environment variable of the same name. Test executables run under Wine
# through scripts/wine-run.sh, with a Wine prefix inside the build folder.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALVOR_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TALVOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALVOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TALVOR_MINGW_TRIPLET}-windres)

if(NOT TALVOR_WIN64_DEPS_DIR)
  if(DEFINED ENV{TALVOR_WIN64_DEPS_DIR})
    set(TALVOR_WIN64_DEPS_DIR "$ENV{TALVOR_WIN64_DEPS_DIR}")
  else()
    set(TALVOR_WIN64_DEPS_DIR "${CMAKE_CURRENT_LIST_DIR}/../build-deps/win64")
  endif()
endif()
get_filename_component(TALVOR_WIN64_DEPS_DIR "${TALVOR_WIN64_DEPS_DIR}" ABSOLUTE)
# try_compile projects read this file again; hand them the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TALVOR_WIN64_DEPS_DIR)

# Our own cross-built libraries first, then the toolchain's sysroot. Host
# headers and libraries (/usr/include, /usr/lib) are never searched.
set(CMAKE_FIND_ROOT_PATH "${TALVOR_WIN64_DEPS_DIR}" /usr/${TALVOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the C and C++ runtimes and winpthread statically so that the modules and
# test programs need nothing but the DLLs every Windows system has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest (and gtest_discover_tests) run Windows executables through Wine. The
# Wine prefix lives in the build folder so that builds never share one.
if(CMAKE_BINARY_DIR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh;--prefix;${CMAKE_BINARY_DIR}/wineprefix")
endif()
