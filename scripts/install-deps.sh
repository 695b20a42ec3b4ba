#!/bin/sh
# Installs what building and testing Ostrel needs on Debian 12 (run as root). Packages already
# present are left alone, so a second run costs a few seconds. clang's OpenMP runtime
# (libomp-14-dev, the one matching bookworm's clang 14) is for the fuzz lane's clang build of the
# physical model; GCC brings its own.
set -eu
packages="build-essential cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev
qt6-base-dev qt6-charts-dev qt6-svg-dev xvfb xauth ngspice jq libxml2-utils clang clang-format libclang-rt-14-dev
libomp-14-dev
libeigen3-dev libopenblas-pthread-dev libsuitesparse-dev libxxhash-dev libdeflate-dev libcli11-dev python3-scipy python3-mpmath python3-scikit-rf help2man lintian desktop-file-utils
appstream shared-mime-info xdg-utils debootstrap hyperfine man-db"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
fi
