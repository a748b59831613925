# Shared by the checks that play the game on a screen (sourced): a private X
# server, keys, screenshots, pixel tests and one driver of the game's window.
# The X server is 640 x 480 x 24, the game's own size, so a screenshot of the
# root window is the game's picture pixel for pixel (SCREEN_SIZE sets
# another). At exit the game, HELPER_PIDS, Wine and the X server are stopped;
# a failed check keeps its screenshots in KEEP_SHOTS, if set.

SHOTS=${SHOTS:-$(mktemp -d)}
CHECK=${CHECK:-screen}
XVFB_PID= GAME_PID= HELPER_PIDS=
mkdir -p "$SHOTS"

finish() {
    local status=$? pid
    for pid in $GAME_PID $HELPER_PIDS; do kill "$pid" 2>/dev/null || true; done
    [[ -n "${WINEPREFIX:-}" ]] && wineserver -k 2>/dev/null || true
    stop_xvfb
    if ((status != 0)) && [[ -n "${KEEP_SHOTS:-}" ]]; then
        mkdir -p "$KEEP_SHOTS"
        cp "$SHOTS"/*.png "$KEEP_SHOTS/" 2>/dev/null || true
        echo "$CHECK: FAILED; screenshots in $KEEP_SHOTS" >&2
    fi
    rm -rf "$SHOTS"
}
trap finish EXIT

fail() {
    echo "$CHECK: $*" >&2
    exit 1
}

# Runs COMMAND (WHAT) with its stderr in $SHOTS/error.txt and requires exit
# STATUS and the pattern SAYS on stderr.
exits() {
    local want=$1 says=$2 what=$3 status=0
    shift 3
    "$@" 2>"$SHOTS/error.txt" || status=$?
    ((status == want)) || fail "$what exited $status, not $want"
    grep -q -- "$says" "$SHOTS/error.txt" || fail "$what did not say '$says': $(cat "$SHOTS/error.txt")"
}

# Xvfb on the first free display (it picks the number itself) as DISPLAY.
# -noreset: by default the server resets whenever its last client leaves
# (each xdotool, a game that quit), and drops any client whose connection
# came in meanwhile; a game started then found "no display".
start_xvfb() {
    rm -f "$SHOTS/display"
    Xvfb -displayfd 3 -screen 0 "${SCREEN_SIZE:-640x480x24}" -nolisten tcp -noreset 3>"$SHOTS/display" >"$SHOTS/xvfb.log" 2>&1 &
    XVFB_PID=$!
    within 30 grep -q '^[0-9]*$' "$SHOTS/display" || fail "Xvfb did not start: $(cat "$SHOTS/xvfb.log")"
    export DISPLAY=":$(cat "$SHOTS/display")"
}

stop_xvfb() {
    [[ -z "$XVFB_PID" ]] && return 0
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
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

# Runs COMMAND every fifth of a second until it succeeds, for SECONDS at most.
within() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

# Takes screenshot NAME (with SHOT, default `shot`) until CHECK NAME succeeds,
# for at most SECONDS; the check's last complaint is shown when time runs out.
wait_for() {
    within "$2" shot_passes "$1" "$3" "${4:-shot}" && return 0
    echo "$CHECK: '$1' not seen within $2 s: $(cat "$SHOTS/check.log")" >&2
    return 1
}
shot_passes() {
    "$3" "$1"
    "$2" "$1" >"$SHOTS/check.log" 2>&1
}

# --- the game's screens ------------------------------------------------------
# Set SHEET (the sprite sheet the game reads) and PICTURE_TOOL (the Linux
# build's vn_sheet_picture) before calling prepare_references.

WHITE=255,255,255
JEWEL_COLOURS=(255,0,0 0,255,0 0,0,255 255,165,0 255,255,0 205,0,205 255,255,255)

# HEADING is the sheet's palette entry 127 as "r,g,b" (the table stores blue,
# green, red, reserved).
prepare_references() {
    local -a bgr
    "$PICTURE_TOOL" frame "$SHEET" 0 "$SHOTS/frame0.ppm"
    "$PICTURE_TOOL" frame "$SHEET" 1 "$SHOTS/frame1.ppm"
    read -r -a bgr < <(od -An -tu1 -j $((54 + 127 * 4)) -N3 "$SHEET")
    HEADING=${bgr[2]},${bgr[1]},${bgr[0]}
}
# Pixels of the jewel colours in the region WxH+X+Y of screenshot NAME.
jewel_pixels() {
    local colour count=0
    for colour in "${JEWEL_COLOURS[@]}"; do count=$((count + $(count_colour "$1" "$2" "$colour"))); done
    echo "$count"
}

# Screenshot NAME has over MIN pixels of COLOUR in REGION (the text) and the
# sheet's basket FRAME at PLACE exactly.
text_and_basket() {
    local text diff
    text=$(count_colour "$1" "$2" "$3")
    diff=$(count_different "$1" "$5" "$SHOTS/$6.ppm")
    echo "$text text pixels in rgb($3), $diff basket pixels differ"
    ((text > $4 && diff == 0))
}
# Story: the white story rows, and basket frame 0 at (400, 320).
check_story() { text_and_basket "$1" 560x190+50+80 "$WHITE" 500 71x79+400+320 frame0; }
# Title: the heading in colour 127 and basket frame 1 at (270, 304).
check_title() { text_and_basket "$1" 200x16+220+144 "$HEADING" 20 71x79+270+304 frame1; }

# Briefing: the title's basket is gone and the kinds' lines are drawn in
# their jewel colours at x = 200.
check_briefing() {
    local diff coloured
    diff=$(count_different "$1" 71x79+270+304 "$SHOTS/frame1.ppm")
    coloured=$(jewel_pixels "$1" 440x300+200+0)
    echo "briefing: $coloured jewel-coloured text pixels, title basket differs by $diff"
    ((coloured > 100 && diff > 0))
}

# Playing: both head-up lines (y 448 and 464) in colour 127 and jewels of the
# jewel colours falling above the basket line.
check_playing() {
    local hud1 hud2 jewels
    hud1=$(count_colour "$1" 632x16+8+448 "$HEADING")
    hud2=$(count_colour "$1" 632x16+8+464 "$HEADING")
    jewels=$(jewel_pixels "$1" 640x340+0+0)
    echo "playing: head-up lines $hud1 and $hud2 pixels, $jewels jewel pixels"
    ((hud1 > 50 && hud2 > 50 && jewels >= 121))
}

# Starts COMMAND as GAME_PID from a folder holding nothing of the game, as a
# menu entry or a PATH lookup would.
start_elsewhere() {
    mkdir -p "$SHOTS/elsewhere"
    (cd "$SHOTS/elsewhere" && exec "$@") &
    GAME_PID=$!
}

# Drives the game on the root window from the story to play and out with Esc.
SCREENS=(story title briefing playing) KEYS=("" Return space Return)
play_through() {
    local i
    for i in 0 1 2 3; do
        [[ -z ${KEYS[i]} ]] || press "${KEYS[i]}"
        wait_for "${SCREENS[i]}" 60 "check_${SCREENS[i]}" || fail "no ${SCREENS[i]} after '${KEYS[i]}'"
    done
    quit "the game"
    echo "$CHECK: story, title, briefing and play shown; Esc ended the game with 0"
}

# Presses Esc, then waits for GAME_PID to end (20 s at most) and requires 0;
# LABEL begins what is said when it does not.
quit() {
    local status=0
    press Escape
    within 20 gone "$GAME_PID" || fail "$1: still running 20 s after Esc"
    wait "$GAME_PID" || status=$?
    GAME_PID=
    ((status == 0)) || fail "$1: exited with $status after Esc"
}

# --- a program's own window on a larger screen -------------------------------
# The script defines `launch ARGS...`, which starts its program in the
# background, and SETTINGS, the program's file. `window` is its window.
# Per cent of one core, on any screen. The fault it catches is a wait that
# does not wait: the game waits by spinning on the tick counter, and a
# stand-in that spun with it would take all of a core it is given. At rest
# the program takes 1 to 3 % here, but more on a loaded machine (3 to 5 %
# under Wine at load 15: its switches and misses cost more), so the limit
# leaves room for that rather than fail by chance.
CPU_LIMIT=${CPU_LIMIT:-20}

# --help names --window and --scale=nearest, --version says the version,
# and an unknown option is one line on stderr and exit 2; RUN... is the program.
check_command_line() {
    "$@" --help >"$SHOTS/help.txt" 2>/dev/null || fail "--help did not exit 0"
    grep -q -- '--window' "$SHOTS/help.txt" && grep -q -- '--scale=nearest' "$SHOTS/help.txt" ||
        fail "--help does not list --window and --scale=nearest"
    "$@" --version 2>/dev/null | tr -d '\r' | grep -Eq '^vornackle [0-9]+\.[0-9]+\.[0-9]+$' ||
        fail "--version does not say the version"
    exits 2 "unknown option '--no-such-option'" "an unknown option" "$@" --no-such-option
    [[ $(wc -l <"$SHOTS/error.txt") == 1 ]] || fail "an unknown option's error is not one line"
    echo "$CHECK: --help, --version and an unknown option answer as they should"
}

# A program may make its X window anew (SDL does when it picks a renderer),
# and a window being switched is unmapped for a moment: the last one seen
# mapped is kept.
game_window() { xdotool search --onlyvisible --pid "$GAME_PID" 2>/dev/null | tail -1 || true; }
refresh_window() {
    local seen
    seen=$(game_window) && [[ -z "$seen" ]] || window=$seen
}
# Waits SECONDS for GAME_PID's first window into $window; fails saying WHAT
# did not show one.
await_window() {
    window=
    within "$1" size_is "?*" || fail "$2: no window appeared"
}
gone() { ! kill -0 "$1" 2>/dev/null; }
# The window is there and its size matches the pattern WxH.
size_is() {
    refresh_window
    [[ -n "$window" && $(window_size) == $1 ]]
}
window_size() {
    xdotool getwindowgeometry "$window" 2>/dev/null | sed -n 's/ *Geometry: //p' || true
}
window_place() {
    xdotool getwindowgeometry "$window" | sed -n 's/ *Position: \([0-9-]*,[0-9-]*\).*/\1/p'
}
wait_size() {
    within 10 size_is "$1" || fail "the window is $(window_size), not $1"
}
# The window's own picture (import with no window waits for a click on one).
window_shot() {
    refresh_window
    [[ -n "$window" ]] || return 0
    import -window "$window" "$SHOTS/$1.png" 2>/dev/null || true
}
# As wait_for, with the window's own picture (the game's at 1:1).
wait_for_window() {
    wait_for "$1" "$2" "$3" window_shot || fail "'$1' not seen in the window"
}

