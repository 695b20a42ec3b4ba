#!/bin/sh
# Checks that every C++ file of src/, tests/, bench/ and fuzz/ is laid out as .clang-format says,
# with Debian 12's clang-format 14 (CLANG_FORMAT names another). Changes nothing: names each file
# that differs and fails; `clang-format -i FILE` lays one out.
set -eu
cd "$(dirname "$0")/.."

tool="${CLANG_FORMAT:-}"
if [ -z "$tool" ]; then
  if command -v clang-format-14 >/dev/null 2>&1; then tool=clang-format-14; else tool=clang-format; fi
fi
if ! command -v "$tool" >/dev/null 2>&1; then
  echo "check-format: $tool not found (Debian: apt-get install clang-format)" >&2
  exit 2
fi
case "$("$tool" --version)" in
  *" version 14."*) ;;
  *) echo "check-format: $("$tool" --version) is not clang-format 14; its layout may differ" >&2 ;;
esac

list=$(mktemp)
differ=$(mktemp)
trap 'rm -f "$list" "$differ"' EXIT
find src tests bench fuzz -type f \( -name '*.h' -o -name '*.cc' -o -name '*.hpp' -o -name '*.cpp' \) |
  LC_ALL=C sort >"$list"
while IFS= read -r file; do
  "$tool" --dry-run --Werror "$file" >/dev/null 2>&1 || echo "$file" >>"$differ"
done <"$list"

if [ -s "$differ" ]; then
  echo "check-format: $(wc -l <"$differ") of $(wc -l <"$list") C++ files differ from .clang-format:"
  sed 's/^/  /' "$differ"
  exit 1
fi
echo "check-format: $(wc -l <"$list") C++ files as .clang-format says"
