# Script mode: turns the editor's PNG files into a C++ table of the images.
#   cmake -DIMAGE_TABLE=plugin/TalvorImages.cmake -DSOURCE_ROOT=<source root>
#         -DOUTPUT=<file.cpp> -P EmbedImages.cmake
# The images come from the table (resource id, stem, file); a listed file that
# is missing stops the build. The bytes go in with the assembler's .incbin:
# megabytes of images written out as C array text would take the compiler
# far longer than the rest of the plug-in. The generated file names the
# images by path, so the target that compiles it must depend on them
# (talvor_embed_images sets that up).
include("${IMAGE_TABLE}")

set(body "// Generated at build time from the editor's PNG files. Do not edit.\n")
string(APPEND body "#include <cstddef>\n\n#include \"graphics/EmbeddedImages.h\"\n\n")
# The assembler of PE/COFF objects has no .pushsection; the compiler puts
# top-level assembly before anything of its own, and names its sections itself.
string(APPEND body "#if defined(_WIN32)\n#define TALVOR_IMAGE_BEGIN \".section .rdata,\\\"dr\\\"\\n\"\n")
string(APPEND body "#define TALVOR_IMAGE_END \".text\\n\"\n")
string(APPEND body "#else\n#define TALVOR_IMAGE_BEGIN \".pushsection .rodata\\n\"\n")
string(APPEND body "#define TALVOR_IMAGE_END \".popsection\\n\"\n#endif\n\n")
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
  if(path MATCHES "[\"\\\\]")
    message(FATAL_ERROR "image path ${path} holds a quote or backslash, which the assembler's .incbin cannot take")
  endif()
  file(SIZE "${path}" size)
  string(APPEND body "extern \"C\" const unsigned char talvor_image_${stem}[];\n")
  string(APPEND body "__asm__(TALVOR_IMAGE_BEGIN \".balign 16\\ntalvor_image_${stem}:\\n\"\n")
  string(APPEND body "        \".incbin \\\"${path}\\\"\\n\" TALVOR_IMAGE_END);\n")
  string(APPEND table "  {${id}, \"${file}\", talvor_image_${stem}, ${size}},\n")
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