# Launches the program with ARGS, waits for its window of SIZE and gives it
# the keyboard (no window manager gives it otherwise).
start_game() {
    local size=$1
    shift
    launch "$@"
    GAME_PID=$!
    await_window 60 "the program with '$*'"
    xdotool windowfocus "$window" 2>/dev/null || true
    wait_size "$size"
}
switch() {
    if [[ $1 == F11 ]]; then press F11; else xdotool keydown alt key Return keyup alt; fi
    wait_size "$2"
}

# Per cent of one core the game used over three seconds (all its threads).
# Processor time, not time on the clock: a loaded machine gives a spinning
# program less of it, and one at rest only a little more.
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
    echo "$CHECK: $1: $percent % of a core"
    ((percent < CPU_LIMIT)) || fail "$1 used $percent % of a core (limit $CPU_LIMIT %)"
}

# RMSE (0 to 1) between screenshot NAME's full screen and picture REFERENCE.
difference() {
    { compare -metric RMSE "$SHOTS/$1.png" "$2" null: 2>&1 || true; } | sed 's/.*(\(.*\))/\1/'
}
# Screenshot NAME, the whole 1024 x 768 screen, shows the window's story
# scaled sharp: near its 2x nearest-neighbour enlargement brought down with
# filtering, and nearer that than plain nearest-neighbour.
is_sharp() {
    local sharp nearest
    sharp=$(difference "$1" "$SHOTS/sharp.png")
    nearest=$(difference "$1" "$SHOTS/nearest.png")
    echo "the full screen differs from sharp by $sharp, from nearest by $nearest"
    awk -v s="$sharp" -v n="$nearest" 'BEGIN { exit !(s < n && s < 0.05) }'
}

