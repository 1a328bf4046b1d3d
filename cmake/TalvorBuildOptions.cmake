# Compiler settings for TALVOR's own code, as interface targets rather than
# global flags, so that third-party code (the VST3 SDK, GoogleTest) keeps its
# own warnings.
#   talvor_warnings       -Wall -Wextra
#   talvor_sanitize       AddressSanitizer + UndefinedBehaviorSanitizer when
#                         TALVOR_SANITIZE is on (compile and link), with
#                         libFuzzer's coverage when TALVOR_FUZZ is on;
#                         ThreadSanitizer when TALVOR_TSAN is on; else nothing
#   talvor_float_rules    no fused multiply-add contraction, no fast-math:
#                         the sound is the same bits on every processor (GCC
#                         contracts by default on AArch64, Clang everywhere
#                         the target has FMA)
#   talvor_build_options  all three
# The base libraries (talvor_dsp, talvor_graphics, talvor_framework,
# talvor_images) carry talvor_build_options in their public interface, so every
# program and module built on them compiles with the warnings and, in a
# sanitizer build, links the sanitizer runtimes. Targets built on none of them
# link it themselves.

add_library(talvor_warnings INTERFACE)
target_compile_options(talvor_warnings INTERFACE -Wall -Wextra)

add_library(talvor_sanitize INTERFACE)
if(TALVOR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TALVOR_FUZZ needs Clang (libFuzzer): configure with CMAKE_CXX_COMPILER=clang++")
  endif()
  set(TALVOR_SANITIZE ON)
endif()
if((TALVOR_SANITIZE OR TALVOR_TSAN) AND WIN32)
  message(FATAL_ERROR "The sanitizers are for native Linux builds; the MinGW-w64 build has no sanitizer runtimes")
endif()
if(TALVOR_SANITIZE AND TALVOR_TSAN)
  message(FATAL_ERROR "TALVOR_TSAN cannot be combined with TALVOR_SANITIZE or TALVOR_FUZZ")
endif()
if(TALVOR_SANITIZE)
  target_compile_options(talvor_sanitize INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(talvor_sanitize INTERFACE -fsanitize=address,undefined)
  if(TALVOR_FUZZ)
    # Coverage for libFuzzer in every library and module; only the fuzz
    # programs themselves link its main (tests/fuzz).
    target_compile_options(talvor_sanitize INTERFACE -fsanitize=fuzzer-no-link)
    target_link_options(talvor_sanitize INTERFACE -fsanitize=fuzzer-no-link)
  endif()
elseif(TALVOR_TSAN)
  target_compile_options(talvor_sanitize INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(talvor_sanitize INTERFACE -fsanitize=thread)
endif()

add_library(talvor_float_rules INTERFACE)
target_compile_options(talvor_float_rules INTERFACE -ffp-contract=off -fno-fast-math)

add_library(talvor_build_options INTERFACE)
target_link_libraries(talvor_build_options INTERFACE talvor_warnings talvor_sanitize talvor_float_rules)
