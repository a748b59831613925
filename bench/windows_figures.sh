#!/usr/bin/env bash
# Figures of docs/PERFORMANCE.md under Wine (make windows-figures), never a
# check: CPU per screen of both programs, start-up to the first picture, and
# the pacing of play frames, side by side in one run.
#
# Usage: bench/windows_figures.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR (as
# scripts/test-windows.sh, whose Wine prefixes and helpers it runs with).
set -euo pipefail

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
    quit classic
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
    quit core
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

PARTS=figures
source "$(dirname "$0")/../scripts/test-windows.sh"
