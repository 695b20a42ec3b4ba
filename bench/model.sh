#!/bin/sh
# The whole physical model, A against B: two builds (before and after a change) run in turn on
# generated packages of 300, 3,300 and 100,100 wires (stacked die, stitches on balls, fingers
# fanned out), each writing its .npz, with the capacitance and without. Each round runs A then
# B, so that a slower spell of a shared machine weighs on both; the medians of wall time,
# processor time (user + sys) and peak memory are printed with the median of the rounds' wall
# ratios B/A. The figures of the stages alone come from ostrel-physical-bench.
#
#   sh bench/model.sh BUILD_A BUILD_B [ROUNDS [WORK_DIR]]
#
# BUILD_A and BUILD_B hold src/cli/ostrel-cli and tests/export/ostrel-test-genpkg (any build
# with tests). ROUNDS (default 3) applies to 300 and 3,300 wires; 100,100 wires run once each.
# SIZES="300 3300" leaves the largest package out (it takes minutes a run).
set -eu
a=$(cd "$1" && pwd)
b=$(cd "$2" && pwd)
rounds=${3:-3}
work=${4:-/tmp/ostrel-model-ab}
mkdir -p "$work"
uptime
sizes=${SIZES:-300 3300 100100}
for n in $sizes; do
  [ -f "$work/pkg$n.zv" ] || "$a/tests/export/ostrel-test-genpkg" --wires $n --out "$work" >/dev/null
done
/usr/bin/python3 - "$a/src/cli/ostrel-cli" "$b/src/cli/ostrel-cli" "$rounds" "$work" $sizes <<'PY'
import statistics, subprocess, sys
cli_a, cli_b, rounds, work = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
sizes = [int(n) for n in sys.argv[5:]]

def run(cli, args):
    """Wall and processor seconds and peak memory (MB) of one run, by /usr/bin/time."""
    p = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", cli] + args, cwd=work,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if p.returncode != 0:
        sys.exit(f"{cli} {' '.join(args)} failed: {p.stderr[-400:]}")
    wall, user, sys_s, kb = p.stderr.strip().splitlines()[-1].split()
    return float(wall), float(user) + float(sys_s), int(kb) / 1024

print(f"{'case':44} {'A wall':>8} {'B wall':>8} {'B/A':>6} {'A cpu':>8} {'B cpu':>8} "
      f"{'A MB':>7} {'B MB':>7}")
for n in sizes:
    for extra, what in (([], "whole model"), (["--no-capacitance"], "inductance alone")):
        args = [f"pkg{n}.zv", "--physical", f"m{n}.npz"] + extra
        count = rounds if n < 100000 else 1
        ra, rb = [], []
        for _ in range(count):
            ra.append(run(cli_a, args))
            rb.append(run(cli_b, args))
        ratio = statistics.median(b[0] / a[0] for a, b in zip(ra, rb))
        med = lambda r, k: statistics.median(x[k] for x in r)
        print(f"{f'{n} wires, {what}':44} {med(ra, 0):8.2f} {med(rb, 0):8.2f} {ratio:6.2f} "
              f"{med(ra, 1):8.2f} {med(rb, 1):8.2f} {med(ra, 2):7.0f} {med(rb, 2):7.0f}",
              flush=True)
PY
