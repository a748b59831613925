#!/usr/bin/env bash
# Installs the Linux build into a throw-away prefix and plays the installed
# copy from an unrelated folder in a private X server: it must find its
# sprite sheet under the prefix, show the story screen with the basket, go
# through the title, briefing and play screens, and end on Esc with 0. Then the install manifest must remove everything it put there.
#
# Usage: scripts/test-install.sh BUILD_DIR
set -euo pipefail

build=$(realpath "${1:-build}")
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/test-lib.sh"

SHEET=$root/assets/playersprite.bmp
PICTURE_TOOL=$build/vn_sheet_picture
prefix="$SHOTS/prefix/opt/vornackle"
elsewhere="$SHOTS/elsewhere"
mkdir -p "$elsewhere"

game_pid=
cleanup() {
    local status=$?
    if [[ -n "$game_pid" ]] && kill -0 "$game_pid" 2>/dev/null; then
        kill "$game_pid" 2>/dev/null || true
    fi
    stop_xvfb
    if ((status != 0)); then
        mkdir -p "$build/screenshots-install"
        cp "$SHOTS"/*.png "$build/screenshots-install/" 2>/dev/null || true
        echo "test-install: FAILED; screenshots in $build/screenshots-install" >&2
    fi
    rm -rf "$SHOTS"
}
trap cleanup EXIT

cmake --install "$build" --prefix "$prefix" >"$SHOTS/install.log"
for file in bin/vornackle share/vornackle/playersprite.bmp share/applications/vornackle.desktop \
    share/icons/hicolor/96x96/apps/vornackle.png share/icons/hicolor/192x192/apps/vornackle.png \
    share/doc/vornackle/FONT-LICENSE share/doc/vornackle/copyright share/doc/vornackle/changelog.gz \
    share/man/man6/vornackle.6.gz share/metainfo/invalid.vornackle.vornackle.metainfo.xml; do
    if [[ ! -f "$prefix/$file" ]]; then
        echo "test-install: $file was not installed" >&2
        exit 1
    fi
done

start_xvfb
prepare_references
# Started through a symbolic link from a folder holding nothing of the game,
# as a menu entry or a PATH lookup would.
ln -s "$prefix/bin/vornackle" "$elsewhere/vornackle-link"
(cd "$elsewhere" && exec timeout 120 ./vornackle-link) &
game_pid=$!
play_through "$game_pid"
game_pid=

# Uninstalling by the manifest leaves no file behind.
xargs rm -f <"$build/install_manifest.txt"
left=$(find "$prefix" -type f | wc -l)
if ((left != 0)); then
    echo "test-install: $left file(s) left after removing the manifest's files" >&2
    find "$prefix" -type f >&2
    exit 1
fi
echo "test-install: passed"
