#!/bin/sh
# Installs what is missing, builds everything (window included) and runs every test.
set -eu
cd "$(dirname "$0")"
sh scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=ON >/dev/null
cmake --build build
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2
