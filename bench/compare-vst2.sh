#!/usr/bin/env bash
# Times TALVOR's Linux VST2 module, its Win64 module under Wine and ZamEQ2
# (Debian's zam-plugins) interleaved, round after round, and prints the
# median over the rounds of each TALVOR-to-ZamEQ2 ratio of the time per frame
# (processReplacing at 48 kHz: a stereo frame for TALVOR, a frame of the mono
# ZamEQ2 as one instance), plus instance creation times and heap.
#
#   bench/compare-vst2.sh [NATIVE_BUILD_DIR] [WIN64_BUILD_DIR]
#
# Defaults: build/native and build/win64. A missing Win64 build is skipped.
# In each round and block size the Linux module and ZamEQ2 share one process,
# timed stretch by stretch in turns. The Win64 module can share no process
# with a Linux one: it runs in its own, between two runs of the Linux module,
# and its ratio is the Linux module's times the Win64-to-Linux ratio (the
# same code on the same processor, so they vary alike with what else the
# machine runs, which ZamEQ2's time does not).
# Also times bench/TALVOR-avx2 and -sse2 (the module held to that path)
# where they were built, and ends with a table of every path's time per
# stereo frame, its ratios to one ZamEQ2 instance and to a stereo pair of
# them, and its ratio to the path's estimated bound (below) at the clock the
# timing host measures.
# Environment: ROUNDS (3), BLOCKS ("512 64"), SECONDS_PER_RUN (4),
# ZAMEQ2 (/usr/lib/vst/ZamEQ2-vst.so), TALVOR_INPUT (normalised "Input",
# default 0.5 = 0 dB).
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
input=${TALVOR_INPUT:-0.5}

host=$native/bench/vst2-timing-host
talvor_so=$native/vst2/TALVOR.so
[ -x "$host" ] || die "$host not built"
[ -f "$talvor_so" ] || die "$talvor_so not built"
if [ ! -f "$zam" ] && [ -z "${ZAMEQ2:-}" ]; then ensure_packages zam-plugins; fi
[ -f "$zam" ] || die "$zam not found (install zam-plugins)"

win_host=$win64/bench/vst2-timing-host.exe
talvor_dll=$win64/vst2/TALVOR.dll
use_wine=1
[ -f "$win_host" ] && [ -f "$talvor_dll" ] || { warn "no Win64 build in $win64; timing Linux only"; use_wine=0; }

