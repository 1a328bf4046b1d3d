# Locates the third-party pieces. Every one that the chosen build needs must be
# there: a missing one stops configuration with a message naming the Debian
# package that provides it (scripts/setup.sh and scripts/test.sh install them).
# - zlib and libpng: native packages, or for Win64 the cross-built copies under
#   build-deps/win64 (scripts/build-win64-deps.sh);
# - the VST3 SDK folder shipped by Debian's juce-modules-source-data;
# - Linux: Xlib and Xext (the editor window), XTest (the tests that drive it),
#   the LV2 headers (lv2-dev), lilv and its tools (the LV2 tests);
# - GoogleTest (tests), libsndfile (tools), Google Benchmark (benchmarks).

find_package(ZLIB)
find_package(PNG)
if(NOT ZLIB_FOUND OR NOT PNG_FOUND)
  if(CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR
      "zlib or libpng for Win64 not found in ${TALVOR_WIN64_DEPS_DIR}. Build them with "
      "scripts/build-win64-deps.sh, or point -DTALVOR_WIN64_DEPS_DIR at their install folder.")
  else()
    message(FATAL_ERROR "zlib or libpng not found: install Debian's packages zlib1g-dev and libpng-dev.")
  endif()
endif()

set(TALVOR_VST3_SDK_DIR "/usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK"
    CACHE PATH "VST3 SDK folder (interfaces, base, public.sdk)")
foreach(_talvor_probe pluginterfaces/base/funknown.h base/source/fobject.cpp public.sdk/source/vst/vstparameters.cpp)
  if(NOT EXISTS "${TALVOR_VST3_SDK_DIR}/${_talvor_probe}")
    message(FATAL_ERROR
      "VST3 SDK not found: ${TALVOR_VST3_SDK_DIR}/${_talvor_probe} does not exist. Install Debian's "
      "package juce-modules-source-data, which ships the SDK in "
      "/usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK, or point "
      "-DTALVOR_VST3_SDK_DIR at an SDK folder.")
  endif()
endforeach()

if(NOT WIN32)
  find_package(X11)
  if(NOT X11_FOUND OR NOT X11_Xext_FOUND OR NOT X11_XShm_INCLUDE_PATH)
    message(FATAL_ERROR
      "Xlib or Xext not found (the Linux editor window): install Debian's packages libx11-dev and "
      "libxext-dev.")
  endif()
  # LV2: LV2's own headers (and Turtle vocabularies); the tests add lilv.
  find_path(TALVOR_LV2_INCLUDE_DIR lv2/core/lv2.h)
  if(NOT TALVOR_LV2_INCLUDE_DIR OR NOT EXISTS "${TALVOR_LV2_INCLUDE_DIR}/lv2/ui/ui.h")
    message(FATAL_ERROR "LV2 headers not found (the LV2 plug-in): install Debian's package lv2-dev.")
  endif()
  if(TALVOR_BUILD_TESTS)
    find_package(PkgConfig)
    if(PKG_CONFIG_FOUND)
      pkg_check_modules(LILV IMPORTED_TARGET GLOBAL lilv-0)
    endif()
    find_program(TALVOR_LV2INFO lv2info)
    find_program(TALVOR_LV2APPLY lv2apply)
    find_program(TALVOR_SORD_VALIDATE sord_validate)
    if(NOT LILV_FOUND OR NOT TALVOR_LV2INFO OR NOT TALVOR_LV2APPLY OR NOT TALVOR_SORD_VALIDATE)
      message(FATAL_ERROR
        "The LV2 tests need lilv and its tools: install Debian's packages liblilv-dev, lilv-utils "
        "and sordi (sord_validate), or configure with -DTALVOR_BUILD_TESTS=OFF.")
    endif()
  endif()
  if(TALVOR_BUILD_TESTS AND NOT X11_XTest_FOUND)
    message(FATAL_ERROR
      "XTest not found (the editor tests move the pointer): install Debian's package libxtst-dev, "
      "or configure with -DTALVOR_BUILD_TESTS=OFF.")
  endif()
endif()

if(TALVOR_BUILD_TOOLS)
  find_package(PkgConfig)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(SNDFILE IMPORTED_TARGET GLOBAL sndfile)
  endif()
  if(NOT SNDFILE_FOUND)
    message(FATAL_ERROR
      "libsndfile not found (the tools read and write sound files): install Debian's packages "
      "libsndfile1-dev and pkg-config, or configure with -DTALVOR_BUILD_TOOLS=OFF.")
  endif()
endif()

if(TALVOR_BUILD_BENCH AND NOT WIN32)  # Windows builds only the VST2 timing host
  find_package(benchmark CONFIG)
  if(NOT benchmark_FOUND)
    message(FATAL_ERROR
      "Google Benchmark not found: install Debian's package libbenchmark-dev, or configure with "
      "-DTALVOR_BUILD_BENCH=OFF.")
  endif()
endif()

if(TALVOR_BUILD_TESTS)
  # A cross build must never pick up the host's GoogleTest libraries.
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(GTest QUIET)
  endif()
  if(NOT GTest_FOUND)
    # Debian's googletest package ships the sources; build them for this toolchain.
    if(NOT EXISTS "/usr/src/googletest/CMakeLists.txt")
      message(FATAL_ERROR
        "GoogleTest not found: install Debian's packages googletest and libgtest-dev, or configure "
        "with -DTALVOR_BUILD_TESTS=OFF.")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # Older googletest releases do not define the namespaced names themselves.
    foreach(_talvor_lib gtest gtest_main gmock gmock_main)
      if(NOT TARGET GTest::${_talvor_lib})
        add_library(GTest::${_talvor_lib} ALIAS ${_talvor_lib})
      endif()
    endforeach()
  endif()

  include(GoogleTest)
  # Test programs list their tests when ctest runs rather than while building:
  # a cross build runs them under an emulator (Wine) inside the test display and
  # Wine session of the test run, and its first start can be slow.
  if(CMAKE_CROSSCOMPILING)
    set(TALVOR_GTEST_DISCOVERY_TIMEOUT 300)
  else()
    set(TALVOR_GTEST_DISCOVERY_TIMEOUT 60)
  endif()
  # talvor_discover_tests(<target> [gtest_discover_tests options...])
  function(talvor_discover_tests target)
    gtest_discover_tests(${target}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT ${TALVOR_GTEST_DISCOVERY_TIMEOUT}
      ${ARGN})
  endfunction()
endif()
