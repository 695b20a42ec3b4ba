#!/bin/sh
# Runs .ci/run in a pristine Debian 12 root, as on a new machine: only what
# scripts/install-deps.sh installs is there. Needs root, debootstrap and network access to
# deb.debian.org. A clean clone of the repository's HEAD is built, with a copy of ../shared
# beside it when there is one.
# Usage: scripts/ci-pristine.sh [LOG]   (default: ci-pristine.log in the current folder)
# OSTREL_TEST_ROOT_CACHE=FILE.tar keeps the bootstrapped root in FILE.tar and reuses it.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
log=$(realpath "${1:-ci-pristine.log}")
mirror=http://deb.debian.org/debian
root=$(mktemp -d /var/tmp/ostrel-ci-root.XXXXXX)
cleanup() {
  for m in dev/pts dev sys proc; do umount "$root/$m" 2>/dev/null || true; done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
cache=${OSTREL_TEST_ROOT_CACHE:-}
if [ -n "$cache" ] && [ -f "$cache" ]; then
  tar -C "$root" -xf "$cache"
else
  echo "ci-pristine: bootstrapping Debian 12 (bookworm, minbase)"
  debootstrap --variant=minbase bookworm "$root" "$mirror" >"$log" 2>&1 ||
    { tail -20 "$log"; echo "ci-pristine: FAILED: debootstrap" >&2; exit 1; }
  if [ -n "$cache" ]; then tar -C "$root" -cf "$cache" .; fi
fi
chmod 755 "$root"
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/work"
# git is not on a new machine either: the clone is made outside and copied in.
git clone -q "$top" "$root/work/main"
if [ -d "$top/../shared" ]; then cp -r "$top/../shared" "$root/work/shared"; fi
echo "ci-pristine: CI=true bash .ci/run in the pristine root (log: $log)"
status=0
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
  CI=true sh -c 'cd /work/main && bash .ci/run' >>"$log" 2>&1 || status=$?
tail -5 "$log"
echo "ci-pristine: .ci/run ended with status $status"
exit "$status"
