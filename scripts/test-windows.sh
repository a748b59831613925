#!/usr/bin/env bash
# The Windows build under Wine, each part in a private X server:
#   1. the core's test programs, cross-built (the platform, the game with
#      its golden recordings, the settings file): the same suites and the
#      same checksums as on Linux;
#   2. vornackle.exe, the game on the core with the Win32 backend, on a
#      1024 x 768 screen: --help, --version and an unknown option; --window
#      opens a 640 x 480 window whose story is the Linux build's pixel for
#      pixel; Alt+Enter takes the whole screen, drawn sharp, and comes back;
#      every screen is shown and costs under 5 % of a core; the settings are
#      kept across runs, and a window placed on a monitor that is gone comes
#      back on the screen;
#   console: vornackle.com, the console companion: the run corpus verified
#      with and without a display, a bad file, what it hands to vornackle.exe;
#   board: a run sent by vornackle.com to a scripted board on loopback
#      through WinHTTP, and vornackle.exe's challenge from it before the game;
#   3. vornackle-classic.exe, the game on the real Win32/DirectDraw: the
#      story, title, briefing and play screens appear after the right keys,
#      the basket frames match the sprite sheet pixel for pixel (the same
#      references the Linux build is checked against), and Esc ends it with 0.
#
# Usage: scripts/test-windows.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
# WINDOWS_BUILD_DIR holds vornackle.exe, vornackle-classic.exe and, when
# built with tests, their programs under tests/; LINUX_BUILD_DIR the Linux
# vornackle and vn_sheet_picture. The Wine prefixes live outside the
# repository and are reused between runs (VORNACKLE_WINEPREFIX overrides
# where). PARTS (default "suites console board desktop classic") picks parts; PARTS=figures
# prints the figures of docs/PERFORMANCE.md instead (make windows-figures):
# CPU per screen of both programs, start-up to the first picture, and the
# pacing of play frames, side by side in one run.
set -euo pipefail

