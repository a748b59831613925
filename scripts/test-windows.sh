#!/usr/bin/env bash
# The Windows build under Wine, each part in a private X server:
#   suites: the core's test programs, cross-built (the platform, the game with
#      its golden recordings, the settings file): the same suites and the
#      same checksums as on Linux;
#   console: vornackle.com verifies the run corpus with and without a display,
#      says what is wrong with a bad file and hands the rest to vornackle.exe;
#   board: vornackle.com --submit sends a run to a scripted board on loopback
#      through WinHTTP and sets %ERRORLEVEL%; vornackle.exe --board asks for a
#      challenge before its game;
#   desktop: vornackle.exe on a 1024 x 768 screen: its command line; --window's
#      story is the Linux build's pixel for pixel; Alt+Enter and F11 switch,
#      drawn sharp; every screen costs under 5 % of a core; the settings are
#      kept, and a window on a monitor that is gone comes back on the screen;
#   classic: vornackle-classic.exe on the real Win32/DirectDraw: each screen
#      after the right keys, the basket frames as the sheet has them, Esc 0.
#
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
source "$root/scripts/test-lib.sh"
mkdir -p "$SHOTS"

SHEET=${VORNACKLE_SHEET:-$root/assets/playersprite.bmp}
PICTURE_TOOL=$linux_build/vn_sheet_picture
PREFIXES=${VORNACKLE_WINEPREFIX:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/vornackle}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
PARTS=${PARTS:-suites console board desktop classic}

