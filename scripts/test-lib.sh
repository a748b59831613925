# Shared by the screenshot checks: a private X server, keys, screenshots and
# pixel tests. Sourced, not run. Needs Xvfb, xdotool and ImageMagick.
#
# The X server is 640 x 480 x 24, the game's own size, so a screenshot of the
# root window is the game's picture pixel for pixel (SCREEN_SIZE sets
# another).

SHOTS=${SHOTS:-$(mktemp -d)}
XVFB_PID=

# Starts Xvfb on the first free display (it picks the number itself) and
# exports DISPLAY.
start_xvfb() {
    local fifo="$SHOTS/displayfd"
    rm -f "$fifo"
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${SCREEN_SIZE:-640x480x24}" -nolisten tcp 3>"$fifo" >"$SHOTS/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local number
    if ! read -r -t 30 number <"$fifo"; then
        echo "screen: Xvfb did not start" >&2
        cat "$SHOTS/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=":$number"
}

stop_xvfb() {
    if [[ -n "$XVFB_PID" ]]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    fi
}

# Holds a key long enough for a game that polls it once per picture.
press() {
    xdotool keydown "$1"
    sleep 0.25
    xdotool keyup "$1"
}

shot() {
    import -window root "$SHOTS/$1.png"
}

# The palette entry INDEX of a sprite sheet as "r,g,b" (the table stores
# blue, green, red, reserved).
sheet_colour() {
    local -a bgr
    read -r -a bgr < <(od -An -tu1 -j $((54 + $2 * 4)) -N3 "$1")
    echo "${bgr[2]},${bgr[1]},${bgr[0]}"
}

# Number of pixels of colour "r,g,b" in the region WxH+X+Y of screenshot NAME.
count_colour() {
    convert "$SHOTS/$1.png" -crop "$2" +repage -fill black +opaque "rgb($3)" \
        -fill white -opaque "rgb($3)" -format '%[fx:round(mean*w*h)]' info:
}

# Number of pixels in the region WxH+X+Y of screenshot NAME that differ from
# the picture REFERENCE (same size).
count_different() {
    convert "$SHOTS/$1.png" -crop "$2" +repage -depth 8 "$SHOTS/crop.ppm"
    compare -metric AE "$SHOTS/crop.ppm" "$3" null: 2>&1 || true
}

# Takes screenshot NAME every half second (with SHOT, default `shot`) until
# CHECK NAME succeeds, for at most SECONDS; the check's last complaint is
# shown when time runs out.
wait_for() {
    local name=$1 seconds=$2 check=$3 take=${4:-shot} deadline
    deadline=$((SECONDS + seconds))
    while ((SECONDS < deadline)); do
        "$take" "$name"
        if "$check" "$name" >"$SHOTS/check.log" 2>&1; then
            return 0
        fi
        sleep 0.5
    done
    echo "screen: '$name' not seen within ${seconds}s: $(cat "$SHOTS/check.log")" >&2
    return 1
}

# --- the game's screens ------------------------------------------------------
# Set SHEET (the sprite sheet the game reads) and PICTURE_TOOL (the Linux
# build's vn_sheet_picture) before calling prepare_references.

WHITE=255,255,255
JEWEL_COLOURS=(255,0,0 0,255,0 0,0,255 255,165,0 255,255,0 205,0,205 255,255,255)

prepare_references() {
    "$PICTURE_TOOL" frame "$SHEET" 0 "$SHOTS/frame0.ppm"
    "$PICTURE_TOOL" frame "$SHEET" 1 "$SHOTS/frame1.ppm"
    HEADING=$(sheet_colour "$SHEET" 127)
}

# Story: the white story rows, and basket frame 0 at (400, 320) exactly as the
# sheet has it.
check_story() {
    local white diff
    white=$(count_colour "$1" 560x190+50+80 "$WHITE")
    diff=$(count_different "$1" 71x79+400+320 "$SHOTS/frame0.ppm")
    echo "story: $white white text pixels, $diff basket pixels differ"
    ((white > 500 && diff == 0))
}

# Title: the heading in colour 127 and basket frame 1 at (270, 304).
check_title() {
    local heading diff
    heading=$(count_colour "$1" 200x16+220+144 "$HEADING")
    diff=$(count_different "$1" 71x79+270+304 "$SHOTS/frame1.ppm")
    echo "title: $heading heading pixels in rgb($HEADING), $diff basket pixels differ"
    ((heading > 20 && diff == 0))
}

# Briefing: the title's basket is gone and the kinds' lines are drawn in
# their jewel colours at x = 200.
check_briefing() {
    local diff coloured=0 colour
    diff=$(count_different "$1" 71x79+270+304 "$SHOTS/frame1.ppm")
    for colour in "${JEWEL_COLOURS[@]}"; do
        coloured=$((coloured + $(count_colour "$1" 440x300+200+0 "$colour")))
    done
    echo "briefing: $coloured jewel-coloured text pixels, title basket differs by $diff"
    ((coloured > 100 && diff > 0))
}

# Playing: both head-up lines (y 448 and 464) in colour 127 and jewels of the
# jewel colours falling above the basket line.
check_playing() {
    local hud1 hud2 jewels=0 colour
    hud1=$(count_colour "$1" 632x16+8+448 "$HEADING")
    hud2=$(count_colour "$1" 632x16+8+464 "$HEADING")
    for colour in "${JEWEL_COLOURS[@]}"; do
        jewels=$((jewels + $(count_colour "$1" 640x340+0+0 "$colour")))
    done
    echo "playing: head-up lines $hud1 and $hud2 pixels, $jewels jewel pixels"
    ((hud1 > 50 && hud2 > 50 && jewels >= 121))
}

