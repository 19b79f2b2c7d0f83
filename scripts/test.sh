#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test suite:
#   1. the full build (program, command line, Qt windows) with warnings as
#      errors, all suites (Qt ones offscreen), with the checks of the desktop
#      entry, AppStream metainfo, man pages and shell completion;
#   2. the suites without Qt once more under AddressSanitizer and
#      UndefinedBehaviorSanitizer;
#   3. the suites that run threads (parallel candidate encoding, the
#      pipeline, the benchmark worker and its command) under ThreadSanitizer.
# Fuzzing (scripts/fuzz.sh) is not part of this script.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

# The encoder tools are never downloaded here: CI has no network, and each
# build folder would otherwise build them again. A build folder that already
# holds them (scripts/run.sh) keeps them.
no_downloads=-DORVEL_DOWNLOAD_ENCODERS=OFF

# Optimised (-O2) but without debug information: it compiles in
# about two thirds of the time, and the sanitizer builds below carry the line
# numbers a failure needs.
echo "== Build and test"
cmake -S . -B build -G Ninja -DORVEL_WERROR=ON $no_downloads -DCMAKE_BUILD_TYPE=Release \
  "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

# The sanitizer builds are for these suites alone: -O1 -g, as the sanitizers
# recommend, compiles in about two thirds of the time of -O2 -g and keeps the
# line numbers of their reports.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
                 "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g -DNDEBUG"
                 "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g -DNDEBUG")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer (suites without Qt)"
# Warnings are judged by the plain build above; sanitizer instrumentation
# makes GCC report false "may be used uninitialized" warnings in the standard
# library, so these builds do not turn warnings into errors.
cmake -S . -B build-asan -G Ninja -DORVEL_BUILD_GUI=OFF $no_downloads "${sanitizer_flags[@]}" \
  -DORVEL_BUILD_BENCHMARKS=OFF -DORVEL_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -L core --output-on-failure -j "$jobs" --timeout 600

echo "== ThreadSanitizer (parallel encoding, pipeline, benchmark worker, orvel-cli --jobs)"
tsan_tests='^(ParallelEncodingTest|EncoderWorkerCountTest|CandidateFileNameTest|PipelineTest|PipelineMetadataTest|WorkerTest|WorkerWithAllToolsTest|BenchCommandTest|ParallelBatchTest|CliProgramTest)\.'
cmake -S . -B build-tsan -G Ninja -DORVEL_BUILD_GUI=OFF $no_downloads "${sanitizer_flags[@]}" \
  -DORVEL_BUILD_BENCHMARKS=OFF -DORVEL_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs" \
  --target core_encoding_test core_pipeline_test bench_tests bench_command_tests cli_test
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan -R "$tsan_tests" --no-tests=error --output-on-failure \
  -j "$jobs" --timeout 600
