#!/usr/bin/env bash
# The program's CPU time on each screen, in a real window in a virtual X
# server: user + system time over SECONDS of the story, title, briefing, play
# and failed-level screens, as a share of one core. The basket stands still
# in play, so the level runs out of time and the failed screen follows.
#
# Usage: bench/cpu_screens.sh PROGRAM [SECONDS]
# Needs xvfb-run and xdotool (make bench installs them).
set -euo pipefail

program=$(realpath "$1")
seconds=${2:-10}

if [[ -z "${CPU_SCREENS_INSIDE:-}" ]]; then
    CPU_SCREENS_INSIDE=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$0" "$program" "$seconds"
fi

hz=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
press() {  # held long enough for a frame's poll to see it
    xdotool keydown "$1"
    sleep 0.25
    xdotool keyup "$1"
}
measure() {
    local before after
    before=$(ticks)
    sleep "$seconds"
    after=$(ticks)
    awk -v name="$1" -v t=$((after - before)) -v hz="$hz" -v s="$seconds" \
        'BEGIN { printf "cpu %-9s %5.1f %% of a core over %s s\n", name, 100 * t / hz / s, s }'
}

cd "$(dirname "$program")"
"$program" 2>/dev/null &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
sleep 1.5
measure story
press Return
sleep 0.5
measure title
press space
sleep 0.5
measure briefing
press Return
started=$(date +%s)
sleep 0.5
measure play
# A level lasts 30 s; the failed screen is up shortly after.
sleep $((started + 32 - $(date +%s)))
measure failed
press Escape
wait $pid
