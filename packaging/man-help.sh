#!/bin/sh
# Runs the program named by OSTREL_MAN_PROGRAM with the given option (help2man asks for --help
# and --version) and marks the "Exit status:" paragraph of the help as a section of its own, so
# that the manual page gains an EXIT STATUS section from the help text itself.
set -eu
"$OSTREL_MAN_PROGRAM" "$@" | sed 's/^Exit status: */*Exit status*\n/'
