#!/usr/bin/env bash
# Records runs of the real program played with real key presses (xdotool
# into a private X server), for the run corpus: the keys reach the game as a
# player's do, through the window system and the backend.
#
#   record_keys.sh linux VORNACKLE OUT.vnr SCENARIO
#   record_keys.sh windows VORNACKLE.EXE OUT.vnr SCENARIO   (under Wine)
#
# SCENARIO: moves   the menus, then Left and Right held and tapped, Alt+Enter
#                   twice and M during level 1's play, then Esc
#           retry   level 1 left to run out, retried from its failure
#                   screen, then Esc on the play screen
#           close   a little play, then the program is asked to close (SIGTERM
#                   on Linux; on Windows taskkill, which closes its window)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/test-lib.sh"
build=$1 program=$(realpath "$2") out=$(realpath -m "$3") scenario=$4

hold() {  # KEY SECONDS
    xdotool keydown "$1"
    sleep "$2"
    xdotool keyup "$1"
}

SCREEN_SIZE=1024x768x24 start_xvfb
rm -f "$out"
if [[ $build == windows ]]; then
    export WINEPREFIX=${VORNACKLE_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/vornackle}/wine-prefix-desktop
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    wine "$program" --version >/dev/null 2>&1
    wine "$program" --window --record "$out" &
else
    XDG_CONFIG_HOME=$SHOTS/config SDL_AUDIODRIVER=dummy "$program" --window --record "$out" &
fi
GAME_PID=$!
await_window 60 "$program"
sleep 2
xdotool mousemove --window "$window" 100 100 windowfocus "$window" 2>/dev/null || true
press Return  # the story
sleep 1
press space   # the title
sleep 1
press Return  # the briefing
sleep 1.5
case $scenario in
moves)
    hold Right 1.2
    hold Left 2.0
    xdotool keydown alt key Return keyup alt
    sleep 1
    hold Right 0.6
    press m
    hold Left 0.4
    xdotool keydown alt key Return keyup alt
    sleep 0.8
    for _ in 1 2 3 4 5; do press Right; press Left; done
    press Escape
    ;;
retry)
    sleep 31
    press space
    sleep 2
    hold Left 1
    press Escape
    ;;
close)
    hold Right 1.5
    sleep 1
    if [[ $build == windows ]]; then
        wine taskkill /IM vornackle.exe >/dev/null 2>&1  # WM_CLOSE to its window
    else
        kill -TERM "$GAME_PID"
    fi
    ;;
esac
deadline=$((SECONDS + 20))
while kill -0 "$GAME_PID" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.2; done
if kill -0 "$GAME_PID" 2>/dev/null; then
    echo "record_keys: the program did not end; $out is not kept" >&2
    rm -f "$out"
    exit 1
fi
status=0
wait "$GAME_PID" || status=$?
GAME_PID=
echo "record_keys: $out ($scenario on $build): exit $status, $(stat -c %s "$out") bytes"
