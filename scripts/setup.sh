#!/usr/bin/env bash
# Sets up a Debian 12 machine and builds every deliverable into dist/:
# installs missing packages, builds zlib and libpng for Win64, builds the
# native tools and Linux modules, the Win64 modules and the AArch64 Linux
# modules, then renders the built-in demo clip to dist/default-render.wav.
# Run it as yourself: it asks for root (sudo) only to install packages.
#
# Environment: TALVOR_BUILD_ROOT (default ./build), TALVOR_JOBS (default: nproc).
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
trap print_timings EXIT

cd "$TALVOR_ROOT"
dist=$TALVOR_ROOT/dist

timed "packages (apt)" ensure_packages
continue_as_invoking_user "$TALVOR_ROOT/scripts/setup.sh" "$@"
check_outputs_owned
timed "win64: zlib + libpng" "$TALVOR_ROOT/scripts/build-win64-deps.sh"

native=$TALVOR_BUILD_ROOT/native
mkdir -p "$native"
log "Configuring native build in $native"
timed "native: configure" cmake_configure "$native" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVOR_SANITIZE=OFF \
  -DTALVOR_BUILD_TESTS=OFF -DTALVOR_BUILD_TOOLS=ON -DTALVOR_BUILD_BENCH=OFF \
  -DTALVOR_DIST_DIR="$dist" >"$native/configure.log" \
  || { cat "$native/configure.log" >&2; die "native configure failed"; }
log "Building native deliverables (log: $native/build.log)"
timed "native: build" cmake_build "$native" "$native/build.log" || die "native build failed"

win64=$TALVOR_BUILD_ROOT/win64
mkdir -p "$win64"
mapfile -t toolchain < <(win64_toolchain_args)
log "Configuring Win64 build in $win64"
timed "win64: configure" cmake_configure "$win64" "${toolchain[@]}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVOR_BUILD_TESTS=OFF \
  -DTALVOR_DIST_DIR="$dist" >"$win64/configure.log" \
  || { cat "$win64/configure.log" >&2; die "Win64 configure failed"; }
log "Building Win64 deliverables (log: $win64/build.log)"
timed "win64: build" cmake_build "$win64" "$win64/build.log" || die "Win64 build failed"

arm64=$TALVOR_BUILD_ROOT/arm64
mkdir -p "$arm64"
mapfile -t toolchain < <(arm64_toolchain_args)
log "Configuring AArch64 Linux build in $arm64"
timed "arm64: configure" cmake_configure "$arm64" "${toolchain[@]}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVOR_BUILD_TESTS=OFF -DTALVOR_BUILD_TOOLS=OFF \
  -DTALVOR_BUILD_BENCH=OFF -DTALVOR_DIST_DIR="$dist" >"$arm64/configure.log" \
  || { cat "$arm64/configure.log" >&2; die "AArch64 configure failed"; }
log "Building AArch64 Linux deliverables (log: $arm64/build.log)"
timed "arm64: build" cmake_build "$arm64" "$arm64/build.log" || die "AArch64 build failed"

# The targets copy themselves into dist/; say which expected files are absent.
expected=(
  talvor-render talvor-snapshot
  linux-x86_64/TALVOR.vst3/Contents/x86_64-linux/TALVOR.so
  linux-x86_64/TALVOR.vst3/Contents/Resources/moduleinfo.json linux-x86_64/TALVOR.so
  linux-x86_64/TALVOR.lv2/manifest.ttl linux-x86_64/TALVOR.lv2/TALVOR.ttl
  linux-x86_64/TALVOR.lv2/TALVOR.so linux-x86_64/TALVOR.lv2/TALVOR_ui.so
  linux-aarch64/TALVOR.vst3/Contents/aarch64-linux/TALVOR.so
  linux-aarch64/TALVOR.vst3/Contents/Resources/moduleinfo.json linux-aarch64/TALVOR.so
  linux-aarch64/TALVOR.lv2/manifest.ttl linux-aarch64/TALVOR.lv2/TALVOR.ttl
  linux-aarch64/TALVOR.lv2/TALVOR.so linux-aarch64/TALVOR.lv2/TALVOR_ui.so
  win64/TALVOR.vst3/Contents/x86_64-win/TALVOR.vst3
  win64/TALVOR.vst3/Contents/Resources/moduleinfo.json win64/TALVOR.dll
  'talvor_*_amd64.deb' 'talvor_*_arm64.deb' 'TALVOR-*-win64-setup.exe'
)
for f in "${expected[@]}"; do
  compgen -G "$dist/$f" >/dev/null || warn "dist/$f was not built"
done

[ -x "$dist/talvor-render" ] || die "dist/talvor-render is missing; cannot render the demo clip"
log "Rendering the built-in clip: dist/talvor-render dist/default-render.wav"
timed "render default clip" "$dist/talvor-render" "$dist/default-render.wav"

log "Deliverables in dist/:"
(cd "$dist" && find . -type f ! -name '*.wav' | sed 's|^\./|    |' | sort)
log "Rendered: dist/default-render.wav"
