#!/bin/bash
# Completes ostrel-cli command lines with the bash completion and checks the candidates.
# Usage: completion-test.sh COMPLETION_FILE OSTREL_CLI
set -u
completion=$1
cli=$2
source "$completion"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && mkdir sub && touch a.zv b.zv notes.txt

failures=0
# check WORDS... -- EXPECTED_PRESENT... -- EXPECTED_ABSENT...
check() {
  local words=() present=() absent=() part=0 w
  for w in "$@"; do
    if [[ $w == "::" ]]; then part=$((part + 1)); continue; fi
    case $part in 0) words+=("$w") ;; 1) present+=("$w") ;; *) absent+=("$w") ;; esac
  done
  COMP_WORDS=("$cli" "${words[@]}")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _ostrel_cli
  local got=" ${COMPREPLY[*]} "
  for w in "${present[@]}"; do
    [[ $got == *" $w "* ]] || { echo "FAIL '${words[*]}': '$w' missing in [$got]"; failures=1; }
  done
  for w in "${absent[@]}"; do
    [[ $got != *" $w "* ]] || { echo "FAIL '${words[*]}': '$w' offered in [$got]"; failures=1; }
  done
}

check --sp :: --spice --spice-inductance :: --stdout
check -- :: --stdout --report --save-settings --csv --json --svg --help --version :: a.zv
check --spice-inductance "" :: dc ac self :: a.zv --stdout
check --spice-inductance a :: ac :: dc self
check --csv "" :: a.zv b.zv notes.txt sub :: --stdout
check "" :: a.zv b.zv sub :: notes.txt
check --stdout b :: b.zv :: a.zv
# A value that is no path has no candidates (a program whose help has such an option).
printf '#!/bin/sh\necho "  --depth MICRONS   depth"\n' >fake && chmod +x fake
cli=$work/fake
check --depth "" :: :: a.zv sub
exit $failures