if [ $use_wine -eq 1 ] && [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a -s "$TALVOR_XVFB_ARGS" "$0" "$native" "$win64"
fi

# Every band away from flat and "Filter" on; the gains as given.
talvor_params=(--param 0=0.7 --param 1=0.5 --param 2=0.3 --param 3=0.75 --param 4=0.8 --param 5=0.25
               --param 6="$input" --param 7=0.5 --param 8=1 --param 9=1 --param 10=0)
# Four bands active: +6 dB and -4 dB peaks, +3 dB low shelf, -3 dB high shelf.
zam_params=(--param 0=0.8 --param 3=0.657 --param 6=0.757 --param 8=0.671)

if [ $use_wine -eq 1 ]; then
  export WINEPREFIX=${WINEPREFIX:-$win64/wineprefix}
  server=/usr/lib/wine/wineserver
  "$server" -p 2>/dev/null || true
  trap '"$server" -k 2>/dev/null || true' EXIT
  wine() { "$root/scripts/wine-run.sh" --prefix "$WINEPREFIX" "$@" 2>/dev/null | tr -d '\r'; }
fi

# field NAME MODULE: a value from the processReplacing line of MODULE.
field() { awk -v f="$1" -v m="module=$2" '/^processReplacing/ && index($0, m) {
  for (i = 1; i <= NF; ++i) if (index($i, f "=") == 1) { print substr($i, length(f) + 2); exit } }'; }

# The modules to time: the delivered one (the fastest path this processor
# has) and, where bench/ built them, the same module held to the AVX2 and the
# SSE2 path.
names=(fastest)
linux_modules=("$talvor_so")
win_modules=("$talvor_dll")
for p in avx2 sse2; do
  if [ -f "$native/bench/TALVOR-$p.so" ]; then
    names+=("$p")
    linux_modules+=("$native/bench/TALVOR-$p.so")
    win_modules+=("$win64/bench/TALVOR-$p.dll")
  fi
done
# The host's arguments for every module of a list, each with TALVOR's settings.
with_settings() { for m in "$@"; do printf '%s\n' "$m" "${talvor_params[@]}"; done; }

declare -A ratios
for ((r = 1; r <= rounds; r++)); do
  for b in $blocks; do
    mapfile -t args < <(with_settings "${linux_modules[@]}")
    out=$("$host" --block "$b" --seconds "$seconds" "$zam" "${zam_params[@]}" \
            "${args[@]}" "$zam" --instances 2 "${zam_params[@]}")
    line=$(printf 'round %d block %4d: ZamEQ2 %7.2f' "$r" "$b" "$(field p10 ZamEQ2-vst.so <<<"$out")")
    pair=$(awk '/instances=2/ { for (i = 1; i <= NF; ++i) if (index($i, "ratio=") == 1) print substr($i, 7) }' <<<"$out")
    ratios[pair-$b]+="$pair "
    if [ $use_wine -eq 1 ]; then
      mapfile -t wargs < <(with_settings "${win_modules[@]}")
      wout=$(wine "$win_host" --block "$b" --seconds "$seconds" "${wargs[@]}" < /dev/null) || true
      lout=$("$host" --block "$b" --seconds "$seconds" "${args[@]}")
    fi
    for k in "${!names[@]}"; do
      m=$(basename "${linux_modules[$k]}")
      ratio=$(field ratio "$m" <<<"$out")
      ratios[linux-${names[$k]}-$b]+="$ratio "
      ratios[ns-${names[$k]}-$b]+="$(field p10 "$m" <<<"$out") "
      line+=$(printf '  %s %7.2f' "${names[$k]}" "$(field p10 "$m" <<<"$out")")
      if [ $use_wine -eq 1 ]; then
        # The Win64 module's ratio: the Linux one's times Win64 over Linux,
        # the same path measured one after the other.
        w=$(field p10 "$(basename "${win_modules[$k]}")" <<<"$wout")
        ratios[win64-${names[$k]}-$b]+="$(awk -v r="$ratio" -v w="$w" -v a="$(field p10 "$m" <<<"$out")" \
          -v c="$(field p10 "$m" <<<"$lout")" 'BEGIN { if (w == "") print ""; else printf "%.4f", r * 2 * w / (a + c) }') "
      fi
    done
    echo "$line ns/frame (10th percentiles)"
  done
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "median ratio TALVOR / ZamEQ2 (time per frame; ZamEQ2 as a stereo pair of instances costs x the one):"
for b in $blocks; do
  for name in "${names[@]}"; do
    printf '  block %4d %-7s: Linux %s' "$b" "$name" "$(median <<<"${ratios[linux-$name-$b]}")"
    [ $use_wine -eq 0 ] || printf '  Win64 %s' "$(median <<<"${ratios[win64-$name-$b]}")"
    printf '\n'
  done
  printf '  block %4d: one stereo pair of ZamEQ2 instances costs x%s the one\n' "$b" "$(median <<<"${ratios[pair-$b]}")"
done

# The estimated bound of each path in cycles per stereo frame. Every path is
# bound by its multiplications: current x86-64 cores multiply one vector in
# each of two pipes per cycle, and the additions, conversions and the
# divider's work fit beside them. The waveshaper takes 44 multiplications
# per vector of values below 0.75 (most programme), two values per frame:
# 22 cycles a frame on SSE2 (two values a vector), 11 on AVX2, 5.5 on
# AVX-512. The filter chain takes 24 per frame on every path (both channels
# of a section in one 128-bit register; the longest recurrence, the
# low-pass's, takes about 9.5 cycles a frame on its own, below that); the
# gains 1.5, 0.75 and 0.4.
bound_cycles() {
  case $1 in
    sse2) echo 35.5 ;;
    avx2) echo 23.75 ;;
    avx512) echo 17.9 ;;
  esac
}
fastest_path=sse2
grep -qw avx2 /proc/cpuinfo 2>/dev/null && fastest_path=avx2
grep -qw avx512f /proc/cpuinfo 2>/dev/null && fastest_path=avx512
ghz=$("$host" --clock | sed -n 's/^clock_ghz=//p')
echo "per stereo frame (Linux: median of the rounds' 10th percentiles; ratios: medians), clock ${ghz} GHz:"
printf '  %-17s %5s %9s %9s %9s %9s %9s %16s %8s\n' path block "Linux ns" "x 1 Zam" "x 2 Zam" "Win64 x1" "Win64 x2" "bound ns (cycles)" "x bound"
for b in $blocks; do
  pair=$(median <<<"${ratios[pair-$b]}")
  for name in "${names[@]}"; do
    p=$name
    [ "$p" = fastest ] && p=$fastest_path
    ns=$(median <<<"${ratios[ns-$name-$b]}")
    one=$(median <<<"${ratios[linux-$name-$b]}")
    w1=-
    [ $use_wine -eq 0 ] || w1=$(median <<<"${ratios[win64-$name-$b]}")
    awk -v n="$name ($p)" -v b="$b" -v ns="$ns" -v one="$one" -v pair="$pair" -v w1="$w1" -v c="$(bound_cycles "$p")" -v g="$ghz" 'BEGIN {
      bound = (g > 0) ? c / g : 0
      printf "  %-17s %5d %9.2f %9.3f %9.3f %9s %9s %10.2f (%4.1f) %8.2f\n", n, b, ns, one, one / pair,
        w1 == "-" ? "-" : sprintf("%.3f", w1), w1 == "-" ? "-" : sprintf("%.3f", w1 / pair), bound, c,
        (bound > 0 ? ns / bound : 0) }'
  done
done

echo "instance creation (first, later) and heap per instance:"
printf '  Linux  %s\n' "$("$host" --create "$talvor_so")"
printf '  ZamEQ2 %s\n' "$("$host" --create "$zam")"
[ $use_wine -eq 0 ] || printf '  Win64  %s\n' "$(wine "$win_host" --create "$talvor_dll" < /dev/null)"
