#!/bin/sh
# Builds the Debian package ostrel_<version>_<arch>.deb with CPack into OUT_DIR (default: out/)
# from a fresh Release build in build-deb/, with Debian's hardening flags.
# Usage: scripts/make-deb.sh [OUT_DIR]
set -eu
cd "$(dirname "$0")/.."
out_dir=$(realpath -m "${1:-out}")
build_dir=${OSTREL_DEB_BUILD_DIR:-build-deb}
umask 022

# The package's changelog must describe the version being packaged.
version=$(sed -n 's/^project(Ostrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelog_version=$(sed -n '1s/^ostrel (\([^)]*\)).*/\1/p' packaging/changelog)
if [ "$version" != "$changelog_version" ]; then
  echo "make-deb: packaging/changelog starts with $changelog_version, the project is $version;" \
       "add a changelog entry first" >&2
  exit 1
fi

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DOSTREL_BUILD_GUI=ON -DOSTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir"
mkdir -p "$out_dir"
(cd "$build_dir" && cpack -G DEB -B "$out_dir" >/dev/null)
rm -rf "$out_dir/_CPack_Packages"
ls "$out_dir"/ostrel_"$version"_*.deb
