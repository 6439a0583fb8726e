#!/usr/bin/env bash
# Builds the fuzz build (clang, libFuzzer + ASan + UBSan) in its own folder and runs every fuzz
# target for a fixed time, two at a time (the machine has two cores). Fails when any target
# crashes, hangs, leaks or breaks one of its checks; the input that did it is kept.
#
#   fuzz/run-fuzzers.sh [seconds per target, default 60] [target...]
#
# Environment: VOSTRAL_FUZZ_BUILD_DIR (default build-fuzz), VOSTRAL_FUZZ_JOBS (default 2).
# The corpus of each target grows in <build>/fuzz-corpus/<target> from run to run; the seeds are
# written afresh by fuzz_seedgen, and fuzz/regressions/<target> is always part of the corpus.
# A failing input lands in <build>/fuzz-artifacts/<target>/: once it is fixed, copy it to
# fuzz/regressions/<target>/ under a name that says what it does, so that the replay tests of the
# normal and the sanitizer build keep running it.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VOSTRAL_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
SECONDS_PER_TARGET=${1:-60}
shift || true
JOBS=${VOSTRAL_FUZZ_JOBS:-2}

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DVOSTRAL_FUZZ=ON >/dev/null
cmake --build "$BUILD" -- -j2

TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
  mapfile -t TARGETS <"$BUILD/fuzz/targets.txt"
fi

SEEDS=$BUILD/fuzz-seeds
rm -rf "$SEEDS"
"$BUILD/fuzz/fuzz_seedgen" "$SEEDS"

# Leaks are checked; what Qt and glib keep until exit is suppressed.
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$ROOT/fuzz/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Reports with file and line (Debian names the symbolizer after its LLVM version).
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && ! command -v llvm-symbolizer >/dev/null; then
  for s in /usr/bin/llvm-symbolizer-1[0-9]; do
    [ -x "$s" ] && export ASAN_SYMBOLIZER_PATH=$s
  done
fi

dict_of() {
  case "$1" in
  decoder | serial) echo "$ROOT/fuzz/dict/frames.dict" ;;
  *) echo "$ROOT/fuzz/dict/$1.dict" ;;
  esac
}

run_target() {
  local t=$1
  local corpus=$BUILD/fuzz-corpus/$t artifacts=$BUILD/fuzz-artifacts/$t/ log=$BUILD/fuzz-logs/$t.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  # A whole history download is about 1000 messages of 20 bytes.
  local max_len=4096
  [ "$t" = decoder ] && max_len=24576
  local args=(-max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 -max_len=$max_len
    -print_final_stats=1 -artifact_prefix="$artifacts")
  local dict
  dict=$(dict_of "$t")
  [ -f "$dict" ] && args+=(-dict="$dict")
  local dirs=("$corpus")
  [ -d "$SEEDS/$t" ] && dirs+=("$SEEDS/$t")
  [ -d "$ROOT/fuzz/regressions/$t" ] && dirs+=("$ROOT/fuzz/regressions/$t")
  if "$BUILD/fuzz/fuzz_$t" "${args[@]}" "${dirs[@]}" >"$log" 2>&1; then
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$t: ${runs:-?} inputs in ${SECONDS_PER_TARGET} s, no failure"
  else
    echo "fuzz_$t: FAILED, see $log; the input is in $artifacts" >&2
    grep -E "ERROR|SUMMARY|fuzz check failed|runtime error" "$log" | head -5 >&2 || true
    return 1
  fi
}

echo "Fuzzing ${TARGETS[*]} for $SECONDS_PER_TARGET s each, $JOBS at a time"
failed=0
running=()
for t in "${TARGETS[@]}"; do
  run_target "$t" &
  running+=($!)
  if [ ${#running[@]} -ge "$JOBS" ]; then
    wait "${running[0]}" || failed=1
    running=("${running[@]:1}")
  fi
done
for pid in "${running[@]}"; do
  wait "$pid" || failed=1
done
exit $failed
