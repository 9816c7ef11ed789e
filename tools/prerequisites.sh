#!/bin/bash
# Installs the Debian packages that the named groups of work need, when some are missing:
# as root through apt-get, otherwise through sudo; without either it prints the command to run
# and fails. Nothing is installed when everything is there.
#
# Usage: tools/prerequisites.sh GROUP...   (groups: see `package_group` below)
#
# Only the commands it asks about come from PATH (id, dpkg, apt-get, sudo, npm), so that a test
# can stand in for them.
set -euo pipefail

# The packages of each group, the one place that lists them.
package_group() {
    case "$1" in
        # python3 makes the catalogue of messages into the game's tables; gettext checks and
        # merges the catalogue's files.
        play) echo g++ cmake ninja-build make python3 ;;
        test) echo g++ cmake ninja-build make python3 libgtest-dev tmux groff gettext ;;
        bench) echo g++ cmake ninja-build make libbenchmark-dev wrk python3 ;;
        windows) echo cmake ninja-build make python3 g++-mingw-w64-x86-64-posix wine64 ;;
        # systemd-analyze (package systemd) checks the server's unit.
        package) echo dpkg-dev lintian systemd ;;
        fuzz) echo cmake ninja-build make python3 clang libclang-rt-14-dev ;;
        coverage) echo gcovr ;;
        # npm stands for the command: a nodejs package that carries npm itself will do.
        # The page's font is cut from fonts-noto-cjk; its test draws with fonts-dejavu-core only.
        web) echo cmake ninja-build make emscripten nodejs npm chromium fonts-noto-cjk \
            fonts-dejavu-core python3 python3-fonttools python3-brotli ;;
        # Boost.Beast and Boost.Asio are in libboost-dev, header-only; SHA-256 is libssl-dev's
        # libcrypto. The server's tests start a PostgreSQL of their own.
        server) echo libboost-dev libsqlite3-dev libpq-dev libssl-dev nlohmann-json3-dev postgresql ;;
        *) return 1 ;;
    esac
}

if [ $# -eq 0 ]; then
    echo "usage: $0 GROUP..." >&2
    exit 2
fi

if ! command -v dpkg >/dev/null; then
    echo "$0: no dpkg here; make sure these are installed:" $(for group in "$@"; do
        package_group "$group"; done) >&2
    exit 0
fi

wanted=()
for group in "$@"; do
    if ! packages=$(package_group "$group"); then
        echo "$0: unknown group '$group'" >&2
        exit 2
    fi
    for package in $packages; do
        case " ${wanted[*]} " in *" $package "*) ;; *) wanted+=("$package") ;; esac
    done
done
# One question for all: dpkg describes those it knows, each beginning with its name and status.
newline=$'\n'
installed="Status: install ok installed"
known="$newline$(dpkg -s "${wanted[@]}" 2>/dev/null || true)$newline"
missing=()
for package in "${wanted[@]}"; do
    if [ "$package" = npm ]; then
        command -v npm >/dev/null || missing+=(npm)
    elif [[ "$known" != *"${newline}Package: $package$newline$installed$newline"* ]]; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

install=(apt-get install -y --no-install-recommends "${missing[@]}")
if [ "$(id -u)" = 0 ]; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive "${install[@]}"
elif command -v sudo >/dev/null; then
    echo "Installing the missing Debian packages with sudo: ${missing[*]}" >&2
    sudo apt-get update
    sudo DEBIAN_FRONTEND=noninteractive "${install[@]}"
else
    echo "These Debian packages are missing: ${missing[*]}" >&2
    echo "Run this as root, then make again:" >&2
    echo "  apt-get update && ${install[*]}" >&2
    exit 1
fi
