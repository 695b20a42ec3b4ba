#!/bin/sh
# Reproduces the figures of bench/README.md: generates the packages, checks that the reports
# of the 1k, 10k and 100,100-wire packages and of the bundled example are byte-identical to reference
# reports (when a reference folder is given), times ostrel-cli against the input/output floor
# (ostrel-baseline: the package read twice line by line through a 64 KB buffer, the report's
# bytes written in 64 KB pieces) in the same run, interleaved, by processor time (user + sys)
# and wall time, measures peak memory, and runs the stage benchmarks.
#
#   sh bench/measure.sh BUILD_DIR [WORK_DIR [REFERENCE_DIR]]
#
# BUILD_DIR is a build configured with -DOSTREL_BUILD_BENCH=ON. WORK_DIR (default
# /tmp/ostrel-scale) receives the packages and reports. REFERENCE_DIR holds reports made
# earlier (e.g. by a build before a change) under the same names, pkgN.zv.doc and AAAc.zv.doc.
# BEFORE=OTHER_BUILD_DIR in the environment adds that build's ostrel-cli to the interleaved
# rounds (80 of them then, each running the three in a shuffled order) and prints the two
# builds' paired ratio.
# The end-to-end package has 100,100 wires (pkg100100).
set -eu
build=$(cd "$1" && pwd)
work=${2:-/tmp/ostrel-scale}
ref=${3:-}
src=$(cd "$(dirname "$0")/.." && pwd)
cli=$build/src/cli/ostrel-cli
mkdir -p "$work"

echo "== load"
uptime

echo "== packages"
for n in 1000 10000 100100; do "$build/bench/ostrel-genpkg" --wires $n --out "$work" >/dev/null; done
cp "$src/examples/AAAc.zv" "$src/examples/AAAc.tmv" "$work/"
ls -l "$work"/*.tmv

echo "== reports"
for name in AAAc pkg1000 pkg10000 pkg100100; do
  "$cli" "$work/$name.zv" >/dev/null
  if [ -n "$ref" ]; then
    cmp "$work/$name.zv.doc" "$ref/$name.zv.doc" && echo "$name: identical to the reference"
  fi
done
bytes=$(wc -c <"$work/pkg100100.zv.doc")

echo "== end to end, 100,100 wires: ostrel-cli and the floor in one run (hyperfine, 20 runs)"
hyperfine -N -w 3 -r 20 --export-json "$work/hyperfine.json" \
  "$cli $work/pkg100100.zv" \
  "$build/bench/ostrel-baseline $work/pkg100100.tmv $bytes $work/baseline.out"
# Processor time (user + sys, means) decides; wall medians are shown too (the machine is shared).
python3 - "$work/hyperfine.json" <<'EOF' || true
import json, sys
cli, floor = json.load(open(sys.argv[1]))["results"]
cpu = [r["user"] + r["system"] for r in (cli, floor)]
print(f"CPU (user+sys): ostrel-cli {cpu[0] * 1000:.0f} ms, floor {cpu[1] * 1000:.0f} ms, "
      f"ratio {cpu[0] / cpu[1]:.2f}")
print(f"wall (median): ostrel-cli {cli['median'] * 1000:.0f} ms, "
      f"floor {floor['median'] * 1000:.0f} ms")
EOF

echo "== interleaved rounds of ostrel-cli (and BEFORE's) and the floor: processor time (user + sys)"
# Each round runs each program once, in a shuffled order, so that a slower or faster spell of a
# shared machine weighs on all alike; the medians and the medians (and quartiles) of the rounds'
# ratios are printed.
before_cli=${BEFORE:+$(cd "$BEFORE" && pwd)/src/cli/ostrel-cli $work/pkg100100.zv}
python3 - "$build/bench/ostrel-baseline $work/pkg100100.tmv $bytes $work/baseline.out" \
  "$cli $work/pkg100100.zv" ${before_cli:+"$before_cli"} <<'EOF' || true
import random, resource, statistics, subprocess, sys
def cpu_ms(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command.split(), stdout=subprocess.DEVNULL, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return 1000 * (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
floor_cmd, programs = sys.argv[1], sys.argv[2:]
runs = {c: [] for c in [floor_cmd] + programs}
for _ in range(40 if len(programs) == 1 else 80):
    order = list(runs)
    random.shuffle(order)
    for c in order:
        runs[c].append(cpu_ms(c))
def quartiles(xs):
    q = statistics.quantiles(xs, n=4)
    return f"{q[1]:.2f} ({q[0]:.2f}-{q[2]:.2f})"
floor = runs[floor_cmd]
print(f"floor {statistics.median(floor):.1f} ms (median)")
for name, c in zip(["ostrel-cli", "BEFORE's ostrel-cli"], programs):
    ratios = [x / f for x, f in zip(runs[c], floor)]
    print(f"{name} {statistics.median(runs[c]):.1f} ms (median); ratio of the medians "
          f"{statistics.median(runs[c]) / statistics.median(floor):.2f}, the rounds' ratios "
          f"{quartiles(ratios)}")
if len(programs) == 2:
    paired = [x / b for x, b in zip(runs[programs[0]], runs[programs[1]])]
    print(f"ostrel-cli / BEFORE's, paired by round: {quartiles(paired)}")
EOF

echo "== the same by /usr/bin/time (5 runs each): wall, user, sys, peak memory, page faults"
for i in 1 2 3 4 5; do
  /usr/bin/time -f "ostrel-cli %e s wall %U s user %S s sys %M KB %R faults" \
    "$cli" "$work/pkg100100.zv" 2>&1 >/dev/null
  /usr/bin/time -f "floor      %e s wall %U s user %S s sys %M KB %R faults" \
    "$build/bench/ostrel-baseline" "$work/pkg100100.tmv" "$bytes" "$work/baseline.out" 2>&1
done

echo "== stage benchmarks (medians of 5)"
"$build/bench/ostrel-bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  2>/dev/null | grep -E "_median|^Benchmark|^---"
