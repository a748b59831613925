#!/usr/bin/env bash
# Installs the Linux build into a throw-away prefix and plays the installed
# copy through a symbolic link, from an unrelated folder, in a private X
# server: it must find its sprite sheet under the prefix and go from the
# story to play and out on Esc with 0. Then the install manifest must remove
# everything it put there.
#
# Usage: scripts/test-install.sh BUILD_DIR
set -euo pipefail

build=$(realpath "${1:-build}")
root=$(cd "$(dirname "$0")/.." && pwd)
CHECK=test-install KEEP_SHOTS=$build/screenshots-install
source "$root/scripts/test-lib.sh"
SHEET=$root/assets/playersprite.bmp
PICTURE_TOOL=$build/vn_sheet_picture
prefix="$SHOTS/prefix/opt/vornackle"

cmake --install "$build" --prefix "$prefix" >"$SHOTS/install.log"
for file in bin/vornackle share/vornackle/playersprite.bmp share/applications/vornackle.desktop \
    share/icons/hicolor/96x96/apps/vornackle.png share/icons/hicolor/192x192/apps/vornackle.png \
    share/doc/vornackle/FONT-LICENSE share/doc/vornackle/copyright share/doc/vornackle/changelog.gz \
    share/man/man6/vornackle.6.gz share/metainfo/invalid.vornackle.vornackle.metainfo.xml; do
    [[ -f "$prefix/$file" ]] || fail "$file was not installed"
done

start_xvfb
prepare_references
ln -s "$prefix/bin/vornackle" "$SHOTS/vornackle-link"
start_elsewhere timeout 120 "$SHOTS/vornackle-link"
play_through

xargs rm -f <"$build/install_manifest.txt"
left=$(find "$prefix" -type f)
[[ -z "$left" ]] || fail "left after removing the manifest's files: $left"
echo "test-install: passed"
