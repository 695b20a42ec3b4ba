#!/bin/sh
# Fuzz smoke lane: builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on), replays every input kept in fuzz/regressions/<target>/, then
# fuzzes each target briefly from the seed corpus (fuzz/corpus/<target>/, examples/ and
# tests/data/). A crash, a sanitizer report, a timeout or memory over 2 GB fails the lane; the
# failing input is left in the artifacts folder printed at the end.
#
# Usage: scripts/ci-fuzz-smoke.sh [BUILD_DIR]   (default: build-fuzz beside this folder)
# Environment: FUZZ_SECONDS (per target, default 20), FUZZ_TIMEOUT (seconds per input,
#              default 5: an input that needs more is a hang, not a busy CI machine; local
#              sessions use 1), JOBS (build jobs, default 2), CXX (default clang++).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-fuzz"}
seconds=${FUZZ_SECONDS:-20}
timeout=${FUZZ_TIMEOUT:-5}
jobs=${JOBS:-2}
targets="package_reader settings_reader estimation"
generator=""
if command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi

# shellcheck disable=SC2086
CXX=${CXX:-clang++} cmake -S "$root" -B "$build" $generator \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOSTREL_BUILD_GUI=OFF \
  -DOSTREL_BUILD_TESTS=OFF \
  -DOSTREL_BUILD_FUZZ=ON \
  -DOSTREL_FUZZ_REPLAY=OFF
for t in $targets; do
  cmake --build "$build" -j "$jobs" --target "ostrel_fuzz_$t"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-fuzz-smoke.XXXXXX")
echo "fuzz smoke: working folder $work"
status=0
for t in $targets; do
  exe="$build/fuzz/ostrel_fuzz_$t"
  mkdir -p "$work/$t/corpus" "$work/$t/artifacts"

  # Every input that ever failed must pass now.
  regressions=$(find "$root/fuzz/regressions/$t" -type f ! -name '.*' 2>/dev/null | sort)
  if [ -n "$regressions" ]; then
    echo "fuzz smoke: $t: replaying $(echo "$regressions" | wc -l) regression inputs"
    # shellcheck disable=SC2086
    if ! "$exe" -timeout="$timeout" -rss_limit_mb=2048 $regressions >"$work/$t/replay.log" 2>&1; then
      echo "fuzz smoke: $t: a regression input fails again:"
      tail -n 40 "$work/$t/replay.log"
      status=1
      continue
    fi
  fi

  # Seeds: the target's own corpus, then packages or settings files of the examples and the
  # golden cases.
  cp "$root/fuzz/corpus/$t/"* "$work/$t/corpus/" 2>/dev/null || true
  case $t in
    settings_reader) pattern='*.zv' ;;
    *) pattern='*.tmv' ;;
  esac
  n=0
  for f in $(find "$root/examples" "$root/tests/data" -type f -name "$pattern" 2>/dev/null); do
    n=$((n + 1))
    cp "$f" "$work/$t/corpus/seed-$n-$(basename "$f")"
  done

  echo "fuzz smoke: $t: fuzzing for $seconds s"
  if ! "$exe" -timeout="$timeout" -rss_limit_mb=2048 -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$work/$t/artifacts/" "$work/$t/corpus" >"$work/$t/fuzz.log" 2>&1; then
    echo "fuzz smoke: $t: failed; the input is in $work/$t/artifacts/:"
    ls "$work/$t/artifacts/"
    tail -n 60 "$work/$t/fuzz.log"
    echo "Fix the fault, then keep the input in fuzz/regressions/$t/."
    status=1
    continue
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$work/$t/fuzz.log" |
    sed "s/^/fuzz smoke: $t: /"
done

if [ "$status" -eq 0 ]; then rm -rf "$work"; fi
exit "$status"