# Drives a started game from the story to play and out with Esc. GAME_PID is
# the process to wait for; its exit code must be 0.
play_through() {
    local pid=$1
    wait_for story 60 check_story
    press Return
    wait_for title 15 check_title
    press space
    wait_for briefing 15 check_briefing
    press Return
    wait_for playing 20 check_playing
    press Escape
    local status=0 deadline=$((SECONDS + 20))
    while kill -0 "$pid" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.2; done
    if kill -0 "$pid" 2>/dev/null; then
        echo "screen: the game is still running 20s after Esc" >&2
        return 1
    fi
    wait "$pid" || status=$?
    if ((status != 0)); then
        echo "screen: the game exited with $status after Esc" >&2
        return 1
    fi
    echo "screen: story, title, briefing and play shown; Esc ended the game with 0"
}

# --- a program's own window on a larger screen -------------------------------
# GAME_PID is the program's process, `window` its window (the inside it draws
# into) and `fail` says what went wrong and stops.
CPU_LIMIT=${CPU_LIMIT:-5}  # per cent of one core, on any screen

fail() {
    echo "screen: $*" >&2
    exit 1
}

# Waits for GAME_PID to end after Esc (20 s at most) and requires 0; LABEL
# begins what is said when it does not.
wait_exit() {
    local status=0 deadline=$((SECONDS + 20))
    while kill -0 "$GAME_PID" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.2; done
    kill -0 "$GAME_PID" 2>/dev/null && fail "$1: still running 20 s after Esc"
    wait "$GAME_PID" || status=$?
    GAME_PID=
    ((status == 0)) || fail "$1: exited with $status after Esc"
}

# A program may make its X window anew (SDL does when it picks a renderer),
# and a window being switched is unmapped for a moment: the last one seen
# mapped is kept.
game_window() { xdotool search --onlyvisible --pid "$GAME_PID" 2>/dev/null | tail -1 || true; }
# Waits SECONDS for GAME_PID's first window into $window; fails saying WHAT
# did not show one.
await_window() {
    local deadline=$((SECONDS + $1)) what=$2
    window=
    until [[ -n "$window" ]]; do
        ((SECONDS < deadline)) || fail "$what: no window appeared"
        sleep 0.2
        window=$(game_window)
    done
}
refresh_window() {
    local seen
    seen=$(game_window)
    if [[ -n "$seen" ]]; then window=$seen; fi
}
window_size() {
    xdotool getwindowgeometry "$window" 2>/dev/null | sed -n 's/ *Geometry: //p' || true
}
wait_size() {
    local want=$1 deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)); do
        refresh_window
        [[ $(window_size) == "$want" ]] && return 0
        sleep 0.2
    done
    fail "the window is $(window_size), not $want"
}
# The window's own picture, and the whole screen.
window_shot() {
    refresh_window
    # (import with no window waits for a click on one)
    [[ -n "$window" ]] || return 0
    import -window "$window" "$SHOTS/$1.png" 2>/dev/null || true
}

# Per cent of one core the game used over three seconds (all its threads).
# Processor time, not time on the clock: a loaded machine gives a program
# less of it, never more, so the limit holds whatever runs beside it.
cpu_ticks() {
    local total=0 stat fields
    for stat in /proc/"$GAME_PID"/task/*/stat; do
        read -r -a fields < <(sed 's/.*) //' "$stat")
        total=$((total + fields[11] + fields[12]))
    done
    echo "$total"
}
check_cpu() {
    local before after percent
    before=$(cpu_ticks)
    sleep 3
    after=$(cpu_ticks)
    percent=$(((after - before) * 100 / 3 / $(getconf CLK_TCK)))
    echo "screen: $1: $percent % of a core"
    ((percent < CPU_LIMIT)) || fail "$1 used $percent % of a core (limit $CPU_LIMIT %)"
}

# RMSE (0 to 1) between screenshot NAME's full screen and picture REFERENCE.
difference() {
    { compare -metric RMSE "$SHOTS/$1.png" "$2" null: 2>&1 || true; } | sed 's/.*(\(.*\))/\1/'
}

# Fails unless screenshot NAME, the whole 1024 x 768 screen, comes to show
# the 1:1 picture ORIGINAL scaled sharp within 10 s: nearer a 2x
# nearest-neighbour enlargement brought down with filtering than to plain
# nearest-neighbour, and near it. LABEL begins the line said.
check_sharp() {
    local name=$1 original=$2
    SHARP_LABEL=$3
    convert "$original" -filter point -resize 200% -filter triangle -resize 1024x768 \
        "$SHOTS/sharp.png"
    convert "$original" -filter point -resize 1024x768 "$SHOTS/nearest.png"
    wait_for "$name" 10 is_sharp || fail "the full-screen picture is not scaled sharp"
    cat "$SHOTS/check.log"
}
is_sharp() {
    local sharp nearest
    sharp=$(difference "$1" "$SHOTS/sharp.png")
    nearest=$(difference "$1" "$SHOTS/nearest.png")
    echo "$SHARP_LABEL: full screen differs from sharp by $sharp, from nearest by $nearest"
    awk -v s="$sharp" -v n="$nearest" 'BEGIN { exit !(s < n && s < 0.05) }'
}

# As wait_for, with screenshots of the window alone (the picture at 1:1).
wait_for_window() {
    wait_for "$1" "$2" "$3" window_shot || fail "'$1' not seen in the window"
}

