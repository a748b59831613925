#!/usr/bin/env bash
# The Windows build under Wine, each part (below) in a private X server.
# Usage: scripts/test-windows.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
# WINDOWS_BUILD_DIR holds the programs and, when built with tests, their test
# programs under tests/; LINUX_BUILD_DIR the Linux vornackle and
# vn_sheet_picture. The Wine prefixes live outside the repository and are
# reused (VORNACKLE_WINEPREFIX overrides where). PARTS picks parts
# (bench/windows_figures.sh runs its own).
set -euo pipefail

windows_build=$(realpath "$1")
linux_build=$(realpath "${2:-build}")
root=$(cd "$(dirname "$0")/.." && pwd)
CHECK=test-windows KEEP_SHOTS=$windows_build/screenshots
source "$root/scripts/test-lib.sh"
SHEET=${VORNACKLE_SHEET:-$root/assets/playersprite.bmp}
PICTURE_TOOL=$linux_build/vn_sheet_picture
PREFIXES=${VORNACKLE_WINEPREFIX:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/vornackle}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
PARTS=${PARTS:-suites console board desktop classic}

# Makes the Wine prefix $WINEPREFIX once; registry changes (arguments: name
# and value pairs under HKCU\Software\Wine) reach it only once wineserver
# has quit.
make_prefix() {
    [[ -f "$WINEPREFIX/.vornackle-ready" ]] && return 0
    echo "test-windows: making the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >"$SHOTS/wineboot.log" 2>&1
    while (($# >= 3)); do
        wine reg add "HKCU\\Software\\Wine\\$1" /v "$2" /d "$3" /f >/dev/null
        shift 3
    done
    wineserver -w
    touch "$WINEPREFIX/.vornackle-ready"
}

# --- suites: the core's test programs, cross-built (the platform, the game
# with its golden recordings, the settings file): the same suites and the same
# checksums as on Linux.
run_suites() {
    local suites=() suite started status
    mapfile -t suites < <(find "$windows_build/tests" -name '*_tests.exe' 2>/dev/null | sort)
    ((${#suites[@]} > 0)) || fail "no test programs in $windows_build/tests (make test-windows builds them)"
    # The Win32 backend's suite opens real windows.
    SCREEN_SIZE=1024x768x24 start_xvfb
    for suite in "${suites[@]}"; do
        started=$SECONDS
        # Run from the build folder on Wine's Z: drive, where the tests' own
        # absolute paths (the golden recordings, the assets) lead.
        status=0
        (cd "$(dirname "$suite")" && wine "$suite" --gtest_brief=1) >"$SHOTS/suite.log" 2>&1 || status=$?
        ((status == 0)) ||
            fail "$(basename "$suite") failed under Wine (exit $status): $(cat "$SHOTS/suite.log")"
        echo "test-windows: $(basename "$suite"): $(grep -E '^\[  PASSED  \]' "$SHOTS/suite.log")" \
            "in $((SECONDS - started)) s"
    done
}

# The programs and the sheet in $dir (a new folder NAME under $SHOTS), in the
# desktop program's prefix, with a run that quits on level 1 as quit.vnr.
console_folder() {
    export WINEPREFIX=$PREFIXES/wine-prefix-desktop
    make_prefix
    dir=$SHOTS/$1
    mkdir -p "$dir"
    cp "$windows_build/vornackle.com" "$windows_build/vornackle.exe" "$SHEET" "$dir/"
    cp "$root/tests/runs/web-quit-l1.vnr" "$dir/quit.vnr"
}
# Types LINE in cmd as the batch file NAME.bat (its %1, %2 from ARGS) in
# $dir, then %ERRORLEVEL%; what cmd shows goes to $dir/NAME.txt.
in_cmd() {
    local name=$1 line=$2
    shift 2
    printf '@echo off\r\n%s\r\necho errorlevel=%%ERRORLEVEL%%\r\n' "$line" >"$dir/$name.bat"
    (cd "$dir" && wine cmd /c "$name.bat" "$@") 2>&1 | tr -d '\r' >>"$dir/$name.txt" || true
}

# --- console: vornackle.com answers in the console: every run of the corpus (recorded on
# Linux, Windows and the page) verifies with MANIFEST's lines and exit 0 with
# no X display at all, as does vornackle.exe; a bad file is said on stderr
# with exit 2; a command line it does not verify itself goes to vornackle.exe,
# whose answer and exit code come back.
run_console() {
    local dir some="linux-wrap.vnr win-bot-full.vnr web-marks.vnr keys-win-moves.vnr"
    console_folder console
    unset DISPLAY
    "$root/tests/runs/verify_corpus.sh" "$root/tests/runs" wine "$dir/vornackle.com" ||
        fail "vornackle.com --verify with no display: a corpus run did not verify"
    RUNS_ONLY=$some "$root/tests/runs/verify_corpus.sh" "$root/tests/runs" wine "$dir/vornackle.exe" ||
        fail "vornackle.exe --verify with no display: a run did not verify"
    exits 2 'none.vnr cannot be opened' "vornackle.com --verify of a missing file" \
        wine "$dir/vornackle.com" --verify "$dir/none.vnr"
    # Not vornackle.com's own option: vornackle.exe's complaint comes back.
    exits 2 "unknown option '--no-such-option'" "vornackle.com --no-such-option" \
        wine "$dir/vornackle.com" --no-such-option
    # Typed in cmd as `vornackle`: its lines there and %ERRORLEVEL% set.
    in_cmd check 'vornackle --verify %1' quit.vnr
    in_cmd check 'vornackle --verify %1' none.vnr
    grep -q '^fastest total: none' "$dir/check.txt" && grep -q '^errorlevel=0' "$dir/check.txt" &&
        grep -q '^errorlevel=2' "$dir/check.txt" && grep -q 'none.vnr cannot be opened' "$dir/check.txt" ||
        fail "'vornackle --verify' typed in cmd: $(cat "$dir/check.txt")"
    echo "test-windows: vornackle.com and .exe verify with no display; .com hands the rest to .exe"
    start_xvfb
    RUNS_ONLY=$some "$root/tests/runs/verify_corpus.sh" "$root/tests/runs" wine "$dir/vornackle.com" ||
        fail "vornackle.com --verify with a display: a run did not verify"
    echo "test-windows: and the same with a display"
}

# --- board: vornackle.com --submit sends a run to a scripted board on loopback and says
# where it landed, in cmd with %ERRORLEVEL%; a board that is not there is
# exit 4; vornackle.exe --board asks for a challenge before its game.
run_board() {
    local dir port
    console_folder board
    timeout 300 python3 "$root/tests/platform/scripted_board.py" "$dir/port" "$dir/board.log" &
    HELPER_PIDS=$!
    within 20 test -s "$dir/port" || fail "the scripted board did not start"
    port=$(cat "$dir/port")
    (unset DISPLAY && in_cmd submit 'vornackle --submit %1 --board http://127.0.0.1:%2/ --initials abc' \
        quit.vnr "$port")
    grep -q 'run 1 is verified: total 122 s, rank 1 of 1 on the live board' "$dir/submit.txt" &&
        grep -q '^errorlevel=0' "$dir/submit.txt" && grep -q '^POST /runs?initials=ABC [1-9]' "$dir/board.log" ||
        fail "'vornackle --submit' typed in cmd: $(cat "$dir/submit.txt" "$dir/board.log")"
    (unset DISPLAY && exits 4 'cannot reach the board' "vornackle.com --submit to no board" \
        wine "$dir/vornackle.com" --submit "$dir/quit.vnr" --board http://127.0.0.1:1 --initials ABC)
    # The game asks before it starts; Esc on the story ends it, recorded.
    # Wine's desktop, started above with no display, goes first.
    wineserver -k 2>/dev/null || true
    SCREEN_SIZE=1024x768x24 start_xvfb
    launch() { (cd "$dir" && exec wine "$dir/vornackle.exe" "$@" >"$dir/game.txt" 2>&1) & }
    start_game 640x480 --window --board "http://127.0.0.1:$port" --record board.vnr
    quit "vornackle.exe --board"
    tr -d '\r' <"$dir/game.txt" | grep -q 'a challenge from http://127.0.0.1:[0-9]*: the counter starts at 4000000000' &&
        grep -q '^POST /challenges 0 bytes' "$dir/board.log" && [[ -s "$dir/board.vnr" ]] ||
        fail "vornackle.exe --board: $(cat "$dir/game.txt" "$dir/board.log")"
    echo "test-windows: --submit reaches a board through WinHTTP; --board starts from its challenge"
    kill "$HELPER_PIDS" 2>/dev/null || true
    HELPER_PIDS=
}

# --- desktop: vornackle.exe on a 1024 x 768 screen, from a folder named
# outside the ANSI code page (it finds its sheet there), started from
# another: its command line, then the window driver of test-lib.sh, the story
# the Linux build's pixel for pixel.
run_desktop() {
    export WINEPREFIX=$PREFIXES/wine-prefix-desktop
    SCREEN_SIZE=1024x768x24 start_xvfb
    make_prefix
    prepare_references
    local run_dir="$SHOTS/Łukasz" appdata
    mkdir -p "$run_dir"
    cp "$windows_build/vornackle.exe" "$SHEET" "$run_dir/"
    appdata=$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
    [[ -n "$appdata" ]] || fail "no %APPDATA% in the prefix"
    SETTINGS=$(winepath -u "$appdata\\vornackle\\settings.txt" 2>/dev/null)
    rm -f "$SETTINGS"
    check_command_line wine "$run_dir/vornackle.exe"

    if [[ -x "$linux_build/vornackle" ]]; then
        launch() { XDG_CONFIG_HOME=$SHOTS/linux-config SDL_AUDIODRIVER=dummy "$linux_build/vornackle" "$@" & }
        start_game 640x480 --window
        wait_for_window linux-story 30 check_story
        quit "the Linux build"
        STORY_REFERENCE=$SHOTS/linux-story.png
    fi
    launch() { start_elsewhere wine "$run_dir/vornackle.exe" "$@"; }
    play_in_window vornackle.exe
    keeps_settings vornackle.exe
}

# --- classic: vornackle-classic.exe on the real Win32/DirectDraw, played
# through.
run_classic() {
    # Wine can switch to 640 x 480 x 8 only inside its own virtual desktop of
    # that size; Xvfb has no mode switching of its own. The GDI renderer needs
    # no OpenGL.
    export WINEPREFIX=$PREFIXES/wine-prefix
    SCREEN_SIZE=640x480x24 start_xvfb
    make_prefix Explorer Desktop Default 'Explorer\Desktops' Default 640x480 Direct3D renderer gdi
    prepare_references
    # The game reads its sheet by bare name, which OpenFile looks for in the
    # program's folder first: lay the two out as the Windows zip does, and
    # start the program from another folder.
    mkdir -p "$SHOTS/classic"
    cp "$windows_build/vornackle-classic.exe" "$SHEET" "$SHOTS/classic/"
    start_elsewhere timeout 180 wine "$SHOTS/classic/vornackle-classic.exe"
    play_through
}

for part in $PARTS; do
    "run_$part"
    [[ -n "${WINEPREFIX:-}" ]] && wineserver -k 2>/dev/null || true
    stop_xvfb
done
echo "test-windows: $PARTS: passed"
