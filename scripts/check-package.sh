#!/bin/sh
# Builds the Debian package and checks it: lintian (no error; every warning left must be listed
# with its reason in docs/packaging.md), the desktop entry, AppStream metadata and settings-file
# type from the package, its file list (packaging/file-list.txt), the manual pages against
# --help, and the packaged ostrel-cli on the bundled example, by path and without an argument.
# Usage: scripts/check-package.sh [OUT_DIR]   (default out/; the package stays there)
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
out_dir=$(realpath -m "${1:-out}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

deb=$(sh scripts/make-deb.sh "$out_dir" | tail -n 1)
echo "check-package: $deb"

# lintian: errors fail; each warning's tag must be explained in docs/packaging.md.
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 ||
  { cat "$work/lintian"; fail "lintian reports errors"; }
grep -v 'running with root privileges' "$work/lintian" || true
for tag in $(sed -n 's/^W: [^ ]* \([^ ]*\).*/\1/p' "$work/lintian" | sort -u); do
  grep -q "\`$tag\`" docs/packaging.md || fail "lintian warning $tag is not explained in docs/packaging.md"
done

# The file list, directories and the documentation folder aside.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | grep -v '^\./usr/share/doc/ostrel/docs/' |
  sort >"$work/files"
sort packaging/file-list.txt | diff -u - "$work/files" ||
  fail "the package's files differ from packaging/file-list.txt"

root="$work/root"
dpkg-deb -x "$deb" "$root"
# Nothing installed refers to the source or build folders.
if grep -rlF -e "$top/" "$root"; then fail "the files above name $top"; fi
desktop-file-validate "$root"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
mkdir -p "$work/mime/packages"
cp "$root/usr/share/mime/packages/ostrel.xml" "$work/mime/packages/"
update-mime-database "$work/mime" >/dev/null 2>&1 || fail "update-mime-database rejects ostrel.xml"
grep -qx 'application/x-ostrel-settings:\*\.zv' "$work/mime/globs" ||
  fail "*.zv is not the settings-file type"
grep -q 'MimeType=application/x-ostrel-settings;' "$root"/usr/share/applications/*.desktop ||
  fail "the desktop entry does not open settings files"

# Every option of each program's help is in its manual page, with the usual sections.
for program in ostrel-cli ostrel; do
  MANWIDTH=200 man -l "$root/usr/share/man/man1/$program.1.gz" >"$work/$program.man" 2>/dev/null
  for section in SYNOPSIS OPTIONS 'EXIT STATUS' FILES EXAMPLES; do
    grep -q "^$section" "$work/$program.man" || fail "$program(1) has no $section section"
  done
  for option in $("$root/usr/bin/$program" --help | sed -n 's/^  \(-[-a-z0-9]*\).*/\1/p'); do
    grep -q -- "$option" "$work/$program.man" || fail "$program(1) lacks $option"
  done
done

# The packaged ostrel-cli on a copy of the bundled example gives the reference report, and
# without an argument writes the report beside the user's copy of the example.
mkdir "$work/run"
cp examples/AAAc.zv examples/AAAc.tmv "$work/run/"
"$root/usr/bin/ostrel-cli" "$work/run/AAAc.zv" >/dev/null
cmp "$work/run/AAAc.zv.doc" "$top/tests/data/example/AAAc.zv.doc" ||
  fail "the packaged ostrel-cli's report differs from the reference"
XDG_DATA_HOME="$work/data" "$root/usr/bin/ostrel-cli" >"$work/printed"
[ "$(cat "$work/printed")" = "$work/data/ostrel/AAAc.zv.doc" ] ||
  fail "ostrel-cli without an argument printed $(cat "$work/printed")"
cmp "$work/data/ostrel/AAAc.zv.doc" "$top/tests/data/example/AAAc.zv.doc"
echo "check-package: all checks passed"
