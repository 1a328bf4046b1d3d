cmake_minimum_required(VERSION 3.20)
# cmake -DOBJDUMP=... -DFILES="a.exe;b.dll" -DDIRS="dir;..." -P CheckImports.cmake
# Fails when a Windows binary imports a DLL that is not part of Windows itself.
set(allowed
    kernel32 user32 gdi32 msvcrt advapi32 ole32 oleaut32 shell32 shlwapi comctl32
    comdlg32 winmm version imm32 uxtheme dwmapi msimg32 ws2_32 rpcrt4 bcrypt crypt32
    setupapi winspool.drv ntdll)

set(binaries ${FILES})
foreach(dir IN LISTS DIRS)
  if(IS_DIRECTORY "${dir}")
    file(GLOB found LIST_DIRECTORIES false "${dir}/*.dll" "${dir}/*.vst3" "${dir}/*.exe"
         "${dir}/*.vst3/Contents/x86_64-win/*.vst3")
    list(APPEND binaries ${found})
  endif()
endforeach()
list(REMOVE_DUPLICATES binaries)
if(NOT binaries)
  message(FATAL_ERROR "no Windows binaries to check")
endif()

set(bad "")
foreach(bin IN LISTS binaries)
  if(NOT EXISTS "${bin}")
    message(FATAL_ERROR "missing: ${bin}")
  endif()
  execute_process(COMMAND "${OBJDUMP}" -p "${bin}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} failed on ${bin}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${dump}")
  set(imports "")
  foreach(entry IN LISTS names)
    string(REGEX REPLACE "DLL Name: *" "" dll "${entry}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    list(APPEND imports "${dll}")
    string(REGEX REPLACE "\\.dll$" "" stem "${dll}")
    if(NOT stem IN_LIST allowed AND NOT dll IN_LIST allowed AND NOT stem MATCHES "^api-ms-win-")
      list(APPEND bad "${bin}: ${dll}")
    endif()
  endforeach()
  message(STATUS "${bin}: ${imports}")
endforeach()

if(bad)
  string(REPLACE ";" "\n  " bad "${bad}")
  message(FATAL_ERROR "non-system DLL imports:\n  ${bad}")
endif()
