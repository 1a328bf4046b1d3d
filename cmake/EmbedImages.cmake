# Script mode: turns the editor's PNG files into a C++ table of byte arrays.
#   cmake -DIMAGE_TABLE=plugin/TalvorImages.cmake -DSOURCE_ROOT=<source root>
#         -DOUTPUT=<file.cpp> -P EmbedImages.cmake
# The images come from the table (resource id, stem, file); a listed file that
# is missing stops the build.
include("${IMAGE_TABLE}")

set(body "// Generated at build time from the editor's PNG files. Do not edit.\n")
string(APPEND body "#include \"graphics/EmbeddedImages.h\"\n\n")
set(table "")
set(count 0)
list(LENGTH TALVOR_IMAGES n)
while(n GREATER 0)
  list(POP_FRONT TALVOR_IMAGES id stem file)
  math(EXPR n "${n} - 3")
  set(path "${SOURCE_ROOT}/${file}")
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "image ${path} (resource ${id}) not found")
  endif()
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
  string(APPEND body "static const unsigned char k${stem}[] = {\n${bytes}\n};\n")
  string(APPEND table "  {${id}, \"${file}\", k${stem}, ${size}},\n")
  math(EXPR count "${count} + 1")
endwhile()
string(APPEND body "\nconst EmbeddedImage kEmbeddedImages[] = {\n${table}};\n")
string(APPEND body "const int kEmbeddedImageCount = ${count};\n")

# Rewrite only on change so that dependants are not rebuilt needlessly.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL body)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${body}")
