# Generates the identity header plugin/TalvorIdentity.h (template:
# plugin/TalvorIdentity.h.in) from the project version and the identity written
# in plugin/TalvorIdentity.cmake, and leaves these CMake variables for
# packaging steps:
#
#   TALVOR_NAME, TALVOR_PRODUCT_NAME, TALVOR_MAKER, TALVOR_URL, TALVOR_EMAIL
#   TALVOR_VERSION (text, "2.0.0"), TALVOR_VERSION_PACKED ("0x00020000")
#   TALVOR_PLUGIN_CODE, TALVOR_MAKER_CODE (four characters) and their packed
#     forms TALVOR_PLUGIN_CODE_PACKED, TALVOR_MAKER_CODE_PACKED ("0x546C7631")
#   TALVOR_VST3_CATEGORY ("Fx|EQ"), TALVOR_VST3_SDK_VERSION ("VST 3.6.12")
#   TALVOR_LV2_URI (the LV2 plug-ins' URIs begin with it)
#   TALVOR_VST3_CLASS_ID (32 hexadecimal digits: the class id as the VST3 SDK
#     prints it, the same text on every platform)
#
# The interface target talvor_identity puts the generated headers on the
# include path.
include("${PROJECT_SOURCE_DIR}/plugin/TalvorIdentity.cmake")

# ---- Derived values ---------------------------------------------------------------------

set(TALVOR_VERSION "${PROJECT_VERSION}")
if(NOT PROJECT_VERSION_MAJOR MATCHES "^[0-9]+$" OR NOT PROJECT_VERSION_MINOR MATCHES "^[0-9]+$"
   OR NOT PROJECT_VERSION_PATCH MATCHES "^[0-9]+$" OR PROJECT_VERSION_MINOR GREATER 255
   OR PROJECT_VERSION_PATCH GREATER 255 OR PROJECT_VERSION_MAJOR GREATER 32767)
  message(FATAL_ERROR "project(VERSION ${PROJECT_VERSION}) must be MAJOR.MINOR.PATCH with minor and patch below 256")
endif()
# Major number in bits 16 and up, minor in bits 8 to 15, patch in bits 0 to 7.
math(EXPR TALVOR_VERSION_PACKED
  "(${PROJECT_VERSION_MAJOR} << 16) | (${PROJECT_VERSION_MINOR} << 8) | ${PROJECT_VERSION_PATCH}"
  OUTPUT_FORMAT HEXADECIMAL)
string(REGEX REPLACE "^0x" "" _talvor_hex "${TALVOR_VERSION_PACKED}")
string(LENGTH "${_talvor_hex}" _talvor_len)
while(_talvor_len LESS 8)
  string(PREPEND _talvor_hex "0")
  math(EXPR _talvor_len "${_talvor_len} + 1")
endwhile()
string(TOUPPER "${_talvor_hex}" _talvor_hex)
set(TALVOR_VERSION_PACKED "0x${_talvor_hex}")

# A four-character code packed into an int32, first character in the most
# significant byte; printable ASCII only, so the value is never negative.
function(_talvor_pack_code code out_var)
  string(LENGTH "${code}" len)
  if(NOT len EQUAL 4 OR NOT code MATCHES "^[ -~]+$")
    message(FATAL_ERROR "'${code}' is not a code of four printable ASCII characters")
  endif()
  string(HEX "${code}" hex)
  string(TOUPPER "${hex}" hex)
  set(${out_var} "${hex}" PARENT_SCOPE)
endfunction()
_talvor_pack_code("${TALVOR_PLUGIN_CODE}" _talvor_plugin_hex)
_talvor_pack_code("${TALVOR_MAKER_CODE}" _talvor_maker_hex)
set(TALVOR_PLUGIN_CODE_PACKED "0x${_talvor_plugin_hex}")
set(TALVOR_MAKER_CODE_PACKED "0x${_talvor_maker_hex}")
set(TALVOR_VST3_CLASS_ID "${TALVOR_VST3_CLASS_ID_PREFIX}${_talvor_maker_hex}${_talvor_plugin_hex}")
if(NOT TALVOR_VST3_CLASS_ID MATCHES "^[0-9A-F]+$")
  message(FATAL_ERROR "TALVOR_VST3_CLASS_ID_PREFIX must be hexadecimal digits")
endif()
string(LENGTH "${TALVOR_VST3_CLASS_ID}" _talvor_len)
if(NOT _talvor_len EQUAL 32)
  message(FATAL_ERROR "the VST3 class id ${TALVOR_VST3_CLASS_ID} is not 16 bytes")
endif()
# The SDK reads that text as one 32-bit word, two 16-bit words and eight bytes.
# Windows modules store the words little-endian (the COM GUID layout), other
# platforms store the bytes in text order, so that both print the same text.
# As C initializers of 16 chars: '\x0D', '\xE7', ...
string(REGEX REPLACE "([0-9A-F][0-9A-F])" "'\\\\x\\1', " TALVOR_VST3_CLASS_ID_BYTES_PLAIN "${TALVOR_VST3_CLASS_ID}")
string(REGEX REPLACE ", $" "" TALVOR_VST3_CLASS_ID_BYTES_PLAIN "${TALVOR_VST3_CLASS_ID_BYTES_PLAIN}")
set(_talvor_com "")
foreach(_talvor_pos 6 4 2 0 10 8 14 12)
  string(SUBSTRING "${TALVOR_VST3_CLASS_ID}" ${_talvor_pos} 2 _talvor_byte)
  string(APPEND _talvor_com "${_talvor_byte}")
endforeach()
string(SUBSTRING "${TALVOR_VST3_CLASS_ID}" 16 16 _talvor_byte)
string(APPEND _talvor_com "${_talvor_byte}")
string(REGEX REPLACE "([0-9A-F][0-9A-F])" "'\\\\x\\1', " TALVOR_VST3_CLASS_ID_BYTES_COM "${_talvor_com}")
string(REGEX REPLACE ", $" "" TALVOR_VST3_CLASS_ID_BYTES_COM "${TALVOR_VST3_CLASS_ID_BYTES_COM}")

# Text values go into C string literals and the resource script unescaped.
foreach(_talvor_var TALVOR_NAME TALVOR_PRODUCT_NAME TALVOR_MAKER TALVOR_URL TALVOR_EMAIL TALVOR_VST3_CATEGORY
                    TALVOR_VST3_SDK_VERSION TALVOR_LV2_URI)
  if("${${_talvor_var}}" MATCHES "[\"\\\\]")
    message(FATAL_ERROR "${_talvor_var} must not contain quotes or backslashes")
  endif()
endforeach()

# ---- The header and its target ---------------------------------------------------------

set(TALVOR_GENERATED_DIR "${PROJECT_BINARY_DIR}/generated")
configure_file("${PROJECT_SOURCE_DIR}/plugin/TalvorIdentity.h.in"
               "${TALVOR_GENERATED_DIR}/plugin/TalvorIdentity.h" @ONLY)

add_library(talvor_identity INTERFACE)
target_include_directories(talvor_identity INTERFACE "${TALVOR_GENERATED_DIR}")
