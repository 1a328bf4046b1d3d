# Locates the third-party pieces: zlib and libpng (native packages, or the
# cross-built copies under build-deps/ for Win64), libsndfile for the tools,
# GoogleTest and Google Benchmark for tests and benchmarks, and the VST3 SDK
# folder shipped by Debian's juce-modules-source-data.
find_package(PNG REQUIRED)
find_package(ZLIB REQUIRED)

set(TALVOR_VST3_SDK_DIR "/usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK"
    CACHE PATH "VST3 SDK folder (interfaces, base, public.sdk)")

if(TALVOR_BUILD_TESTS)
  # A cross build must never pick up the host's GoogleTest libraries.
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(GTest QUIET)
  endif()
  if(NOT GTest_FOUND)
    # Debian's googletest package ships the sources; build them for this toolchain.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # Recent googletest releases define these aliases themselves.
    foreach(lib gtest gtest_main gmock gmock_main)
      if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
      endif()
    endforeach()
  endif()
  include(GoogleTest)
  if(CMAKE_CROSSCOMPILING AND NOT COMMAND _gtest_discover_tests)
    # Test programs run under an emulator (Wine): list their tests when ctest
    # runs (inside the test display and Wine session) rather than while
    # building, and allow for a slow first start of the emulator.
    set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
    function(gtest_discover_tests target)
      _gtest_discover_tests(${target} ${ARGN} DISCOVERY_TIMEOUT 300)
    endfunction()
  endif()
endif()
