#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in their own build folder and runs each for a
# given number of seconds, one after the other, at low priority.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   run every (or the named) target
#   scripts/fuzz.sh --seeds                 regenerate fuzz/corpus/ from the builders
#
# Targets: decode_image decode_jpeg decode_png decode_tiff decode_bmp_gif
#          jpeg_metadata session_file csv_lines
#
# The committed seeds in fuzz/corpus/<target>/ are only read; inputs the
# fuzzer finds interesting collect in <build>/corpus/<target>/ and carry over
# to the next run. A crashing input lands in <build>/artifacts/<target>/:
# fix the bug, then commit the input under tests/hardening/regressions/<target>/
# so the hardening tests replay it. Environment: ORVEL_FUZZ_BUILD (build
# folder, default build-fuzz), ORVEL_FUZZ_JOBS (build jobs, default 2).
# Fuzzing is not part of scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${ORVEL_FUZZ_BUILD:-build-fuzz}"
jobs="${ORVEL_FUZZ_JOBS:-2}"
all_targets=(decode_image decode_jpeg decode_png decode_tiff decode_bmp_gif
             jpeg_metadata session_file csv_lines)

configure_and_build() {
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DORVEL_FUZZ=ON \
    -DORVEL_BUILD_GUI=OFF -DORVEL_BUILD_TESTS=OFF -DORVEL_BUILD_BENCHMARKS=OFF >/dev/null
  cmake --build "$build" -j "$jobs" --target "$@"
}

if [ "${1:-}" = "--seeds" ]; then
  configure_and_build orvel_fuzz_seeds
  rm -rf fuzz/corpus
  ASAN_OPTIONS=detect_leaks=0 "$build/bin/orvel_fuzz_seeds" fuzz/corpus
  du -sh fuzz/corpus/* | sed 's/^/seeds: /'
  exit 0
fi

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

configure_and_build "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
found=0
summary=()
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  log="$build/logs/$target-$(date +%Y%m%d-%H%M%S).log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  echo "== fuzz_$target for ${seconds} s"
  before=$(find "$artifacts" -type f | wc -l)
  # The pixel buffer may reserve up to 4 GiB for a header that claims it
  # (memory is touched only as rows arrive), so single allocations up to that
  # size are not findings; resident memory stays limited.
  status=0
  started=$(date +%s)
  nice -n 10 "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=30 \
    -rss_limit_mb=3072 -malloc_limit_mb=4400 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  elapsed=$(( $(date +%s) - started ))
  after=$(find "$artifacts" -type f | wc -l)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  line="$target: ${elapsed} s, ${runs:-?} runs, ${rate:-?} exec/s, $((after - before)) new finding(s), exit $status"
  echo "$line"
  summary+=("$line")
  if [ "$status" -ne 0 ] || [ "$after" -gt "$before" ]; then
    found=1
    grep -m 3 -E "ERROR|SUMMARY|runtime error|deadly signal|Test unit written" "$log" || true
  fi
done
echo "== summary"
printf '%s\n' "${summary[@]}"
exit "$found"
