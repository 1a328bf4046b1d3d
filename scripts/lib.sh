# shellcheck shell=bash
# Shared helpers for setup.sh, test.sh and build-win64-deps.sh (sourced, bash).

TALVOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TALVOR_BUILD_ROOT=${TALVOR_BUILD_ROOT:-$TALVOR_ROOT/build}
TALVOR_DEPS_ROOT=${TALVOR_DEPS_ROOT:-$TALVOR_ROOT/build-deps}
TALVOR_JOBS=${TALVOR_JOBS:-$(nproc 2>/dev/null || echo 2)}
export TALVOR_WINE64=${TALVOR_WINE64:-/usr/lib/wine/wine64}
# -noreset: the server would otherwise reset whenever its last client leaves,
# refusing connections meanwhile (tests connect and leave in quick turns).
TALVOR_XVFB_ARGS="-screen 0 1024x768x24 -noreset"

# Debian packages for building and testing everything, native, Win64 and
# AArch64 Linux, and the packages in dist/ (dpkg-dev for the .deb, nsis for the
# Windows installer). The AArch64 build takes the target's libraries from
# Debian's arm64 packages (name:arm64, through multiarch; ensure_packages adds
# the architecture), with the runtimes named so that dpkg-shlibdeps finds them
# there, and runs its programs under qemu-user.
TALVOR_PACKAGES=(
  build-essential cmake pkg-config git dpkg-dev python3
  libpng-dev zlib1g-dev libsndfile1-dev
  googletest libgtest-dev libbenchmark-dev
  juce-modules-source-data
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 wine xvfb xauth
  libx11-dev libxext-dev libxtst-dev
  nsis
  lv2-dev
  g++-aarch64-linux-gnu qemu-user
  libpng-dev:arm64 zlib1g-dev:arm64 libx11-dev:arm64 libxext-dev:arm64
  libstdc++6:arm64 libgcc-s1:arm64
)
# Only the test suite needs these (scripts/test.sh): Ardour for the host tests
# (tests/hosts), lintian for the Debian package's test (tests/packaging), lilv,
# its tools and sord_validate for the LV2 tests (tests/lv2), the locale sources
# for the comma-decimal locale test (tests/locale), Clang with its libFuzzer
# and sanitizer runtimes for the fuzz stage (tests/fuzz), and the arm64
# libraries the AArch64 test build links (XTest, lilv, libsndfile for the
# tools).
# tools/plots/make_plots.py needs python3-matplotlib; nothing runs it unasked.
TALVOR_TEST_PACKAGES=(
  ardour lintian
  liblilv-dev lilv-utils sordi
  locales clang libclang-rt-14-dev
  libxtst-dev:arm64 liblilv-dev:arm64 libsndfile1-dev:arm64
)

TALVOR_TIMINGS=()

