#!/usr/bin/env bash
# Runs the tests of a Win64 cross build folder under Wine on a virtual display.
#
#   scripts/run-win64-tests.sh BUILD_DIR [CTEST ARGS...]
#
# Creates the build folder's Wine prefix on first use (build/win64/wineprefix)
# and keeps one Wine server running for the whole test run, so that each test
# program starts quickly.
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
mkdir -p "$WINEPREFIX"
server=/usr/lib/wine/wineserver

# One Wine server for the whole run (it would otherwise quit and restart
# between test programs); stopped on exit. A server left from an earlier run
# of this prefix is waited for first.
if ! "$server" -p 2>/dev/null; then
  timeout 60 "$server" -w || true
  "$server" -p || warn "could not start a persistent Wine server; continuing without"
fi
trap '"$server" -k 2>/dev/null || true' EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  log "Creating Wine prefix $WINEPREFIX"
  start=$(date +%s)
  "$TALVOR_ROOT/scripts/wine-run.sh" wineboot -i >"$dir/wineboot.log" 2>&1 \
    || { cat "$dir/wineboot.log" >&2; die "wineboot failed"; }
  log "Wine prefix ready in $(( $(date +%s) - start ))s"
fi
# The first program of a session starts Wine's desktop and services; pay for
# that once here rather than inside a test's time limit.
start=$(date +%s)
"$TALVOR_ROOT/scripts/wine-run.sh" cmd /c exit >/dev/null 2>&1 || warn "Wine warm-up failed"
log "Wine session started in $(( $(date +%s) - start ))s"

# Wine itself now and then fails to start a program (no output at all) or
# leaves one hanging after its last line; a test is therefore run a second
# time when it fails, and a fault of ours still fails both runs.
ctest --test-dir "$dir" -j"$TALVOR_JOBS" --output-on-failure --timeout 600 --repeat until-pass:2 "$@"
