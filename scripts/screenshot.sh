#!/bin/sh
# Renders the desktop window on the bundled example into docs/images/: window-start.png after
# start-up (panel, loop schematic, settings text) and window-report.png after Process Data; then
# the physical view: physical-view.png, physical-plot.png, physical-coupling.png, physical-plan.png,
# physical-linked.png (a coupling-map cell clicked), physical-nets.png (the role filter, the plan
# coloured by role), physical-net-impedance.png, physical-stale.png (an option changed) and
# physical-pairs.png (two differential pairs named).
# Builds the window first when needed. Needs xvfb-run (package xvfb).
set -eu
cd "$(dirname "$0")/.."
build=${OSTREL_GUI_BUILD_DIR:-build-gui}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_GUI=ON \
    -DOSTREL_BUILD_TESTS=ON >/dev/null
fi
cmake --build "$build" -j2 --target ostrel ostrel-screenshot ostrel-physical-screenshot
# The example is copied, so that its report is not written into examples/.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/example" docs/images
cp examples/AAAc.zv examples/AAAc.tmv "$work/example/"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/src/ui/ostrel-screenshot" "$work/example/AAAc.zv" docs/images
# The view's own options from a fresh user configuration: the defaults.
XDG_CONFIG_HOME="$work/config" xvfb-run -a -s "-screen 0 1920x1200x24" \
  "$build/src/ui/ostrel-physical-screenshot" "$work/example/AAAc.zv" docs/images
echo "Wrote docs/images/window-start.png, window-report.png and physical-*.png (view, plot, coupling, plan, linked, nets, net-impedance, stale, pairs)"
