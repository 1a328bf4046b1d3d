#!/usr/bin/env bash
# Times TALVOR's LV2 plug-ins against the LV2 builds of its Debian peers
# (zam-plugins: ZamEQ2; x42-plugins: fil4; Ardour's a-eq), in two ways:
#   1. lilv's own lv2bench, default settings (it offers the plug-ins no
#      features, so the peers that require options, ZamEQ2 and a-eq, are
#      skipped by it);
#   2. bench/lv2_timing_host.cpp, which offers urid:map and options, with
#      every plug-in's bands away from flat, interleaved over ROUNDS rounds;
#      the median of each peer-to-TALVOR ratio of the time per frame.
# 48 kHz, blocks of BLOCK frames; mono plug-ins against TALVOR's mono one,
# stereo against stereo.
#
#   bench/compare-lv2.sh [NATIVE_BUILD_DIR]
#
# Environment: ROUNDS (3), BLOCK (512), SECONDS_PER_RUN (4), LV2BENCH_FRAMES (2400000).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/lib.sh
. "$root/scripts/lib.sh"

native=$(cd "${1:-$root/build/native}" && pwd)
rounds=${ROUNDS:-3}
block=${BLOCK:-512}
seconds=${SECONDS_PER_RUN:-4}
frames=${LV2BENCH_FRAMES:-2400000}
host=$native/bench/lv2-timing-host
bundles=$native/lv2/bundles
[ -x "$host" ] || die "$host not built"
[ -f "$bundles/TALVOR.lv2/manifest.ttl" ] || die "no LV2 bundle in $bundles"
command -v lv2bench >/dev/null || die "lv2bench not found (install lilv-utils)"
export LV2_PATH=$bundles:/usr/lib/lv2

talvor=https://silvermeadowlab.example/plugins/talvor
# name | URI | settings (every band away from flat, as in bench/compare-vst2.sh)
plugins=(
  "TALVOR mono|$talvor/mono|low_gain=7 low_freq=2 mid_gain=3 mid_freq=3 high_gain=8 high_freq=1 input=4.5 output=-2.25 filter=1"
  "ZamEQ2 (mono)|urn:zamaudio:ZamEQ2|boost1=6 boost2=-4 boostl=3 boosth=-3"
  "fil4 mono|http://gareus.org/oss/lv2/fil4#mono|enable=1 HighPass=1 LowPass=1 LSsec=1 LSgain=3 sec1=1 gain1=6 sec2=1 gain2=-4 HSsec=1 HSgain=-3"
  "a-eq (mono)|urn:ardour:a-eq|gl=3 g1=6 g2=-4 gh=-3"
  "TALVOR stereo|$talvor/stereo|low_gain=7 low_freq=2 mid_gain=3 mid_freq=3 high_gain=8 high_freq=1 input=4.5 output=-2.25 filter=1"
  "fil4 stereo|http://gareus.org/oss/lv2/fil4#stereo|enable=1 HighPass=1 LowPass=1 LSsec=1 LSgain=3 sec1=1 gain1=6 sec2=1 gain2=-4 HSsec=1 HSgain=-3"
)

log "lv2bench, $frames frames in blocks of $block, default settings (seconds)"
for entry in "${plugins[@]}"; do
  IFS='|' read -r name uri _ <<<"$entry"
  out=$(lv2bench -b "$block" -n "$frames" "$uri" 2>&1 | grep -v '^#' | tail -n 1)
  case $out in
    *skipping*) printf '    %-14s skipped by lv2bench: %s\n' "$name" "${out%%,*}" ;;
    *) printf '    %-14s %s s\n' "$name" "${out%% *}" ;;
  esac
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
declare -A times ratios
log "lv2-timing-host, $rounds rounds of $seconds s, blocks of $block (ns per frame, p10)"
for ((r = 1; r <= rounds; r++)); do
  for entry in "${plugins[@]}"; do
    IFS='|' read -r name uri settings <<<"$entry"
    args=()
    for s in $settings; do args+=(--set "$s"); done
    t=$("$host" "$uri" --block "$block" --seconds "$seconds" "${args[@]}" \
          | sed -n 's/.* p10=\([0-9.]*\) .*/\1/p')
    [ -n "$t" ] || die "no time for $name"
    times[$name]+="$t "
  done
done
printf '    %-14s %10s %14s\n' plug-in ns/frame "TALVOR / it"
for entry in "${plugins[@]}"; do
  IFS='|' read -r name _ _ <<<"$entry"
  case $name in *stereo*) own="TALVOR stereo" ;; *) own="TALVOR mono" ;; esac
  read -r -a mine <<<"${times[$own]}"
  read -r -a its <<<"${times[$name]}"
  ratios[$name]=
  for ((i = 0; i < rounds; i++)); do
    ratios[$name]+="$(awk -v a="${mine[$i]}" -v b="${its[$i]}" 'BEGIN { printf "%.3f ", a / b }')"
  done
  printf '    %-14s %10s %14s\n' "$name" "$(median <<<"${times[$name]}")" "$(median <<<"${ratios[$name]}")"
done
