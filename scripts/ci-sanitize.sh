#!/bin/sh
# Sanitizer lane: builds the core, the command-line program and every test with
# AddressSanitizer and UndefinedBehaviorSanitizer (no window), then runs the whole test suite,
# including a replay of the fuzz corpus and of every input the fuzzers ever failed on.
#
# Usage: scripts/ci-sanitize.sh [BUILD_DIR]   (default: build-asan beside this folder)
# Environment: JOBS (parallel build jobs, default 2).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-asan"}
jobs=${JOBS:-2}
generator=""
if command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi

# A fault is a failure: no recovery, leaks reported, and a stack trace on any UB report.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# shellcheck disable=SC2086
cmake -S "$root" -B "$build" $generator \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOSTREL_SANITIZE=ON \
  -DOSTREL_BUILD_GUI=OFF \
  -DOSTREL_BUILD_TESTS=ON \
  -DOSTREL_BUILD_FUZZ=ON \
  -DOSTREL_FUZZ_REPLAY=ON
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
