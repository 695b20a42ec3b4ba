#!/bin/sh
# Reproduces the figures of bench/README.md: generates the packages, checks that the reports
# of the 1k, 10k and 100k packages and of the bundled example are byte-identical to reference
# reports (when a reference folder is given), times ostrel-cli against the read/write baseline,
# measures peak memory, and runs the stage benchmarks.
#
#   sh bench/measure.sh BUILD_DIR [WORK_DIR [REFERENCE_DIR]]
#
# BUILD_DIR is a build configured with -DOSTREL_BUILD_BENCH=ON. WORK_DIR (default
# /tmp/ostrel-scale) receives the packages and reports. REFERENCE_DIR holds reports made
# earlier (e.g. by a build before a change) under the same names, pkgN.zv.doc and AAAc.zv.doc.
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
for n in 1000 10000 100000; do "$build/bench/ostrel-genpkg" --wires $n --out "$work" >/dev/null; done
cp "$src/examples/AAAc.zv" "$src/examples/AAAc.tmv" "$work/"
ls -l "$work"/*.tmv

echo "== reports"
for name in AAAc pkg1000 pkg10000 pkg100000; do
  "$cli" "$work/$name.zv" >/dev/null
  if [ -n "$ref" ]; then
    cmp "$work/$name.zv.doc" "$ref/$name.zv.doc" && echo "$name: identical to the reference"
  fi
done
bytes=$(wc -c <"$work/pkg100000.zv.doc")

echo "== end to end, 100k wires (hyperfine, 10 runs after 2 warm-ups)"
hyperfine -N -w 2 -r 10 --export-json "$work/hyperfine.json" \
  "$cli $work/pkg100000.zv" \
  "$build/bench/ostrel-baseline $work/pkg100000.tmv $bytes $work/baseline.out"
# Medians, which are what the README quotes (the machine is shared).
python3 - "$work/hyperfine.json" <<'EOF' || true
import json, statistics, sys
runs = json.load(open(sys.argv[1]))["results"]
cli, base = (statistics.median(r["times"]) for r in runs)
print(f"median: ostrel-cli {cli * 1000:.0f} ms, baseline {base * 1000:.0f} ms, "
      f"ratio {cli / base:.2f}")
EOF

echo "== peak memory, 100k wires"
/usr/bin/time -v "$cli" "$work/pkg100000.zv" 2>&1 >/dev/null |
  grep -E "Maximum resident|Elapsed|Minor"
/usr/bin/time -v "$build/bench/ostrel-baseline" "$work/pkg100000.tmv" "$bytes" \
  "$work/baseline.out" 2>&1 | grep -E "Maximum resident|Elapsed|Minor"

echo "== stage benchmarks (medians of 5)"
"$build/bench/ostrel-bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  2>/dev/null | grep -E "_median|^Benchmark|^---"
