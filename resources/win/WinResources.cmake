# talvor_add_win_resources(<target> <VST3|VST2|TEST>)
#
# Compiles resources/win/TALVOR.rc (the twelve editor images as "PNG" resources
# and the version record) into an object file linked into <target>. windres
# runs through a custom command so that the C++ warning flags never reach it
# and so that editing an image rebuilds the resources.
set(TALVOR_WIN_RC_FILE "${CMAKE_CURRENT_LIST_DIR}/TALVOR.rc" CACHE INTERNAL "")
set(TALVOR_WIN_RC_IMAGES BG BY HF HG LF LG MF MG IN OUT FL LINK CACHE INTERNAL "")

function(talvor_add_win_resources target kind)
  set(windres "${CMAKE_RC_COMPILER}")
  if(NOT windres)
    find_program(TALVOR_WINDRES NAMES x86_64-w64-mingw32-windres windres REQUIRED)
    set(windres "${TALVOR_WINDRES}")
  endif()
  set(images "")
  foreach(name IN LISTS TALVOR_WIN_RC_IMAGES)
    list(APPEND images "${PROJECT_SOURCE_DIR}/resources/img/${name}.png")
  endforeach()
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.o")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND "${windres}" -O coff -I "${PROJECT_SOURCE_DIR}" -D TALVOR_MODULE_${kind}
            -i "${TALVOR_WIN_RC_FILE}" -o "${out}"
    DEPENDS "${TALVOR_WIN_RC_FILE}" "${PROJECT_SOURCE_DIR}/plugin/TalvorResources.h" ${images}
    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
    COMMENT "Compiling Windows resources for ${target}"
    VERBATIM)
  set_source_files_properties("${out}" PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE "${out}")
endfunction()
