# Compiler settings for TALVOR's own code, as interface targets rather than
# global flags, so that third-party code (the VST3 SDK, GoogleTest) keeps its
# own warnings.
#   talvor_warnings       -Wall -Wextra
#   talvor_sanitize       AddressSanitizer + UndefinedBehaviorSanitizer when
#                         TALVOR_SANITIZE is on (compile and link), else nothing
#   talvor_build_options  both
# The base libraries (talvor_dsp, talvor_graphics, talvor_framework,
# talvor_images) carry talvor_build_options in their public interface, so every
# program and module built on them compiles with the warnings and, in a
# sanitizer build, links the sanitizer runtimes. Targets built on none of them
# link it themselves.

add_library(talvor_warnings INTERFACE)
target_compile_options(talvor_warnings INTERFACE -Wall -Wextra)

add_library(talvor_sanitize INTERFACE)
if(TALVOR_SANITIZE)
  if(WIN32)
    message(FATAL_ERROR "TALVOR_SANITIZE is for native Linux builds; the MinGW-w64 build has no sanitizer runtimes")
  endif()
  target_compile_options(talvor_sanitize INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(talvor_sanitize INTERFACE -fsanitize=address,undefined)
endif()

add_library(talvor_build_options INTERFACE)
target_link_libraries(talvor_build_options INTERFACE talvor_warnings talvor_sanitize)
