#!/bin/sh
# The monitor's folders are layers, lowest first:
#   core
#   windows, datatable, transfer
#   main
# A source file may include headers of its own layer and the layers below,
# never of a layer above. The folders of the middle layer may include each
# other (the data table builds on the resource windows). The tests/ folders
# hold integration tests and are exempt.
#
# Usage: check-layers.sh [monitor folder]; exits 1 and names each include
# that points upward.
set -eu
monitor=${1:-$(dirname "$0")/../monitor}

rank() {
    case $1 in
    core) echo 0 ;;
    windows | datatable | transfer) echo 1 ;;
    main) echo 2 ;;
    *) echo -1 ;;
    esac
}

status=0
files=$(cd "$monitor" && find core windows datatable transfer main -name tests -prune -o \
    \( -name '*.cpp' -o -name '*.h' \) -print | sort)
for file in $files; do
    own=$(rank "${file%%/*}")
    targets=$(sed -n 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*"\(\.\./\)*\([A-Za-z_]*\)/.*|\2|p' \
        "$monitor/$file")
    for target in $targets; do
        if [ "$(rank "$target")" -gt "$own" ]; then
            echo "$file includes from $target/, a layer above its own" >&2
            status=1
        fi
    done
done
[ -n "$files" ] || { echo "no monitor sources under $monitor" >&2; exit 1; }
exit $status