GAME_PID=
cleanup() {
    local status=$?
    if [[ -n "$GAME_PID" ]] && kill -0 "$GAME_PID" 2>/dev/null; then
        kill "$GAME_PID" 2>/dev/null || true
    fi
    [[ -n "${BOARD_PID:-}" ]] && kill "$BOARD_PID" 2>/dev/null || true
    [[ -n "${WINEPREFIX:-}" ]] && wineserver -k 2>/dev/null || true
    stop_xvfb
    if ((status != 0)); then
        mkdir -p "$windows_build/screenshots"
        cp "$SHOTS"/*.png "$windows_build/screenshots/" 2>/dev/null || true
        echo "test-windows: FAILED; screenshots in $windows_build/screenshots" >&2
    fi
    rm -rf "$SHOTS"
}
trap cleanup EXIT
fail() {
    echo "test-windows: $*" >&2
    exit 1
}
# Runs COMMAND with its stderr in $SHOTS/error.txt and requires exit STATUS.
exits() {
    local want=$1 what=$2 status=0
    shift 2
    "$@" 2>"$SHOTS/error.txt" || status=$?
    ((status == want)) || fail "$what exited $status, not $want"
}

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

# --- 1. the core's suites ----------------------------------------------------
run_suites() {
    local suites=() suite started
    mapfile -t suites < <(find "$windows_build/tests" -name '*_tests.exe' 2>/dev/null | sort)
    if ((${#suites[@]} == 0)); then
        fail "no test programs in $windows_build/tests (make test-windows builds them)"
    fi
    # The Win32 backend's suite opens real windows.
    SCREEN_SIZE=1024x768x24 start_xvfb
    for suite in "${suites[@]}"; do
        started=$SECONDS
        # Run from the build folder on Wine's Z: drive, where the tests' own
        # absolute paths (the golden recordings, the assets) lead.
        (cd "$(dirname "$suite")" && wine "$suite" --gtest_brief=1) >"$SHOTS/suite.log" 2>&1 || {
            cat "$SHOTS/suite.log" >&2
            fail "$(basename "$suite") failed under Wine"
        }
        echo "test-windows: $(basename "$suite"): $(grep -E '^\[  PASSED  \]' "$SHOTS/suite.log")" \
            "in $((SECONDS - started)) s"
    done
    stop_xvfb
}

# --- console: vornackle.com and verification with no display ------------------
# vornackle.com answers in the console: every run of the corpus (recorded on
# Linux, Windows and the page) verifies with MANIFEST's lines and exit 0 with
# no X display at all, as does vornackle.exe; a bad file is said on stderr
# with exit 2; a command line it does not verify itself goes to vornackle.exe,
# whose answer and exit code come back.
run_console() {
    export WINEPREFIX=$PREFIXES/wine-prefix-desktop
    make_prefix
    local dir=$SHOTS/console some="linux-wrap.vnr win-bot-full.vnr web-marks.vnr keys-win-moves.vnr"
    mkdir -p "$dir"
    cp "$windows_build/vornackle.com" "$windows_build/vornackle.exe" "$SHEET" "$dir/"
    unset DISPLAY
    "$root/tests/runs/verify_corpus.sh" "$root/tests/runs" wine "$dir/vornackle.com" ||
        fail "vornackle.com --verify with no display: a corpus run did not verify"
    RUNS_ONLY=$some "$root/tests/runs/verify_corpus.sh" "$root/tests/runs" wine "$dir/vornackle.exe" ||
        fail "vornackle.exe --verify with no display: a run did not verify"
    exits 2 "vornackle.com --verify of a missing file" wine "$dir/vornackle.com" --verify "$dir/none.vnr"
    grep -q 'none.vnr cannot be opened' "$SHOTS/error.txt" || fail "vornackle.com: no complaint for a missing file"
    exits 2 "vornackle.com --no-such-option (vornackle.exe's)" wine "$dir/vornackle.com" --no-such-option
    grep -q "unknown option '--no-such-option'" "$SHOTS/error.txt" ||
        fail "vornackle.exe's complaint did not reach vornackle.com's console: $(cat "$SHOTS/error.txt")"
    # Typed in cmd as `vornackle`: its lines there and %ERRORLEVEL% set.
    printf '@echo off\r\nvornackle --verify %%1\r\necho errorlevel=%%ERRORLEVEL%%\r\n' >"$dir/check.bat"
    cp "$root/tests/runs/web-quit-l1.vnr" "$dir/quit.vnr"
    (cd "$dir" && wine cmd /c check.bat quit.vnr; wine cmd /c check.bat none.vnr) 2>&1 | tr -d '\r' >"$dir/cmd.txt" || true
    grep -q '^fastest total: none' "$dir/cmd.txt" && grep -q '^errorlevel=0' "$dir/cmd.txt" &&
        grep -q '^errorlevel=2' "$dir/cmd.txt" && grep -q 'none.vnr cannot be opened' "$dir/cmd.txt" ||
        fail "'vornackle --verify' typed in cmd: $(cat "$dir/cmd.txt")"
    echo "test-windows: vornackle.com verifies the corpus with no display, says what is wrong," \
        "hands the rest to vornackle.exe; vornackle.exe verifies with no display"
    start_xvfb
    RUNS_ONLY=$some "$root/tests/runs/verify_corpus.sh" "$root/tests/runs" wine "$dir/vornackle.com" ||
        fail "vornackle.com --verify with a display: a run did not verify"
    echo "test-windows: and the same with a display"
    wineserver -k 2>/dev/null || true
    stop_xvfb
}

# --- a hall of fame through WinHTTP --------------------------------------------
# vornackle.com --submit sends a run to a scripted board on loopback and says
# where it landed, in cmd with %ERRORLEVEL%; a board that is not there is
# exit 4; vornackle.exe --board asks for a challenge before its game.
BOARD_PID=
run_board() {
    export WINEPREFIX=$PREFIXES/wine-prefix-desktop
    make_prefix
    local dir=$SHOTS/board status=0 port
    mkdir -p "$dir"
    cp "$windows_build/vornackle.com" "$windows_build/vornackle.exe" "$SHEET" "$dir/"
    cp "$root/tests/runs/web-quit-l1.vnr" "$dir/quit.vnr"
    timeout 300 python3 "$root/tests/platform/scripted_board.py" "$dir/port" "$dir/board.log" &
    BOARD_PID=$!
    for _ in $(seq 100); do [[ -s "$dir/port" ]] && break; sleep 0.2; done
    port=$(cat "$dir/port") || fail "the scripted board did not start"
    printf '@echo off\r\nvornackle --submit %%1 --board http://127.0.0.1:%%2/ --initials abc\r\necho errorlevel=%%ERRORLEVEL%%\r\n' \
        >"$dir/submit.bat"
    (cd "$dir" && unset DISPLAY && wine cmd /c submit.bat quit.vnr "$port") 2>&1 | tr -d '\r' >"$dir/submit.txt" || true
    grep -q 'run 1 is verified: total 122 s, rank 1 of 1 on the live board' "$dir/submit.txt" &&
        grep -q '^errorlevel=0' "$dir/submit.txt" && grep -q '^POST /runs?initials=ABC [1-9]' "$dir/board.log" ||
        fail "'vornackle --submit' typed in cmd: $(cat "$dir/submit.txt" "$dir/board.log")"
    (unset DISPLAY && wine "$dir/vornackle.com" --submit "$dir/quit.vnr" --board http://127.0.0.1:1 \
        --initials ABC) 2>"$dir/err.txt" || status=$?
    ((status == 4)) && grep -q 'cannot reach the board' "$dir/err.txt" ||
        fail "vornackle.com --submit to no board exited $status: $(cat "$dir/err.txt")"
    # The game asks before it starts; Esc on the story ends it, recorded.
    # Wine's desktop, started above with no display, goes first.
    wineserver -k 2>/dev/null || true
    SCREEN_SIZE=1024x768x24 start_xvfb
    (cd "$dir" && exec wine "$dir/vornackle.exe" --window --board "http://127.0.0.1:$port" \
        --record board.vnr >"$dir/game.txt" 2>&1) &
    GAME_PID=$!
    await_window 60 "vornackle.exe --board"
    xdotool windowfocus "$window" 2>/dev/null || true
    press Escape
    wait_exit "vornackle.exe --board"
    tr -d '\r' <"$dir/game.txt" | grep -q 'a challenge from http://127.0.0.1:[0-9]*: the counter starts at 4000000000' &&
        grep -q '^POST /challenges 0 bytes' "$dir/board.log" && [[ -s "$dir/board.vnr" ]] ||
        fail "vornackle.exe --board: $(cat "$dir/game.txt" "$dir/board.log")"
    echo "test-windows: vornackle.com --submit reaches a board through WinHTTP and sets %ERRORLEVEL%;" \
        "vornackle.exe --board starts from its challenge"
    kill "$BOARD_PID" 2>/dev/null || true
    BOARD_PID=
    wineserver -k 2>/dev/null || true
    stop_xvfb
}

# --- 2. vornackle.exe ----------------------------------------------------------
# Starts the program (and Wine's processes for it, if they are not up) with
# ARGS and waits for its window of SIZE; GAME_PID is the program itself.
start_core() {
    local size=$1
    shift
    (cd "$SHOTS/elsewhere" && exec wine "$run_dir/vornackle.exe" "$@") &
    GAME_PID=$!
    await_window 60 "vornackle.exe $*"
    # Without a window manager the keyboard's focus is not given to it.
    xdotool windowfocus "$window" 2>/dev/null || true
    wait_size "$size"
}
# Alt+Enter, and the window's size after it.
alt_enter() {
    xdotool keydown alt key Return keyup alt
    wait_size "$1"
}
quit() {
    press Escape
    wait_exit "$1"
}

same_as_linux() {
    local differ
    differ=$(compare -metric AE "$SHOTS/$1.png" "$SHOTS/linux-story.png" null: 2>&1 || true)
    echo "the story differs from the Linux build's in $differ pixels"
    [[ "$differ" == 0 ]]
}

# The window's place on the screen, as "X,Y".
window_place() {
    xdotool getwindowgeometry "$window" | sed -n 's/ *Position: \([0-9-]*,[0-9-]*\).*/\1/p'
}