windows_build=$(realpath "$1")
linux_build=$(realpath "${2:-build}")
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/screen-lib.sh"
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
    local dir=$SHOTS/console status=0
    mkdir -p "$dir"
    cp "$windows_build/vornackle.com" "$windows_build/vornackle.exe" "$SHEET" "$dir/"
    (unset DISPLAY && "$root/tests/runs/verify_corpus.sh" "$root/tests/runs" wine "$dir/vornackle.com") ||
        fail "vornackle.com --verify with no display: a corpus run did not verify"
    local some="linux-wrap.vnr win-bot-full.vnr web-marks.vnr keys-win-moves.vnr"
    (unset DISPLAY && RUNS_ONLY=$some "$root/tests/runs/verify_corpus.sh" "$root/tests/runs" \
        wine "$dir/vornackle.exe") || fail "vornackle.exe --verify with no display: a run did not verify"
    (unset DISPLAY && wine "$dir/vornackle.com" --verify "$dir/none.vnr") 2>"$dir/err.txt" || status=$?
    ((status == 2)) || fail "vornackle.com --verify of a missing file exited $status, not 2"
    grep -q 'none.vnr cannot be opened' "$dir/err.txt" || fail "vornackle.com: no complaint for a missing file"
    status=0
    (unset DISPLAY && wine "$dir/vornackle.com" --no-such-option) 2>"$dir/err.txt" || status=$?
    ((status == 2)) || fail "vornackle.com --no-such-option (vornackle.exe's) exited $status, not 2"
    grep -q "unknown option '--no-such-option'" "$dir/err.txt" ||
        fail "vornackle.exe's complaint did not reach vornackle.com's console: $(cat "$dir/err.txt")"
    # Typed in cmd as `vornackle`: its lines there and %ERRORLEVEL% set.
    printf '@echo off\r\nvornackle --verify %%1\r\necho errorlevel=%%ERRORLEVEL%%\r\n' >"$dir/check.bat"
    cp "$root/tests/runs/web-quit-l1.vnr" "$dir/quit.vnr"
    (cd "$dir" && unset DISPLAY && wine cmd /c check.bat quit.vnr; wine cmd /c check.bat none.vnr) \
        2>&1 | tr -d '\r' >"$dir/cmd.txt" || true
    grep -q '^fastest total: none' "$dir/cmd.txt" && grep -q '^errorlevel=0' "$dir/cmd.txt" &&
        grep -q '^errorlevel=2' "$dir/cmd.txt" && grep -q 'none.vnr cannot be opened' "$dir/cmd.txt" ||
        fail "'vornackle --verify' typed in cmd: $(cat "$dir/cmd.txt")"
    echo "test-windows: vornackle.com verifies the corpus with no display, says what is wrong," \
        "hands the rest to vornackle.exe; vornackle.exe verifies with no display"
    # With a display: the same answer.
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
# ARGS and waits for its window; GAME_PID is the program itself.
start_core() {
    (cd "$SHOTS/elsewhere" && exec wine "$run_dir/vornackle.exe" "$@") &
    GAME_PID=$!
    await_window 60 "vornackle.exe $*"
    # Without a window manager the keyboard's focus is not given to it.
    xdotool windowfocus "$window" 2>/dev/null || true
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
    local exe=$run_dir/vornackle.exe status=0
    wine "$exe" --help >"$SHOTS/help.txt" 2>/dev/null || fail "--help did not exit 0"
    grep -q -- '--window' "$SHOTS/help.txt" || fail "--help does not list --window"
    wine "$exe" --version 2>/dev/null | tr -d '\r' | grep -Eq '^vornackle [0-9]+\.[0-9]+\.[0-9]+$' ||
        fail "--version does not say the version"
    wine "$exe" --no-such-option 2>"$SHOTS/error.txt" || status=$?
    ((status == 2)) || fail "an unknown option exited with $status, not 2"
    [[ $(grep -c . "$SHOTS/error.txt") == 1 ]] || fail "an unknown option's error is not one line"
    echo "test-windows: --help, --version and an unknown option answer as they should"

    # The Linux build's story in a 640 x 480 window, the reference.
    if [[ -x "$linux_build/vornackle" ]]; then
        XDG_CONFIG_HOME=$SHOTS/linux-config SDL_AUDIODRIVER=dummy "$linux_build/vornackle" --window &
        GAME_PID=$!
        await_window 30 "the Linux build"
        wait_size 640x480
        wait_for_window linux-story 30 check_story
        press Escape
        wait_exit "the Linux build"
    fi

    # First run, no settings: --window, every screen, both switches.
    start_core --window
    wait_size 640x480
    wait_for_window story 30 check_story
    if [[ -f "$SHOTS/linux-story.png" ]]; then
        local differ
        differ=$(compare -metric AE "$SHOTS/story.png" "$SHOTS/linux-story.png" null: 2>&1 || true)
        [[ "$differ" == 0 ]] || fail "the story differs from the Linux build's in $differ pixels"
        echo "test-windows: the story in a window is the Linux build's, pixel for pixel"
    fi
    check_cpu "story in a window"
    xdotool keydown alt key Return keyup alt
    wait_size 1024x768
    check_sharp story-full "$SHOTS/story.png" test-windows
    check_cpu "story full screen"
    xdotool keydown alt key Return keyup alt
    wait_size 640x480
    press Return
    wait_for_window title 15 check_title
    check_cpu "title in a window"
    press space
    wait_for_window briefing 15 check_briefing
    check_cpu "briefing in a window"
    press Return
    wait_for_window playing 20 check_playing
    check_cpu "play in a window"
    press F11
    wait_size 1024x768
    check_cpu "play full screen"
    press F11
    wait_size 640x480
    wait_for_window playing-again 10 check_playing
    local place
    place=$(window_place)
    press Escape
    wait_exit "the first run"
    grep -qx 'window=1' "$settings" || fail "the first run did not keep its window in $settings"
    echo "test-windows: every screen shown, Alt+Enter and F11 switch, Esc ends with 0"

    # Second run, no options: a window again, where it was.
    start_core
    wait_size 640x480
    [[ $(window_place) == "$place" ]] || fail "the window came back at $(window_place), not $place"
    wait_for_window story-kept 30 check_story
    xdotool keydown alt key Return keyup alt
    wait_size 1024x768
    press Escape
    wait_exit "the second run"
    # Third run: full screen, as the second left it.
    start_core
    wait_size 1024x768
    press Escape
    wait_exit "the third run"
    echo "test-windows: the window's mode and place kept across runs"

    # A window on a monitor that is gone comes back on the screen; a damaged
    # file is read as none.
    printf 'version=1\nwindow=1\nwindow_x=-4000\nwindow_y=3000\nwindow_width=640\nwindow_height=480\n' \
        >"$settings"
    start_core
    wait_size 640x480
    place=$(window_place)
    local x=${place%,*} y=${place#*,}
    ((x >= 0 && y >= 0 && x + 640 <= 1024 && y + 480 <= 768)) ||
        fail "a window placed off the screens stayed at $place"
    press Escape
    wait_exit "the off-screen run"
    printf 'version=1\nwindow=maybe\n' >"$settings"
    start_core
    wait_size 1024x768
    press Escape
    wait_exit "the damaged-file run"
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

# --- figures -------------------------------------------------------------------
# Seconds (to 0.01) from starting PROGRAM ARGS under Wine to the story on the
# screen, polled as fast as screenshots (taken with TAKE) go, into `startup`;
# leaves the program running as GAME_PID.
time_to_story() {
    local take=$1 started=$EPOCHREALTIME
    shift
    (cd "$SHOTS/elsewhere" && exec wine "$@" >/dev/null 2>&1) &
    GAME_PID=$!
    local deadline=$((SECONDS + 60))
    until "$take" startup && check_story startup >/dev/null 2>&1; do
        ((SECONDS < deadline)) || fail "$1: no story within 60 s"
    done
    startup=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
}

# Per cent of a core over 10 s of each screen, the story first, each seen
# on screenshots taken with TAKE.
screens_cpu() {
    local label=$1 take=$2 screen before after
    local keys=("" Return space Return) names=(story title briefing playing)
    for screen in 0 1 2 3; do
        # Without a window manager the keys go where the pointer and the
        # focus are: on the program's window.
        if [[ -n "${window:-}" ]]; then
            xdotool mousemove --window "$window" 100 100 windowfocus "$window" 2>/dev/null || true
        fi
        if [[ -n "${keys[$screen]}" ]]; then press "${keys[$screen]}"; fi
        wait_for "${names[$screen]}" 20 "check_${names[$screen]}" "$take" ||
            fail "$label: ${names[$screen]} not seen"
        before=$(cpu_ticks)
        sleep 10
        after=$(cpu_ticks)
        echo "figures: $label: ${names[$screen]}: $(((after - before) * 10 / $(getconf CLK_TCK))) % of a core"
    done
}

run_figures() {
    run_classic_figures
    run_core_figures
    echo "figures: load average $(cut -d' ' -f1-3 /proc/loadavg)"
}

# The classic program in its 640 x 480 virtual desktop.
run_classic_figures() {
    local startup window=
    mkdir -p "$SHOTS/elsewhere"
    export WINEPREFIX=$PREFIXES/wine-prefix
    SCREEN_SIZE=640x480x24 start_xvfb
    make_prefix Explorer Desktop Default 'Explorer\Desktops' Default 640x480 Direct3D renderer gdi
    prepare_references
    cp "$windows_build/vornackle-classic.exe" "$SHEET" "$SHOTS/"
    wineboot >/dev/null 2>&1  # Wine's own processes up, as for a second start
    time_to_story shot "$SHOTS/vornackle-classic.exe"
    echo "figures: classic: start-up to the story $startup s"
    screens_cpu classic shot
    press Escape
    wait_exit classic
    wineserver -k 2>/dev/null || true
    stop_xvfb
}

# The program on the core on a 1024 x 768 screen.
run_core_figures() {
    local startup
    mkdir -p "$SHOTS/elsewhere"
    export WINEPREFIX=$PREFIXES/wine-prefix-desktop
    SCREEN_SIZE=1024x768x24 start_xvfb
    make_prefix
    prepare_references
    cp "$windows_build/vornackle.exe" "$SHEET" "$SHOTS/"
    # Wine's own processes up, as for a second start (not wineboot, whose
    # desktop process would keep the keyboard's focus from the window).
    wine "$SHOTS/vornackle.exe" --version >/dev/null 2>&1
    window=
    time_to_story window_shot "$SHOTS/vornackle.exe" --window
    xdotool windowfocus "$window" 2>/dev/null || true
    echo "figures: core: start-up to the story $startup s"
    screens_cpu "core, in a window" window_shot
    press Escape
    wait_exit core
    local probe=$windows_build/bench/vn_bench_probe.exe started
    if [[ -f "$probe" ]]; then
        started=$EPOCHREALTIME
        wine "$probe" first-frame >/dev/null 2>&1
        echo "figures: core: start-up to the first frame (probe, full screen)" \
            "$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }') s"
        wine "$probe" pacing 300 2>/dev/null | tr -d '\r' >"$SHOTS/pacing.txt"
        sort -n "$SHOTS/pacing.txt" | awk '{ a[NR] = $1 } END {
            printf "figures: core: pacing of %d play frames: median %.2f ms, 99th percentile %.2f ms, longest %.2f ms\n",
                NR, a[int((NR + 1) / 2)] / 1000, a[int(NR * 0.99)] / 1000, a[NR] / 1000 }'
    fi
    wineserver -k 2>/dev/null || true
    stop_xvfb
}

for part in $PARTS; do
    "run_$part"
done
echo "test-windows: passed"
