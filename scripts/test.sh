#!/usr/bin/env bash
# Builds and runs the whole test suite:
#   1. native RelWithDebInfo build + ctest, then the host tests (ctest label
#      "host": both Linux modules in Ardour) as a run of their own
#   2. native build with AddressSanitizer and UndefinedBehaviorSanitizer + ctest
#   (both on a private virtual X display)
#   3. fuzz: the libFuzzer targets (Clang, address and undefined-behaviour
#      sanitizers), each for a minute or 200000 runs, whichever comes first
#      (scripts/fuzz.sh runs them longer)
#   4. tsan: the thread stress tests under ThreadSanitizer
#   5. Win64 cross build + its tests under Wine on a virtual display
#   6. arm64: AArch64 Linux cross build + its tests under qemu-aarch64 on a
#      virtual display, with its modules' output and editor snapshot compared
#      with the native build's (which it builds first when stage 1 did not)
# Installs missing packages first, Ardour included (works alone on a fresh
# Debian 12). Run it as yourself: it asks for root (sudo) only to install
# packages.
# Every stage runs even when an earlier one fails; the exit status is
# non-zero when any configure, build or test failed.
#
# Environment: TALVOR_BUILD_ROOT (default ./build), TALVOR_JOBS (default: nproc),
# TALVOR_STAGES (default "native sanitize fuzz tsan win64 arm64").
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

stages=${TALVOR_STAGES:-native sanitize fuzz tsan win64 arm64}
failed=()
summaries=()
total_passed=0
total_failed=0

