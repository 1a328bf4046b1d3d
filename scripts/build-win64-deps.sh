#!/usr/bin/env bash
# Builds static zlib and libpng for Win64 from Debian's source packages with
# the MinGW-w64 toolchain, into build-deps/win64/{include,lib}.
# Does nothing when they are already built (build-deps/win64/.stamp); pass
# --force to rebuild.
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

force=0
[ "${1:-}" = "--force" ] && force=1

prefix=$TALVOR_DEPS_ROOT/win64
if [ $force -eq 0 ] && win64_deps_ready; then
  log "Win64 zlib and libpng already built ($(tr '\n' ' ' <"$prefix/.stamp"))"
  exit 0
fi

cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar
command -v $cc >/dev/null || die "$cc not found (run scripts/setup.sh first)"

srcroot=$TALVOR_DEPS_ROOT/src
buildroot=$TALVOR_DEPS_ROOT/build
rm -rf "$prefix" "$buildroot"
mkdir -p "$srcroot" "$buildroot" "$prefix/include" "$prefix/lib"

# Versions of a source package that apt knows, newest first.
source_versions() {
  local v sorted=() i
  for v in $(apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ {print $2}' | sort -u); do
    i=${#sorted[@]}
    sorted+=("$v")
    while [ "$i" -gt 0 ] && dpkg --compare-versions "${sorted[i-1]}" lt "${sorted[i]}"; do
      v=${sorted[i-1]}; sorted[i-1]=${sorted[i]}; sorted[i]=$v
      i=$((i - 1))
    done
  done
  printf '%s\n' "${sorted[@]}"
}

# fetch_source PACKAGE: unpacks the newest downloadable version of PACKAGE's
# Debian source into $srcroot/PACKAGE-VERSION and prints that folder.
# (A mirror may list a newer security update than it can serve; older
# versions are tried then.)
fetch_source() {
  local pkg=$1 versions v upstream dir
  versions=$(source_versions "$pkg")
  if [ -z "$versions" ]; then
    as_root apt-get update -q >&2
    versions=$(source_versions "$pkg")
  fi
  [ -n "$versions" ] || die "apt knows no source package $pkg (deb-src missing?)"
  for v in $versions; do
    upstream=${v#*:}
    dir=$srcroot/$pkg-$upstream
    if [ -f "$dir/.unpacked" ]; then
      echo "$dir"
      return 0
    fi
    if (cd "$srcroot" && apt-get source -q --download-only "$pkg=$v") >&2; then
      rm -rf "$dir"
      (cd "$srcroot" && dpkg-source -x "${pkg}_${upstream}.dsc" "$dir") >&2 \
        || die "dpkg-source failed for $pkg $v"
      touch "$dir/.unpacked"
      echo "$dir"
      return 0
    fi
    warn "could not download $pkg $v, trying an older version"
  done
  die "no version of $pkg could be downloaded"
}

log "Fetching Debian sources of zlib and libpng1.6"
zlib_src=$(fetch_source zlib)
png_src=$(fetch_source libpng1.6)

log "Building zlib from $zlib_src"
zlib_build=$buildroot/zlib
mkdir -p "$zlib_build"
zlib_objs=()
for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast \
         inflate inftrees trees uncompr zutil; do
  $cc -O2 -DNDEBUG -c "$zlib_src/$f.c" -o "$zlib_build/$f.o"
  zlib_objs+=("$zlib_build/$f.o")
done
$ar rcs "$prefix/lib/libz.a" "${zlib_objs[@]}"
cp "$zlib_src/zlib.h" "$zlib_src/zconf.h" "$prefix/include/"

log "Building libpng from $png_src"
cmake -S "$png_src" -B "$buildroot/libpng" \
  -DCMAKE_TOOLCHAIN_FILE="$TALVOR_ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DTALVOR_WIN64_DEPS_DIR="$prefix" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a" \
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
  -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON >"$buildroot/libpng-configure.log" \
  || { cat "$buildroot/libpng-configure.log" >&2; die "libpng configure failed"; }
cmake --build "$buildroot/libpng" -j"$TALVOR_JOBS" >"$buildroot/libpng-build.log" 2>&1 \
  || { tail -n 40 "$buildroot/libpng-build.log" >&2; die "libpng build failed"; }
cmake --install "$buildroot/libpng" >"$buildroot/libpng-install.log"

if [ ! -f "$prefix/include/png.h" ] || [ ! -f "$prefix/lib/libpng16.a" ]; then
  die "libpng install incomplete"
fi
printf 'zlib %s\nlibpng %s\n' "${zlib_src##*/zlib-}" "${png_src##*/libpng1.6-}" >"$prefix/.stamp"
log "Win64 zlib and libpng installed in $prefix"
