# The processor the Linux modules are built for, in the names each place uses:
#   TALVOR_LINUX_ARCH       x86_64 | aarch64: the VST3 bundle's <arch>-linux
#                           folder and the deliverables' dist/linux-<arch>/
#   TALVOR_LINUX_DIST_DIR   ${TALVOR_DIST_DIR}/linux-<arch>
#   TALVOR_DEB_ARCH         amd64 | arm64: the Debian package's architecture
if(WIN32)
  return()
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(TALVOR_LINUX_ARCH x86_64)
  set(TALVOR_DEB_ARCH amd64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
  set(TALVOR_LINUX_ARCH aarch64)
  set(TALVOR_DEB_ARCH arm64)
else()
  message(FATAL_ERROR "Linux builds are for x86_64 and aarch64; this one is for ${CMAKE_SYSTEM_PROCESSOR}")
endif()
set(TALVOR_LINUX_DIST_DIR "${TALVOR_DIST_DIR}/linux-${TALVOR_LINUX_ARCH}")
