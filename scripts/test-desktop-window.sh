#!/usr/bin/env bash
# Plays the desktop program in a real X window, as a player would, on a
# 1024 x 768 virtual screen (Xvfb: no GPU, so the program presents through
# its own span scaler), and once more under a window manager when openbox is
# installed: its command line, then the window driver of test-lib.sh (every
# screen in a 640 x 480 window and full screen, sharp, each under 20 % of a
# core; the settings kept).
#
# Usage: scripts/test-desktop-window.sh [BUILD_DIR]   (needs vornackle and
# vn_sheet_picture built there; WINDOW_SHOT=FILE keeps a screenshot of play
# in a window, as in docs/window.png)
set -euo pipefail

build=$(realpath "${1:-build}")
root=$(cd "$(dirname "$0")/.." && pwd)
CHECK=test-desktop-window KEEP_SHOTS=$build/screenshots-desktop
source "$root/scripts/test-lib.sh"
SHEET=$root/assets/playersprite.bmp
PICTURE_TOOL=$build/vn_sheet_picture
export SDL_AUDIODRIVER=dummy
# Settings of the test's own, the user's left alone.
export XDG_CONFIG_HOME=$SHOTS/config
SETTINGS=$XDG_CONFIG_HOME/vornackle/settings.txt
launch() { "$build/vornackle" "$@" & }

check_command_line "$build/vornackle"
SCREEN_SIZE=1024x768x24 start_xvfb
prepare_references
play_in_window "no window manager"
keeps_settings "no window manager"
if command -v openbox >/dev/null; then
    openbox >"$SHOTS/openbox.log" 2>&1 &
    HELPER_PIDS=$!
    sleep 1
    play_in_window "window manager"
    rm -f "$SETTINGS"
    starts_full "window manager"
else
    echo "$CHECK: openbox is not installed: checked without a window manager only"
fi
echo "$CHECK: passed"