run_desktop() {
    export WINEPREFIX=$PREFIXES/wine-prefix-desktop
    SCREEN_SIZE=1024x768x24 start_xvfb
    make_prefix
    prepare_references
    # A folder named outside the ANSI code page: the program finds its sheet.
    run_dir="$SHOTS/Łukasz"
    mkdir -p "$run_dir" "$SHOTS/elsewhere"
    cp "$windows_build/vornackle.exe" "$SHEET" "$run_dir/"
    local appdata settings
    appdata=$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
    settings=$(winepath -u "$appdata\\vornackle\\settings.txt" 2>/dev/null)
    [[ -n "$settings" ]] || fail "no %APPDATA% in the prefix"
    rm -f "$settings"

    # The command line, answered where it was asked (the output redirected).
    local exe=$run_dir/vornackle.exe
    wine "$exe" --help >"$SHOTS/help.txt" 2>/dev/null || fail "--help did not exit 0"
    grep -q -- '--window' "$SHOTS/help.txt" || fail "--help does not list --window"
    wine "$exe" --version 2>/dev/null | tr -d '\r' | grep -Eq '^vornackle [0-9]+\.[0-9]+\.[0-9]+$' ||
        fail "--version does not say the version"
    exits 2 "an unknown option" wine "$exe" --no-such-option
    [[ $(grep -c . "$SHOTS/error.txt") == 1 ]] || fail "an unknown option's error is not one line"
    echo "test-windows: --help, --version and an unknown option answer as they should"

    # The Linux build's story in a 640 x 480 window, the reference.
    if [[ -x "$linux_build/vornackle" ]]; then
        XDG_CONFIG_HOME=$SHOTS/linux-config SDL_AUDIODRIVER=dummy "$linux_build/vornackle" --window &
        GAME_PID=$!
        await_window 30 "the Linux build"
        wait_size 640x480
        wait_for_window linux-story 30 check_story
        quit "the Linux build"
    fi

    # First run, no settings: --window, every screen, both switches.
    start_core 640x480 --window
    wait_for_window story 30 check_story
    if [[ -f "$SHOTS/linux-story.png" ]]; then
        # Its prompt blinks: the same picture comes within a few turns.
        wait_for_window story-same 30 same_as_linux
        echo "test-windows: the story in a window is the Linux build's, pixel for pixel"
    fi
    check_cpu "story in a window"
    alt_enter 1024x768
    check_sharp story-full "$SHOTS/story.png" test-windows
    check_cpu "story full screen"
    alt_enter 640x480
    local screen keys=(Return space Return) names=(title briefing playing)
    for screen in 0 1 2; do
        press "${keys[screen]}"
        wait_for_window "${names[screen]}" 20 "check_${names[screen]}"
        check_cpu "${names[screen]} in a window"
    done
    press F11
    wait_size 1024x768
    check_cpu "play full screen"
    press F11
    wait_size 640x480
    wait_for_window playing-again 10 check_playing
    local place
    place=$(window_place)
    quit "the first run"
    grep -qx 'window=1' "$settings" || fail "the first run did not keep its window in $settings"
    echo "test-windows: every screen shown, Alt+Enter and F11 switch, Esc ends with 0"

    # Second run, no options: a window again, where it was; the third full
    # screen, as the second left it.
    start_core 640x480
    [[ $(window_place) == "$place" ]] || fail "the window came back at $(window_place), not $place"
    wait_for_window story-kept 30 check_story
    alt_enter 1024x768
    quit "the second run"
    start_core 1024x768
    quit "the third run"
    echo "test-windows: the window's mode and place kept across runs"

    # A window on a monitor that is gone comes back on the screen; a damaged
    # file is read as none.
    printf 'version=1\nwindow=1\nwindow_x=-4000\nwindow_y=3000\nwindow_width=640\nwindow_height=480\n' \
        >"$settings"
    start_core 640x480
    place=$(window_place)
    local x=${place%,*} y=${place#*,}
    ((x >= 0 && y >= 0 && x + 640 <= 1024 && y + 480 <= 768)) ||
        fail "a window placed off the screens stayed at $place"
    quit "the off-screen run"
    printf 'version=1\nwindow=maybe\n' >"$settings"
    start_core 1024x768
    quit "the damaged-file run"
    echo "test-windows: a window off the screens comes back at $place; a damaged file is ignored"
    wineserver -k 2>/dev/null || true
    stop_xvfb
}

# --- 3. vornackle-classic.exe ----------------------------------------------------
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
    local run_dir="$SHOTS/classic"
    mkdir -p "$run_dir" "$SHOTS/elsewhere"
    cp "$windows_build/vornackle-classic.exe" "$SHEET" "$run_dir/"
    (cd "$SHOTS/elsewhere" && exec timeout 180 wine "$run_dir/vornackle-classic.exe") &
    GAME_PID=$!
    play_through "$GAME_PID"
    GAME_PID=
    wineserver -k 2>/dev/null || true
    stop_xvfb
}

for part in $PARTS; do
    "run_$part"
done
echo "test-windows: $PARTS: passed"