finish() {
  print_timings
  if [ ${#summaries[@]} -gt 0 ]; then
    log "Test summary"
    printf '    %s\n' "${summaries[@]}"
  fi
  if [ ${#failed[@]} -gt 0 ]; then
    log "FAILED: ${failed[*]}"
  fi
  echo "total: $total_passed passed, $total_failed failed"
}
trap finish EXIT

# record_ctest NAME LOG: adds a ctest run's summary line to the totals.
record_ctest() {
  local name=$1 logfile=$2 line count out_of
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logfile" | tail -n 1 || true)
  if [ -z "$line" ]; then
    if grep -q 'No tests were found' "$logfile"; then
      summaries+=("$(printf '%-13s no tests' "$name:")")
    else
      summaries+=("$(printf '%-13s no ctest summary (see %s)' "$name:" "$logfile")")
    fi
    return
  fi
  count=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  out_of=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  total_failed=$((total_failed + count))
  total_passed=$((total_passed + out_of - count))
  summaries+=("$(printf '%-13s %s' "$name:" "$line")")
}

# run_tests NAME LOG COMMAND...: one test run, timed, summarised and checked.
run_tests() {
  local name=$1 logfile=$2 rc start
  shift 2
  start=$(date +%s)
  set +e
  "$@" 2>&1 | tee "$logfile"
  rc=${PIPESTATUS[0]}
  set -e
  add_timing "$name: test" "$(( $(date +%s) - start ))" "$rc"
  record_ctest "$name" "$logfile"
  [ "$rc" -eq 0 ] || failed+=("${name// /-}-test")
}

# run_stage NAME BUILD_DIR TEST_KIND CONFIGURE_ARGS...
# TEST_KIND: ctest; ctest+host (the tests labelled "host" as a run and a
# summary line of their own, failing when there are none); wine; fuzz and
# threads (only the targets and tests of that kind, failing when there are
# none; fuzz adds one summary line per target).
run_stage() {
  local name=$1 dir=$2 kind=$3 targets=()
  shift 3
  case $kind in
    fuzz) targets=(talvor_fuzzers) ;;
    threads) targets=(talvor_thread_tests) ;;
  esac
  mkdir -p "$dir"
  log "[$name] configure $dir"
  if ! timed "$name: configure" cmake_configure "$dir" "$@" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log" >&2
    failed+=("$name-configure")
    return 0
  fi
  log "[$name] build (log: $dir/build.log)"
  timed "$name: build" cmake_build "$dir" "$dir/build.log" "${targets[@]}" || failed+=("$name-build")
  log "[$name] test"
  # On a private virtual display: the Linux editor's tests open real windows
  # and move the pointer.
  local ctest=(with_display ctest --test-dir "$dir" -j"$TALVOR_JOBS" --output-on-failure --timeout 600)
  case $kind in
    wine)
      run_tests "$name" "$dir/test.log" "$TALVOR_ROOT/scripts/run-win64-tests.sh" "$dir"
      ;;
    fuzz | threads)
      rm -rf "$dir/tests/fuzz/work"
      run_tests "$name" "$dir/test.log" "${ctest[@]}" --label-regex "^$kind\$" --no-tests=error
      local summary
      for summary in "$dir"/tests/fuzz/work/*/summary; do
        if [ -f "$summary" ]; then
          summaries+=("$(printf '%-13s %s' "" "$(sed 's/^fuzz summary: //' "$summary")")")
        fi
      done
      ;;
    ctest+host)
      run_tests "$name" "$dir/test.log" "${ctest[@]}" --label-exclude '^host$'
      log "[$name] host tests (Ardour)"
      run_tests "$name host" "$dir/test-host.log" "${ctest[@]}" --label-regex '^host$' --no-tests=error
      ;;
    *)
      run_tests "$name" "$dir/test.log" "${ctest[@]}"
      ;;
  esac
}

native_dir=$TALVOR_BUILD_ROOT/native
native_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVOR_SANITIZE=OFF
  -DTALVOR_BUILD_TESTS=ON -DTALVOR_BUILD_TOOLS=ON -DTALVOR_BUILD_BENCH=ON
  -DTALVOR_HOST_TESTS=ON -DTALVOR_DIST_DIR="$TALVOR_ROOT/dist")

# native_reference DIR: the native build's reference programs for the arm64
# stage's comparison (configured like the native stage when it is not yet).
native_reference() {
  [ -f "$1/CMakeCache.txt" ] || cmake_configure "$1" "${native_args[@]}" >"$1/configure.log" 2>&1 \
    || { cat "$1/configure.log" >&2; return 1; }
  cmake_build "$1" "$1/build-reference.log" talvor-reference-render talvor-snapshot
}

cd "$TALVOR_ROOT"
timed "packages (apt)" ensure_packages "${TALVOR_TEST_PACKAGES[@]}"
continue_as_invoking_user "$TALVOR_ROOT/scripts/test.sh" "$@"
check_outputs_owned
mkdir -p "$TALVOR_BUILD_ROOT"

for stage in $stages; do
  case $stage in
    native)
      run_stage native "$native_dir" ctest+host "${native_args[@]}"
      ;;
    sanitize)
      # Instrumented binaries stay out of dist/.
      export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
      export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
      run_stage sanitize "$TALVOR_BUILD_ROOT/sanitize" ctest \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVOR_SANITIZE=ON \
        -DTALVOR_BUILD_TESTS=ON -DTALVOR_BUILD_TOOLS=ON -DTALVOR_BUILD_BENCH=OFF \
        -DTALVOR_DIST_DIR="$TALVOR_BUILD_ROOT/sanitize/dist"
      ;;
    fuzz)
      mapfile -t fuzz_args < <(fuzz_configure_args "$TALVOR_BUILD_ROOT/fuzz")
      run_stage fuzz "$TALVOR_BUILD_ROOT/fuzz" fuzz "${fuzz_args[@]}"
      ;;
    tsan)
      # Any report fails the test; the stress runs a few seconds per binding.
      export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
      export TALVOR_STRESS_SECONDS=${TALVOR_STRESS_SECONDS:-4}
      run_stage tsan "$TALVOR_BUILD_ROOT/tsan" threads \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVOR_TSAN=ON \
        -DTALVOR_BUILD_TESTS=ON -DTALVOR_BUILD_TOOLS=OFF -DTALVOR_BUILD_BENCH=OFF -DTALVOR_HOST_TESTS=OFF \
        -DTALVOR_DIST_DIR="$TALVOR_BUILD_ROOT/tsan/dist"
      ;;
    win64)
      if ! timed "win64: zlib + libpng" "$TALVOR_ROOT/scripts/build-win64-deps.sh"; then
        failed+=("win64-deps")
        continue
      fi
      mapfile -t toolchain < <(win64_toolchain_args)
      run_stage win64 "$TALVOR_BUILD_ROOT/win64" wine \
        "${toolchain[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTALVOR_BUILD_TESTS=ON -DTALVOR_DIST_DIR="$TALVOR_ROOT/dist"
      ;;
    arm64)
      # The build machine's modules and programs to compare with: those of the
      # native stage's folder (up to date when that stage ran).
      mkdir -p "$native_dir"
      if ! timed "arm64: native reference" native_reference "$native_dir"; then
        failed+=("arm64-reference")
        continue
      fi
      mapfile -t toolchain < <(arm64_toolchain_args)
      run_stage arm64 "$TALVOR_BUILD_ROOT/arm64" ctest \
        "${toolchain[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTALVOR_BUILD_TESTS=ON -DTALVOR_BUILD_TOOLS=ON -DTALVOR_BUILD_BENCH=OFF \
        -DTALVOR_REFERENCE_BUILD_DIR="$native_dir" -DTALVOR_DIST_DIR="$TALVOR_ROOT/dist"
      ;;
    *) die "unknown stage $stage" ;;
  esac
done

[ ${#failed[@]} -eq 0 ]
