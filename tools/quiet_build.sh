#!/bin/bash
# Configures and builds a CMake tree without filling the screen: nothing at all when everything
# is up to date, one line when there is work, and the build's whole output only when it fails.
# The output is kept in BUILD_DIR/build.log either way.
#
# Usage: tools/quiet_build.sh NAME BUILD_DIR CONFIGURE_COMMAND...
#   CONFIGURE_COMMAND is the command that configures BUILD_DIR (cmake -S . -B BUILD_DIR ..., or
#   emcmake cmake ...). It runs again only when it differs from the one that configured the tree.
set -uo pipefail

if [ $# -lt 3 ]; then
    echo "usage: $0 NAME BUILD_DIR CONFIGURE_COMMAND..." >&2
    exit 2
fi
name=$1
folder=$2
shift 2
log=$folder/build.log
stamp=$folder/configured-with
wanted="$*"

announced=no
announce() {
    if [ $announced = no ]; then
        echo "Building $name (log: $log)"
        announced=yes
    fi
}

fail() {
    cat "$log" >&2
    echo "$1 $name failed; the output above is in $log" >&2
    exit 1
}

mkdir -p "$folder"
: >"$log"
if ! [ -f "$folder/build.ninja" ] || ! [ -f "$stamp" ] || [ "$(cat "$stamp")" != "$wanted" ]; then
    announce
    rm -f "$stamp"
    "$@" >>"$log" 2>&1 || fail Configuring
    echo "$wanted" >"$stamp"
fi
# Ninja checks CMake's globs on every run; any other line it prints is work being done.
while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    case "$line" in
        "["*"] Re-checking globbed directories..." | "ninja: no work to do.") ;;
        *) announce ;;
    esac
done < <(cmake --build "$folder" 2>&1; echo $? >"$folder/build.status")
[ "$(cat "$folder/build.status")" = 0 ] || fail Building
