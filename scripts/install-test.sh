#!/bin/sh
# Installs the Debian package into a pristine Debian 12 root and uses it as an ordinary user.
# Needs root, debootstrap and network access to deb.debian.org.
# Usage: scripts/install-test.sh DEB
#   DEB: the package, as made by scripts/make-deb.sh (out/ostrel_<version>_amd64.deb).
# OSTREL_TEST_ROOT_CACHE=FILE.tar keeps the bootstrapped root in FILE.tar and reuses it on the
# next run (the root is then unpacked fresh, never reused after an installation).
set -eu
deb=$(realpath "$1")
top=$(cd "$(dirname "$0")/.." && pwd)
mirror=http://deb.debian.org/debian
root=$(mktemp -d /var/tmp/ostrel-install-test.XXXXXX)
cleanup() {
  umount "$root/proc" 2>/dev/null || true
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
step() { echo "install-test: $*"; }
fail() { echo "install-test: FAILED: $*" >&2; exit 1; }

cache=${OSTREL_TEST_ROOT_CACHE:-}
if [ -n "$cache" ] && [ -f "$cache" ]; then
  step "unpacking the Debian 12 root from $cache"
  tar -C "$root" -xf "$cache"
else
  step "bootstrapping Debian 12 (bookworm, minbase) from $mirror"
  debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 ||
    { tail -20 "$root.log"; rm -f "$root.log"; fail "debootstrap"; }
  rm -f "$root.log"
  if [ -n "$cache" ]; then tar -C "$root" -cf "$cache" .; fi
fi
chmod 755 "$root"  # the root folder of the system, open to its users
mount -t proc proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
cp "$top/tests/data/example/AAAc.zv.doc" "$root/tmp/reference.zv.doc"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
  DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"; }

step "apt-get install ./$(basename "$deb")"
apt_log="$root/tmp/apt.log"
apt() { in_root apt-get -y -q --no-install-recommends "$@" >>"$apt_log" 2>&1 ||
  { tail -30 "$apt_log"; fail "apt-get $*"; }; }
apt update
apt install "/tmp/$(basename "$deb")"
# What the checks use, as a desktop would have it: manual pages, the MIME database and its
# query tool, the desktop-entry cache, a watch on file opens.
apt install man-db xdg-utils libfile-mimeinfo-perl shared-mime-info desktop-file-utils \
  inotify-tools
in_root useradd --create-home --shell /bin/sh engineer

step "checks as the user 'engineer'"
cat >"$root/tmp/user-checks.sh" <<'CHECKS'
set -eu
fail() { echo "install-test: FAILED: $*" >&2; exit 1; }
cd "$HOME"
# Without an argument: the bundled example is copied to the user's data folder and its report
# written there.
printed=$(ostrel-cli) || fail "ostrel-cli without an argument exited with $?"
[ "$printed" = "$HOME/.local/share/ostrel/AAAc.zv.doc" ] || fail "ostrel-cli printed '$printed'"
cmp "$printed" /tmp/reference.zv.doc || fail "the report differs from the reference"
ostrel-cli --help | grep -q '^Usage: ostrel-cli' || fail "ostrel-cli --help"
# The physical model loads its linear algebra library when it first factors a matrix: the
# package's dependencies must have brought it.
ostrel-cli --physical-table "$HOME/.local/share/ostrel/AAAc.zv" 2>/dev/null | grep -q '^T1 ' ||
  fail "ostrel-cli --physical-table (the physical model)"
# The sparse factorisation library is loaded only for large matrices, which the example does not
# have: the dependencies must have brought it all the same.
/sbin/ldconfig -p | grep -q 'libcholmod\.so\.3 ' || fail "libcholmod.so.3 is not installed"
man ostrel-cli 2>/dev/null | grep -q 'EXIT STATUS' || fail "man ostrel-cli"
man ostrel 2>/dev/null | grep -q 'SYNOPSIS' || fail "man ostrel"

# The settings-file type and the program that opens it.
touch x.zv
type=$(xdg-mime query filetype x.zv)
[ "$type" = application/x-ostrel-settings ] || fail "xdg-mime query filetype x.zv: '$type'"
app=$(xdg-mime query default application/x-ostrel-settings)
[ "$app" = io.github.ostrel.Ostrel.desktop ] || fail "default application: '$app'"

# The window on the offscreen platform opens the settings file it is given and keeps running.
cp .local/share/ostrel/AAAc.zv .local/share/ostrel/AAAc.tmv .
inotifywait -q -t 30 -e open AAAc.zv >/dev/null 2>&1 &
watch=$!
sleep 1
QT_QPA_PLATFORM=offscreen timeout 10 ostrel AAAc.zv >window.log 2>&1 &
window=$!
wait $watch || fail "ostrel did not open AAAc.zv"
status=0
wait $window || status=$?
[ $status -eq 124 ] || { cat window.log; fail "ostrel ended with status $status"; }
echo "install-test: all user checks passed"
CHECKS
chroot --userspec=engineer:engineer "$root" /usr/bin/env -i HOME=/home/engineer \
  PATH=/usr/bin:/bin LANG=C.UTF-8 /bin/sh /tmp/user-checks.sh
