#!/usr/bin/env bash
# Installs the Debian packages a build step needs, and only those missing.
#
# Usage: scripts/install-deps.sh GROUP...   (groups: build test windows wine fuzz web fresh desktop package board board-postgres)
# An equipped machine costs one dpkg-query per package; apt-get runs only
# when something is missing, after one `apt-get update`.
set -euo pipefail

packages_of() {
    case "$1" in
    # libcurl: the desktop program speaks to a hall of fame (--board, --submit).
    build) echo build-essential g++ cmake make pkg-config libsdl2-dev libsdl2-ttf-dev fonts-dejavu-core libcurl4-openssl-dev ;;
    # Screenshot checks drive the real program in a virtual X server.
    # python3 runs the check that every API entry notes its call.
    test) echo libgtest-dev libbenchmark-dev zlib1g-dev xvfb xauth xdotool imagemagick file dpkg-dev python3 ;;
    windows) echo mingw-w64 zip ;;
    # make test-windows also cross-builds the suites with GoogleTest's sources.
    wine) echo wine wine64 xvfb xauth xdotool imagemagick googletest ;;
    # clang alone lacks libFuzzer's and the sanitizers' runtimes.
    fuzz) echo clang libclang-rt-14-dev ;;
    format) echo clang-format ;;
    # Mutation testing: the tool is a Python script and builds with Ninja.
    mutate) echo python3 ninja-build ;;
    # The browser build: emscripten compiles it, node runs its tests, a
    # headless chromium plays the page (driven over its DevTools socket).
    web) echo emscripten nodejs chromium python3 python3-websocket ;;
    fresh) echo debootstrap ;;
    # The desktop check plays the program once more under a window manager.
    desktop) echo xvfb xauth xdotool imagemagick openbox ;;
    # The .deb checked as Debian checks one, and its program started once.
    package) echo lintian appstream desktop-file-utils man-db dpkg-dev file xvfb xauth xdotool imagemagick ;;
    # The hall of fame's service: its HTTP library, SQLite, the verifier's sandbox
    # (seccomp), PostgreSQL's client library; python3 drives its tests.
    board) echo libmicrohttpd-dev libsqlite3-dev libseccomp-dev libpq-dev pkg-config python3 ;;
    # The board's tests against a real PostgreSQL server that they start
    # themselves (tests/server/with-postgres.sh); systemd-analyze rates its unit.
    board-postgres) echo postgresql systemd ;;
    *)
        echo "install-deps: unknown group '$1'" >&2
        exit 2
        ;;
    esac
}

missing=()
for group in "$@"; do
    for pkg in $(packages_of "$group"); do
        status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
        if [[ "$status" != "install ok installed" ]]; then
            missing+=("$pkg")
        fi
    done
done

[[ ${#missing[@]} -eq 0 ]] && exit 0

# Each package once, in first-seen order.
readarray -t missing < <(printf '%s\n' "${missing[@]}" | awk '!seen[$0]++')

if [[ $(id -u) -eq 0 ]]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "install-deps: missing Debian packages: ${missing[*]}" >&2
    echo "install-deps: run as root: apt-get update && apt-get install ${missing[*]}" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
# Another install running at the same moment is waited for, not failed.
"${sudo[@]}" apt-get install -o DPkg::Lock::Timeout=600 -y -q --no-install-recommends "${missing[@]}" </dev/null