# The game as a player switches it: the story in a 640 x 480 window (the
# picture STORY_REFERENCE, if set, pixel for pixel), then full screen, sharp;
# each screen in the window and full screen, switched with F11 and Alt+Enter
# both ways, at the cost of under CPU_LIMIT (the briefing's key pressed full
# screen); the window is kept in the settings, at PLACE. Esc ends it with 0.
play_in_window() {
    local label=$1 i on=(F11 Alt+Enter F11 Alt+Enter) off=(Alt+Enter F11 F11 Alt+Enter)
    start_game 640x480 --window
    for i in 0 1 2 3; do
        [[ -z ${KEYS[i]} ]] || ((i == 2)) || press "${KEYS[i]}"
        wait_for_window "${SCREENS[i]}" 30 "check_${SCREENS[i]}"
        if ((i == 0)); then
            # Its prompt blinks: the same picture comes within a few turns.
            [[ -z ${STORY_REFERENCE:-} ]] || wait_for_window story-same 30 same_as_reference
            convert "$SHOTS/story.png" -filter point -resize 200% -filter triangle -resize 1024x768 \
                "$SHOTS/sharp.png"
            convert "$SHOTS/story.png" -filter point -resize 1024x768 "$SHOTS/nearest.png"
        fi
        check_cpu "$label: ${SCREENS[i]} in a window"
        switch "${on[i]}" 1024x768
        ((i > 0)) || wait_for story-full 10 is_sharp || fail "$label: the full-screen story is not sharp"
        check_cpu "$label: ${SCREENS[i]} full screen"
        ((i != 1)) || press "${KEYS[2]}"
        switch "${off[i]}" 640x480
    done
    wait_for_window playing-again 10 check_playing
    [[ -z ${WINDOW_SHOT:-} ]] || import -window root "$WINDOW_SHOT"
    PLACE=$(window_place)
    quit "$label"
    grep -qx 'window=1' "$SETTINGS" || fail "$label: the window was not kept in $SETTINGS"
    echo "$CHECK: $label: every screen in a window and full screen, both keys both ways, Esc ends with 0"
}
same_as_reference() {
    local differ
    differ=$(compare -metric AE "$SHOTS/$1.png" "$STORY_REFERENCE" null: 2>&1 || true)
    echo "the story differs from $STORY_REFERENCE in $differ pixels"
    [[ "$differ" == 0 ]]
}

