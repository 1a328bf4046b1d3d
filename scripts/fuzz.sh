#!/usr/bin/env bash
# The fuzz targets (tests/fuzz): a Clang build with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer in $TALVOR_BUILD_ROOT/fuzz, then
#   scripts/fuzz.sh           every target for the CI bounds (CTest label "fuzz":
#                             a minute or 200000 runs each, whichever comes first)
#   scripts/fuzz.sh --long    every target for at least LONG_RUNS runs
#                             (default 10000000), two at a time, each growing its
#                             own corpus in $TALVOR_BUILD_ROOT/fuzz/long/<target>
#   scripts/fuzz.sh --seeds   writes the committed seed corpora anew from what the
#                             modules produce (tests/fuzz/corpus/<target>)
#   scripts/fuzz.sh --run BINARY SEEDS WORK SECONDS RUNS
#                             one bounded run (what CTest calls): new inputs go to
#                             WORK/corpus, findings to WORK/artifacts; prints one
#                             "fuzz summary:" line, fails on a finding
# A finding is a crash, a sanitizer report or a broken check of the harness;
# its input belongs in the target's corpus as a regression test once mended.
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

TARGETS=(fuzz_vst2_chunks fuzz_vst3_state fuzz_param_text fuzz_state_readers fuzz_vst2_audio)
FUZZ_DIR=$TALVOR_BUILD_ROOT/fuzz
CORPUS=$TALVOR_ROOT/tests/fuzz/corpus
LONG_RUNS=${LONG_RUNS:-10000000}

# run_one BINARY SEEDS WORK SECONDS RUNS
run_one() {
  local bin=$1 seeds=$2 work=$3 seconds=$4 runs=$5 name rc runs_done took findings
  name=$(basename "$bin")
  mkdir -p "$work/corpus"
  rm -rf "$work/artifacts" "$work/summary"
  mkdir -p "$work/artifacts"
  set +e
  "$bin" -max_total_time="$seconds" -runs="$runs" -print_final_stats=1 -timeout=20 -rss_limit_mb=3072 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds" >"$work/fuzz.log" 2>&1
  rc=$?
  set -e
  runs_done=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -n 1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$work/fuzz.log" | tail -n 1)
  findings=$(find "$work/artifacts" -type f | wc -l)
  if [ "$rc" -eq 0 ] && [ "$findings" -eq 0 ]; then
    echo "fuzz summary: $name: ${runs_done:-?} runs in ${took:-?} s, no findings" | tee "$work/summary"
    return 0
  fi
  tail -n 60 "$work/fuzz.log"
  echo "fuzz summary: $name: FINDING (exit $rc) after ${runs_done:-?} runs; inputs in $work/artifacts" \
    | tee "$work/summary"
  return 1
}

build_fuzzers() {
  mkdir -p "$FUZZ_DIR"
  log "configure $FUZZ_DIR"
  mapfile -t args < <(fuzz_configure_args "$FUZZ_DIR")
  cmake_configure "$FUZZ_DIR" "${args[@]}" >"$FUZZ_DIR/configure.log" 2>&1 \
    || { cat "$FUZZ_DIR/configure.log" >&2; die "configure failed"; }
  log "build (log: $FUZZ_DIR/build.log)"
  cmake_build "$FUZZ_DIR" "$FUZZ_DIR/build.log" talvor_fuzzers || die "build failed"
}

case ${1:-} in
  --run)
    [ $# -eq 6 ] || die "usage: $0 --run BINARY SEEDS WORK SECONDS RUNS"
    run_one "$2" "$3" "$4" "$5" "$6"
    ;;
  --long)
    build_fuzzers
    failed=0
    pids=()
    for t in "${TARGETS[@]}"; do
      log "$t: $LONG_RUNS runs"
      run_one "$FUZZ_DIR/tests/fuzz/$t" "$CORPUS/$t" "$FUZZ_DIR/long/$t" 0 "$LONG_RUNS" \
        >"$FUZZ_DIR/long-$t.summary" 2>&1 &
      pids+=($!)
      # Two at a time: one per core.
      if [ ${#pids[@]} -ge 2 ]; then
        wait "${pids[0]}" || failed=1
        pids=("${pids[@]:1}")
      fi
    done
    for p in "${pids[@]}"; do wait "$p" || failed=1; done
    for t in "${TARGETS[@]}"; do grep '^fuzz summary:' "$FUZZ_DIR/long-$t.summary" || cat "$FUZZ_DIR/long-$t.summary"; done
    exit $failed
    ;;
  --seeds)
    build_fuzzers
    for t in "${TARGETS[@]}"; do
      rm -rf "$CORPUS/$t.new" && mkdir -p "$CORPUS/$t.new"
      TALVOR_FUZZ_SEEDS="$CORPUS/$t.new" "$FUZZ_DIR/tests/fuzz/$t"
      # Findings (regression-*) stay; the seeds are replaced.
      find "$CORPUS/$t" -maxdepth 1 -type f ! -name 'regression-*' -delete 2>/dev/null || true
      mkdir -p "$CORPUS/$t"
      mv "$CORPUS/$t.new"/* "$CORPUS/$t/" && rmdir "$CORPUS/$t.new"
    done
    ;;
  "")
    build_fuzzers
    ctest --test-dir "$FUZZ_DIR" -L '^fuzz$' -j"$TALVOR_JOBS" --output-on-failure --no-tests=error
    ;;
  *) die "usage: $0 [--long | --seeds | --run BINARY SEEDS WORK SECONDS RUNS]" ;;
esac
