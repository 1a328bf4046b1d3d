#!/bin/sh
# Runs a Windows executable under 64-bit Wine; CTest uses it as the cross
# compiling emulator for the Win64 build.
#
#   wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]
#
# DIR becomes WINEPREFIX (created on first use). Without a display, the
# program gets a private virtual X server from xvfb-run when available, since
# editor tests open real windows.
set -eu

if [ "${1:-}" = "--prefix" ]; then
  [ $# -ge 2 ] || { echo "wine-run.sh: --prefix needs a folder" >&2; exit 2; }
  WINEPREFIX=$2
  shift 2
fi
[ $# -ge 1 ] || { echo "usage: wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]" >&2; exit 2; }

WINE64=${TALVOR_WINE64:-/usr/lib/wine/wine64}
if [ ! -x "$WINE64" ]; then
  echo "wine-run.sh: $WINE64 not found (install the wine64 package)" >&2
  exit 2
fi

: "${WINEPREFIX:=${HOME:-/tmp}/.wine-talvor}"
mkdir -p "$WINEPREFIX"
WINEPREFIX=$(cd "$WINEPREFIX" && pwd)
export WINEPREFIX
export WINEARCH=win64
export WINELOADER="$WINE64"
# Quiet, and never stop to offer Mono or Gecko downloads.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=;winemenubuilder.exe=}"

if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$WINE64" "$@"
fi
exec "$WINE64" "$@"
