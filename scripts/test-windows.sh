#!/usr/bin/env bash
# Runs the Windows build under Wine in a private X server and checks, from
# screenshots, that the game works on the real Win32/DirectDraw API: the
# story, title, briefing and play screens appear after the right keys, the
# basket frames match the sprite sheet pixel for pixel (the same references
# the Linux build is checked against), and Esc ends the program with 0.
#
# Usage: scripts/test-windows.sh path/to/vornackle.exe LINUX_BUILD_DIR
# The Wine prefix lives outside the repository and is reused between runs
# (VORNACKLE_WINEPREFIX overrides where).
set -euo pipefail

exe=$(realpath "$1")
linux_build=$(realpath "${2:-build}")
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/screen-lib.sh"

SHEET=${VORNACKLE_SHEET:-$root/assets/playersprite.bmp}
PICTURE_TOOL=$linux_build/vn_sheet_picture
export WINEPREFIX=${VORNACKLE_WINEPREFIX:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/vornackle/wine-prefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

game_pid=
cleanup() {
    local status=$?
    if [[ -n "$game_pid" ]] && kill -0 "$game_pid" 2>/dev/null; then
        kill "$game_pid" 2>/dev/null || true
    fi
    wineserver -k 2>/dev/null || true
    stop_xvfb
    if ((status != 0)); then
        mkdir -p "$root/build-windows/screenshots"
        cp "$SHOTS"/*.png "$root/build-windows/screenshots/" 2>/dev/null || true
        echo "test-windows: FAILED; screenshots in build-windows/screenshots" >&2
    fi
    rm -rf "$SHOTS"
}
trap cleanup EXIT

start_xvfb

# Wine can switch to 640 x 480 x 8 only inside its own virtual desktop of
# that size; Xvfb has no mode switching of its own. The GDI renderer needs no
# OpenGL. Registry changes reach the prefix only once wineserver has quit.
if [[ ! -f "$WINEPREFIX/.vornackle-ready" ]]; then
    echo "test-windows: making the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >"$SHOTS/wineboot.log" 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f >/dev/null
    wine reg add 'HKCU\Software\Wine\Direct3D' /v renderer /d gdi /f >/dev/null
    wineserver -w
    touch "$WINEPREFIX/.vornackle-ready"
fi

prepare_references

# The game reads its sheet by bare name, which OpenFile looks for in the
# program's folder first: lay the two out as the Windows zip does, and start
# the program from another folder.
run_dir="$SHOTS/game"
mkdir -p "$run_dir" "$SHOTS/elsewhere"
cp "$exe" "$run_dir/vornackle.exe"
cp "$SHEET" "$run_dir/playersprite.bmp"
(cd "$SHOTS/elsewhere" && exec timeout 180 wine "$run_dir/vornackle.exe") &
game_pid=$!

play_through "$game_pid"
game_pid=
echo "test-windows: passed"
