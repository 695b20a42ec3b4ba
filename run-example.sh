#!/bin/sh
# Installs what is missing, builds ostrel-cli, and runs the estimation on the bundled example,
# printing the report.
set -eu
cd "$(dirname "$0")"
sh scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target ostrel-cli
./build/src/cli/ostrel-cli --stdout build/src/cli/AAAc.zv
