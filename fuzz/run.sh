#!/bin/bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in their own build
# directory and runs each for a bounded time. Fails on the first crash, leak,
# hang or sanitizer report; the input that did it is kept under
# $FUZZ_BUILD/artifacts/.
#
#   fuzz/run.sh [target...]        default: every target
#   FUZZ_SECONDS=60   run time per target
#   FUZZ_BUILD=build-fuzz   build directory
#   FUZZ_JOBS=2       build parallelism
#   FUZZ_SEED=N       fixed random seed (CI), so a run can be repeated
#
# A crash input is replayed with: $FUZZ_BUILD/fuzz/fuzz_<target> <file>
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZ_BUILD=${FUZZ_BUILD:-build-fuzz}
FUZZ_JOBS=${FUZZ_JOBS:-$(nproc 2>/dev/null || echo 2)}
RSS_LIMIT_MB=${RSS_LIMIT_MB:-2048}
SEED_OPTION=()
if [ -n "${FUZZ_SEED:-}" ]; then SEED_OPTION=(-seed="$FUZZ_SEED"); fi

# target and its longest input: an AGI start-up block with a few dozen
# replies, a small robot file, a configuration file, one client document,
# one back-office answer behind a path line.
declare -A MAX_LEN=(
  [agi_replies]=4096
  [robot_file]=4096
  [profile_file]=4096
  [plugin_config]=4096
  [config_check]=4096
  [customer_json]=8192
  [datasource_result]=4096
)
declare -A DICTIONARY=(
  [agi_replies]=agi
  [robot_file]=xml
  [profile_file]=json
  [plugin_config]=json
  [config_check]=json
  [customer_json]=json
  [datasource_result]=json
)
ALL_TARGETS="agi_replies robot_file profile_file plugin_config config_check customer_json datasource_result"
TARGETS=${*:-$ALL_TARGETS}

for target in $TARGETS; do
  if [ -z "${MAX_LEN[$target]:-}" ]; then
    echo "fuzz: unknown target $target (known: $ALL_TARGETS)" >&2
    exit 2
  fi
done

mkdir -p "$FUZZ_BUILD/fuzz-logs"
build_log="$FUZZ_BUILD/fuzz-logs/build.log"
echo "fuzz: building in $FUZZ_BUILD (log $build_log)"
if ! { CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD" -DIVR_FUZZ=ON -DIVR_TESTS=OFF -DIVR_WERROR=OFF \
         -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$FUZZ_BUILD" -j "$FUZZ_JOBS" --target $(for t in $TARGETS; do printf 'fuzz_%s ' "$t"; done)
     } >"$build_log" 2>&1; then
  tail -n 60 "$build_log" >&2
  echo "fuzz: build failed" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=""
for target in $TARGETS; do
  binary="$ROOT/$FUZZ_BUILD/fuzz/fuzz_$target"
  work="$ROOT/$FUZZ_BUILD/fuzz-work/$target"
  corpus="$ROOT/$FUZZ_BUILD/fuzz-corpus/$target"
  artifacts="$ROOT/$FUZZ_BUILD/artifacts"
  log="$ROOT/$FUZZ_BUILD/fuzz-logs/$target.log"
  mkdir -p "$work" "$corpus" "$artifacts" "$(dirname "$log")"

  # New inputs go to the build's corpus; the committed seeds are read only.
  # The targets write their temporary files into the working directory.
  status=0
  (cd "$work" && "$binary" -max_total_time="$FUZZ_SECONDS" -max_len="${MAX_LEN[$target]}" \
     -rss_limit_mb="$RSS_LIMIT_MB" -timeout=10 -print_final_stats=1 "${SEED_OPTION[@]}" \
     -dict="$ROOT/fuzz/dict/${DICTIONARY[$target]}.dict" \
     -artifact_prefix="$artifacts/$target-" "$corpus" "$ROOT/fuzz/corpus/$target") >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    echo "fuzz: $target ok: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') runs in ${FUZZ_SECONDS}s"
  else
    echo "fuzz: $target FAILED (exit $status), log $log:" >&2
    # The report's head: what went wrong and the innermost frames (a deep
    # recursion makes the tail of the log useless).
    grep -E -m1 -B3 -A30 'ERROR: |runtime error|terminate called' "$log" >&2 || tail -n 40 "$log" >&2
    grep -E 'SUMMARY|Test unit written' "$log" >&2 || true
    failed="$failed $target"
  fi
done

if [ -n "$failed" ]; then
  echo "fuzz: failed:$failed" >&2
  exit 1
fi