log() { printf '==> %s\n' "$*"; }
warn() { printf 'warning: %s\n' "$*" >&2; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# add_timing LABEL SECONDS EXIT_STATUS
add_timing() {
  TALVOR_TIMINGS+=("$(printf '%-34s %5ss%s' "$1" "$2" "$([ "$3" -eq 0 ] || echo "  (failed, exit $3)")")")
}

# timed LABEL COMMAND...: runs the command and records how long it took
# (not inside a pipeline: the record would be lost in the subshell).
timed() {
  local label=$1 start rc=0
  shift
  start=$(date +%s)
  "$@" || rc=$?
  add_timing "$label" "$(( $(date +%s) - start ))" $rc
  return $rc
}

print_timings() {
  [ ${#TALVOR_TIMINGS[@]} -gt 0 ] || return 0
  log "Timings"
  printf '    %s\n' "${TALVOR_TIMINGS[@]}"
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    die "root rights needed for: $*"
  fi
}

# Only the package installation needs root. Started through sudo, a script
# calls this after ensure_packages and goes on as the user who called sudo, so
# that every build output in the checkout belongs to that user; started as
# root directly (as on CI), it goes on as root.
#   continue_as_invoking_user SCRIPT ARGS...
continue_as_invoking_user() {
  [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_UID:-}" ] && [ "$SUDO_UID" != 0 ] || return 0
  local vars=() v home
  home=$(getent passwd "$SUDO_UID" | cut -d: -f6)
  for v in $(compgen -e); do
    case $v in TALVOR_*|CI|DISPLAY|ASAN_OPTIONS|UBSAN_OPTIONS) vars+=("$v=${!v}") ;; esac
  done
  log "Going on as $(id -nu "$SUDO_UID"): only the packages needed root"
  exec setpriv --reuid="$SUDO_UID" --regid="${SUDO_GID:-$SUDO_UID}" --init-groups \
    env -i PATH="$PATH" HOME="${home:-/tmp}" USER="$SUDO_USER" LOGNAME="$SUDO_USER" \
    LANG="${LANG:-C.UTF-8}" TERM="${TERM:-dumb}" "${vars[@]}" bash "$@"
}

# The build outputs must be the running user's: a user cannot build over
# what an earlier run as root left.
check_outputs_owned() {
  [ "$(id -u)" -ne 0 ] || return 0
  local dir other dirs=("$TALVOR_BUILD_ROOT" "$TALVOR_ROOT/dist")
  win64_deps_ready || dirs+=("$TALVOR_DEPS_ROOT")
  for dir in "${dirs[@]}"; do
    [ -e "$dir" ] || continue
    other=$(find "$dir" ! -user "$(id -u)" -print -quit 2>/dev/null)
    [ -z "$other" ] || die "$other belongs to $(stat -c %U "$other") (left by a run as root?); take the build outputs back with: sudo chown -R $(id -un): $dir"
  done
}

# package_installed NAME[:ARCH]: installed for ARCH (default: the machine's
# own architecture, or "all"); a package may be installed for several.
package_installed() {
  local name=${1%%:*} arch=${1#*:}
  [ "$arch" != "$1" ] || arch=$(dpkg --print-architecture)
  dpkg-query -W -f='${Architecture} ${Status}\n' "$name" 2>/dev/null | grep -Eqx "($arch|all) install ok installed"
}

# Source packages (apt-get source) need deb-src entries; add them beside the
# existing deb entries when none is configured.
ensure_deb_src() {
  local deb822=/etc/apt/sources.list.d/debian.sources classic=/etc/apt/sources.list
  if grep -Eqs '^[[:space:]]*Types:.*deb-src' /etc/apt/sources.list.d/*.sources \
     || grep -Eqs '^[[:space:]]*deb-src[[:space:]]' "$classic" /etc/apt/sources.list.d/*.list; then
    return 1
  fi
  if [ -f "$deb822" ] && grep -Eq '^[[:space:]]*Types:[[:space:]]*deb[[:space:]]*$' "$deb822"; then
    log "Adding deb-src to $deb822"
    as_root sed -i -E 's/^([[:space:]]*Types:[[:space:]]*)deb[[:space:]]*$/\1deb deb-src/' "$deb822"
  elif [ -f "$classic" ] && grep -Eq '^[[:space:]]*deb[[:space:]]' "$classic"; then
    log "Adding deb-src lines to $classic"
    as_root sed -i -E 's/^([[:space:]]*)deb([[:space:]].*)$/&\n\1deb-src\2/' "$classic"
  else
    die "no Debian apt source found to add deb-src to"
  fi
  return 0
}

# Installs whatever is missing from TALVOR_PACKAGES (and the extra package
# names given). apt is not touched at all when everything is present.
ensure_packages() {
  local missing=() p arch src_added=0
  for p in "${TALVOR_PACKAGES[@]}" "$@"; do
    package_installed "$p" || missing+=("$p")
  done
  # A package of another architecture (name:arch) needs that architecture
  # in dpkg's list first; the apt-get update below then reads its lists.
  for p in "${missing[@]}"; do
    case $p in *:*) arch=${p##*:} ;; *) continue ;; esac
    if [ "$arch" != "$(dpkg --print-architecture)" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      log "Adding the package architecture $arch"
      as_root dpkg --add-architecture "$arch"
    fi
  done
  # The Win64 zlib and libpng are built from Debian's source packages.
  if ! win64_deps_ready && ensure_deb_src; then src_added=1; fi
  if [ ${#missing[@]} -eq 0 ] && [ $src_added -eq 0 ]; then
    log "All packages present"
    return 0
  fi
  log "apt-get update"
  as_root apt-get update -q
  if [ ${#missing[@]} -gt 0 ]; then
    log "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

win64_deps_ready() { [ -f "$TALVOR_DEPS_ROOT/win64/.stamp" ]; }

# cmake_configure DIR ARGS...: configure a build folder (once; later runs
# only refresh the cache with ARGS).
cmake_configure() {
  local dir=$1
  shift
  cmake -S "$TALVOR_ROOT" -B "$dir" "$@"
}

# cmake_build DIR LOG [TARGET...]: build the targets (default: all), keep
# going past failures so that every target that can be built is; the full
# output goes to LOG.
cmake_build() {
  local dir=$1 logfile=$2 rc=0 keep_going=() targets=()
  shift 2
  [ $# -eq 0 ] || targets=(--target "$@")
  case $(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$dir/CMakeCache.txt" 2>/dev/null) in
    *Makefiles*) keep_going=(-- -k) ;;
    Ninja*) keep_going=(-- -k 0) ;;
  esac
  cmake --build "$dir" -j"$TALVOR_JOBS" "${targets[@]}" "${keep_going[@]}" >"$logfile" 2>&1 || rc=$?
  if [ $rc -ne 0 ]; then
    warn "build in $dir failed; errors from $logfile:"
    grep -E -m 40 -A3 '(error|Error)[: ]' "$logfile" >&2 || tail -n 40 "$logfile" >&2
  else
    grep -E 'warning:' "$logfile" | sort -u | head -n 20 >&2 || true
  fi
  return $rc
}

# The fuzz build (tests/fuzz): Clang, libFuzzer, address and undefined-behaviour
# sanitizers; one argument per line. DIR: the build folder.
fuzz_configure_args() {
  printf '%s\n' -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTALVOR_FUZZ=ON -DTALVOR_BUILD_TESTS=ON -DTALVOR_BUILD_TOOLS=OFF -DTALVOR_BUILD_BENCH=OFF \
    -DTALVOR_HOST_TESTS=OFF "-DTALVOR_DIST_DIR=$1/dist"
}

arm64_toolchain_args() {
  echo "-DCMAKE_TOOLCHAIN_FILE=$TALVOR_ROOT/cmake/aarch64-linux-gnu.cmake"
}

win64_toolchain_args() {
  echo "-DCMAKE_TOOLCHAIN_FILE=$TALVOR_ROOT/cmake/mingw-w64-x86_64.cmake"
  echo "-DTALVOR_WIN64_DEPS_DIR=$TALVOR_DEPS_ROOT/win64"
}

# Runs COMMAND... with a private virtual X display.
with_display() {
  xvfb-run -a -s "$TALVOR_XVFB_ARGS" "$@"
}
