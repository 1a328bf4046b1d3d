#!/usr/bin/env bash
# Runs the tests of a Win64 cross build folder under Wine on a virtual display.
#
#   scripts/run-win64-tests.sh BUILD_DIR [CTEST ARGS...]
#
# Creates the build folder's Wine prefix on first use and keeps one Wine
# server running for the whole test run, so that each test program starts
# quickly.
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

[ $# -ge 1 ] || die "usage: run-win64-tests.sh BUILD_DIR [CTEST ARGS...]"
dir=$(cd "$1" && pwd)
shift

[ -x "$TALVOR_WINE64" ] || die "$TALVOR_WINE64 not found (install wine64)"
if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || die "no display and no xvfb-run (install xvfb)"
  exec xvfb-run -a -s "$TALVOR_XVFB_ARGS" "$0" "$dir" "$@"
fi

export WINEPREFIX=$dir/wineprefix
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  log "Creating Wine prefix $WINEPREFIX"
  start=$(date +%s)
  "$TALVOR_ROOT/scripts/wine-run.sh" --prefix "$WINEPREFIX" wineboot -i >"$dir/wineboot.log" 2>&1 \
    || { cat "$dir/wineboot.log" >&2; die "wineboot failed"; }
  log "Wine prefix ready in $(( $(date +%s) - start ))s"
fi

# The server quits by itself a few seconds after its last program; keep it
# for the run and stop it (only this prefix's) when done.
/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

ctest --test-dir "$dir" -j"$TALVOR_JOBS" --output-on-failure --timeout 600 "$@"
