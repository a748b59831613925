#!/usr/bin/env bash
# Plays the desktop program in a real X window, as a player would, on a
# 1024 x 768 virtual screen (Xvfb: no GPU, so the program presents through
# its own span scaler), and once more under a window manager when openbox is
# installed: the command line; --window opens a 640 x 480 window showing the
# story pixel for pixel; F11 takes the whole screen drawn sharp at 1.6 (near
# the picture enlarged twice with nearest, then linearly down) and Alt+Enter
# comes back, in play too; started full screen (the default), Alt+Enter makes
# it a window; every screen costs under 5 % of one core; Esc ends with 0; the
# window is remembered, and one off the screen comes back.
#
# Usage: scripts/test-desktop-window.sh [BUILD_DIR]   (needs vornackle and
# vn_sheet_picture built there; WINDOW_SHOT=FILE keeps a screenshot of play
# in a window, as in docs/window.png)
set -euo pipefail

build=$(realpath "${1:-build}")
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ -z "${VN_DESKTOP_XVFB:-}" ]]; then
    exec env VN_DESKTOP_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$build"
fi
source "$root/scripts/test-lib.sh"
mkdir -p "$SHOTS"
SHEET=$root/assets/playersprite.bmp
PICTURE_TOOL=$build/vn_sheet_picture
export SDL_AUDIODRIVER=dummy
# Settings of the test's own, the user's left alone.
export XDG_CONFIG_HOME=$SHOTS/config
SETTINGS=$XDG_CONFIG_HOME/vornackle/settings.txt

GAME_PID= wm_pid=
cleanup() {
    local status=$?
    [[ -n "$GAME_PID" ]] && kill "$GAME_PID" 2>/dev/null || true
    [[ -n "$wm_pid" ]] && kill "$wm_pid" 2>/dev/null || true
    if ((status != 0)); then
        mkdir -p "$build/screenshots-desktop"
        cp "$SHOTS"/*.png "$build/screenshots-desktop/" 2>/dev/null || true
        echo "test-desktop-window: FAILED; screenshots in $build/screenshots-desktop" >&2
    fi
}
trap cleanup EXIT
fail() {
    echo "test-desktop-window: $*" >&2
    exit 1
}

# --- the command line --------------------------------------------------------
"$build/vornackle" --help >"$SHOTS/help.txt" || fail "--help did not exit 0"
grep -q -- '--window' "$SHOTS/help.txt" || fail "--help does not list --window"
grep -q -- '--scale=nearest' "$SHOTS/help.txt" || fail "--help does not list --scale=nearest"
"$build/vornackle" --version | grep -Eq '^vornackle [0-9]+\.[0-9]+\.[0-9]+$' ||
    fail "--version does not say the version"
status=0
"$build/vornackle" --no-such-option 2>"$SHOTS/error.txt" || status=$?
((status == 2)) || fail "an unknown option exited with $status, not 2"
[[ $(wc -l <"$SHOTS/error.txt") == 1 ]] || fail "an unknown option's error is not one line"
echo "test-desktop-window: --help, --version and an unknown option answer as they should"

prepare_references

# Starts the program with ARGS and waits for its window (30 s at most) of
# SIZE.
start_game() {
    local size=$1
    shift
    "$build/vornackle" "$@" &
    GAME_PID=$!
    await_window 30 "vornackle $*"
    wait_size "$size"
}
switch() {  # F11 or Alt+Enter, and the window's size after it
    if [[ $1 == F11 ]]; then press F11; else xdotool keydown alt key Return keyup alt; fi
    wait_size "$2"
}
quit() {
    press Escape
    wait_exit "$1"
}
window_place() {
    xdotool getwindowgeometry "$window" | sed -n 's/ *Position: \([0-9-]*,[0-9-]*\).*/\1/p'
}

play_once() {
    local label=$1 key
    start_game 640x480 --window
    wait_for_window story 30 check_story
    check_cpu "$label: story in a window"
    cp "$SHOTS/story.png" "$SHOTS/story-1x.png"

    # Full screen: the same picture, sharp at 1.6.
    switch F11 1024x768
    check_sharp story-full "$SHOTS/story-1x.png" "test-desktop-window: $label"
    check_cpu "$label: story full screen"
    for key in Return space Return; do
        press $key
        sleep 1
        check_cpu "$label: after $key, full screen"
    done

    # Back to the window in play, and the game goes on there.
    switch Alt+Enter 640x480
    wait_for_window playing 10 check_playing
    check_cpu "$label: play in a window"
    if [[ -n "${WINDOW_SHOT:-}" && "$label" == "window manager" ]]; then
        shot window-play
        cp "$SHOTS/window-play.png" "$WINDOW_SHOT"
    fi
    switch F11 1024x768
    switch F11 640x480
    wait_for_window playing 10 check_playing
    quit "$label"
    echo "test-desktop-window: $label: window, full screen and back, every screen, Esc ends with 0"
}

# Started full screen (the default, with no settings yet): the whole screen,
# sharp as the window's picture enlarged; Alt+Enter makes it a 640 x 480
# window showing the same.
near_sharp() {
    local sharp
    sharp=$(difference "$1" "$SHOTS/sharp.png")
    echo "differs from sharp by $sharp"
    awk -v s="$sharp" 'BEGIN { exit !(s < 0.05) }'
}
start_full_screen() {
    local label=$1
    rm -f "$SETTINGS"
    start_game 1024x768
    wait_for story-started-full 10 near_sharp ||
        fail "$label: started full screen, the story is not sharp"
    switch Alt+Enter 640x480
    wait_for_window story 10 check_story
    quit "$label"
    echo "test-desktop-window: $label: started full screen, sharp; Alt+Enter made it a window"
}

# The next start, with no options, is a window again where the last one was;
# a window placed where no screen is comes back on the screen.
remembered() {
    local label=$1 place
    start_game 640x480
    quit "$label"
    grep -qx 'window=1' "$SETTINGS" || fail "$label: the window was not remembered"
    printf 'version=1\nwindow=1\nwindow_x=-5000\nwindow_y=4000\nwindow_width=640\nwindow_height=480\n' \
        >"$SETTINGS"
    start_game 640x480
    place=$(window_place)
    local x=${place%,*} y=${place#*,}
    ((x >= 0 && y >= 0 && x < 1024 && y < 768)) || fail "$label: a window off the screen stayed at $place"
    quit "$label"
    echo "test-desktop-window: $label: the window remembered; one off the screen came back at $place"
}

play_once "no window manager"
start_full_screen "no window manager"
remembered "no window manager"
if command -v openbox >/dev/null; then
    openbox >"$SHOTS/openbox.log" 2>&1 &
    wm_pid=$!
    sleep 1
    play_once "window manager"
    start_full_screen "window manager"
    kill "$wm_pid" 2>/dev/null || true
    wm_pid=
else
    echo "test-desktop-window: openbox is not installed: checked without a window manager only"
fi
echo "test-desktop-window: passed"
