#!/usr/bin/env bash
# Times TALVOR's Linux VST2 module, its Win64 module under Wine and ZamEQ2
# (Debian's zam-plugins) interleaved in one run with the timing host, and
# prints the median over the rounds of each TALVOR-to-ZamEQ2 ratio of the time
# per frame (processReplacing, 48 kHz, stereo for TALVOR; ZamEQ2 is a mono
# module and runs as one instance), plus instance creation times.
#
#   bench/compare-vst2.sh [NATIVE_BUILD_DIR] [WIN64_BUILD_DIR]
#
# Defaults: build/native and build/win64. A missing Win64 build is skipped.
# Environment: ROUNDS (3), BLOCKS ("512 64"), SECONDS_PER_RUN (4),
# ZAMEQ2 (/usr/lib/vst/ZamEQ2-vst.so).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/lib.sh
. "$root/scripts/lib.sh"

native=$(cd "${1:-$root/build/native}" && pwd)
win64=${2:-$root/build/win64}
rounds=${ROUNDS:-3}
blocks=${BLOCKS:-512 64}
seconds=${SECONDS_PER_RUN:-4}
zam=${ZAMEQ2:-/usr/lib/vst/ZamEQ2-vst.so}

host=$native/bench/vst2-timing-host
talvor_so=$native/vst2/TALVOR.so
[ -x "$host" ] || die "$host not built"
[ -f "$talvor_so" ] || die "$talvor_so not built"
[ -f "$zam" ] || die "$zam not found (install zam-plugins)"

win_host=$win64/bench/vst2-timing-host.exe
talvor_dll=$win64/vst2/TALVOR.dll
use_wine=1
[ -f "$win_host" ] && [ -f "$talvor_dll" ] || { warn "no Win64 build in $win64; timing Linux only"; use_wine=0; }

if [ $use_wine -eq 1 ] && [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a -s "$TALVOR_XVFB_ARGS" "$0" "$native" "$win64"
fi

# Every band away from flat, "Filter" on, input +4.5 dB, output -2.25 dB.
talvor_params=(--param 0=0.7 --param 1=0.5 --param 2=0.3 --param 3=0.75 --param 4=0.8 --param 5=0.25
               --param 6=0.6875 --param 7=0.40625 --param 8=1 --param 9=1 --param 10=0)
# Four bands active: +6 dB and -4 dB peaks, +3 dB low shelf, -3 dB high shelf.
zam_params=(--param 0=0.8 --param 3=0.657 --param 6=0.757 --param 8=0.671)

if [ $use_wine -eq 1 ]; then
  export WINEPREFIX=${WINEPREFIX:-$win64/wineprefix}
  server=/usr/lib/wine/wineserver
  "$server" -p 2>/dev/null || true
  trap '"$server" -k 2>/dev/null || true' EXIT
  wine() { "$root/scripts/wine-run.sh" --prefix "$WINEPREFIX" "$@" 2>/dev/null | tr -d '\r'; }
fi

# p10 of processReplacing from one timing-host run.
time_of() { sed -n 's/^processReplacing .* p10=\([0-9.]*\) .*/\1/p' | head -n 1; }

declare -A ratios
for ((r = 1; r <= rounds; r++)); do
  for b in $blocks; do
    z=$("$host" "$zam" --block "$b" --seconds "$seconds" "${zam_params[@]}" | time_of)
    l=$("$host" "$talvor_so" --block "$b" --seconds "$seconds" "${talvor_params[@]}" | time_of)
    line=$(printf 'round %d block %4d: ZamEQ2 %7.2f  Linux %7.2f' "$r" "$b" "$z" "$l")
    ratios[linux-$b]+="$(awk -v a="$l" -v z="$z" 'BEGIN { printf "%.4f ", a / z }')"
    if [ $use_wine -eq 1 ]; then
      w=$(wine "$win_host" "$talvor_dll" --block "$b" --seconds "$seconds" "${talvor_params[@]}" \
            < /dev/null | time_of) || true
      line+=$(printf '  Win64 %7.2f' "$w")
      ratios[win64-$b]+="$(awk -v a="$w" -v z="$z" 'BEGIN { printf "%.4f ", a / z }')"
    fi
    echo "$line ns/frame"
  done
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "median ratio TALVOR / ZamEQ2 (time per frame):"
for b in $blocks; do
  printf '  block %4d: Linux %s' "$b" "$(median <<<"${ratios[linux-$b]}")"
  [ $use_wine -eq 0 ] || printf '  Win64 %s' "$(median <<<"${ratios[win64-$b]}")"
  echo
done

echo "instance creation (first, later):"
printf '  Linux  %s\n' "$("$host" "$talvor_so" --create)"
printf '  ZamEQ2 %s\n' "$("$host" "$zam" --create)"
[ $use_wine -eq 0 ] || printf '  Win64  %s\n' "$(wine "$win_host" "$talvor_dll" --create < /dev/null)"