# Started with no settings, or damaged ones (read as none): the whole screen,
# the story sharp as the window showed it; Alt+Enter makes it a window there.
starts_full() {
    start_game 1024x768
    wait_for story-started-full 10 is_sharp || fail "$1: started full screen, the story is not sharp"
    switch Alt+Enter 640x480
    wait_for_window story 10 check_story
    quit "$1"
    echo "$CHECK: $1: started full screen, sharp; Alt+Enter made it a window"
}

# After play_in_window: the next start is a window again at PLACE, the one
# after full screen as that left it; a window placed where no screen is
# comes back on it.
keeps_settings() {
    local label=$1 place x y
    start_game 640x480
    [[ $(window_place) == "$PLACE" ]] || fail "$label: the window came back at $(window_place), not $PLACE"
    wait_for_window story-kept 30 check_story
    switch Alt+Enter 1024x768
    quit "$label"
    start_game 1024x768
    quit "$label"
    printf 'version=1\nwindow=1\nwindow_x=-4000\nwindow_y=3000\nwindow_width=640\nwindow_height=480\n' \
        >"$SETTINGS"
    start_game 640x480
    place=$(window_place)
    x=${place%,*} y=${place#*,}
    ((x >= 0 && y >= 0 && x + 640 <= 1024 && y + 480 <= 768)) ||
        fail "$label: a window placed off the screen stayed at $place"
    quit "$label"
    echo "$CHECK: $label: the mode and place kept across runs; one off the screen came back at $place"
    printf 'version=1\nwindow=maybe\n' >"$SETTINGS"
    starts_full "$label: a damaged file"
    rm -f "$SETTINGS"
    starts_full "$label: no settings"
}
