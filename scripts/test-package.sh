#!/usr/bin/env bash
# Checks the Debian package that `make package` built as Debian would: its
# control fields and contents, lintian with no error or warning, the AppStream
# metadata, the manual page, the desktop entry, and that the program from the
# package is on a player's PATH and plays from the story to Esc, drawn from
# the packaged sprite sheet.
#
# Usage: scripts/test-package.sh BUILD_DIR
set -euo pipefail

build=$(realpath "${1:-build}")
root=$(cd "$(dirname "$0")/.." && pwd)
CHECK=test-package
source "$root/scripts/test-lib.sh"
shopt -s nullglob
debs=("$build"/vornackle_*.deb)
((${#debs[@]} == 1)) || fail "expected one vornackle_*.deb in $build, found ${#debs[@]}"
deb=${debs[0]}
failures=0

expect() {  # expect WHAT COMMAND...: counts a failure instead of stopping
    local what=$1
    shift
    if "$@"; then
        echo "  ok   $what"
    else
        echo "  FAIL $what"
        failures=$((failures + 1))
    fi
}

field() { dpkg-deb --field "$deb" "$1"; }
depends_on() { grep -qE "(^|, )$1( |,|\$)" <<<"$(field Depends)"; }
no_error_or_warning() { ! grep -qE '^[EW]: ' <<<"$1"; }

echo "test-package: $deb"
dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
echo "$contents" | sed 's/^/  /'

for row in Package=vornackle Version=1.0.0 Architecture=amd64 Section=games \
    "Maintainer=Vornackle Team <team@vornackle.invalid>"; do
    expect "${row%%=*}: ${row#*=}" test "$(field "${row%%=*}")" = "${row#*=}"
done
expect "long description" test "$(field Description | wc -l)" -ge 3
for dep in libsdl2-2.0-0 libc6 libstdc\\+\\+6; do
    expect "depends on ${dep//\\/}" depends_on "$dep"
done
# The text is drawn from glyphs inside the program: no font library or file.
for dep in libsdl2-ttf-2.0-0 fonts-dejavu-core; do
    expect "does not depend on $dep" bash -c "! grep -q '$dep' <<<'$(field Depends)'"
done
# (What it holds is used below, or is test-install's list from the same rules.)
expect "nothing in /usr/bin" test -z "$(grep '^\./usr/bin/.' <<<"$contents")"

# Debian's own checker: errors and warnings fail, info tags are shown.
lintian_out=$(lintian --info --fail-on error,warning "$deb" 2>&1 | grep -v '^running with root' || true)
[[ -z "$lintian_out" ]] || echo "$lintian_out" | sed 's/^/  /'
expect "lintian: no error or warning" no_error_or_warning "$lintian_out"

unpacked=$SHOTS/unpacked
dpkg-deb --extract "$deb" "$unpacked"
usr=$unpacked/usr
program=$usr/games/vornackle

expect "program is executable" test -x "$program"
expect "program is stripped" bash -c "file '$program' | grep -q ', stripped'"
zcat "$usr/share/doc/vornackle/changelog.gz" >"$SHOTS/changelog"
expect "changelog's version is the package's" \
    test "$(dpkg-parsechangelog -l "$SHOTS/changelog" -S Version)" = "$(field Version)"
expect "copyright covers the font" grep -q '^License: bitstream-vera' \
    "$usr/share/doc/vornackle/copyright"

metainfo=$usr/share/metainfo/invalid.vornackle.vornackle.metainfo.xml
validation=$(appstreamcli validate --no-net "$metainfo" 2>&1) || true
echo "$validation" | sed 's/^/  /'
expect "AppStream metadata: valid" grep -q 'Validation was successful' <<<"$validation"
expect "AppStream metadata: no error or warning" no_error_or_warning "$validation"
expect "AppStream launches vornackle.desktop" \
    grep -q '<launchable type="desktop-id">vornackle.desktop</launchable>' "$metainfo"

desktop=$usr/share/applications/vornackle.desktop
expect "desktop entry validates" desktop-file-validate "$desktop"
expect "desktop entry starts vornackle" grep -qx 'Exec=vornackle' "$desktop"

page=$usr/share/man/man6/vornackle.6.gz
zcat "$page" >"$SHOTS/vornackle.6"
man_warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null || echo "man failed")
[[ -z "$man_warnings" ]] || echo "$man_warnings" | sed 's/^/  /'
expect "manual page renders without a warning" test -z "$man_warnings"
expect "manual page has the version" grep -q "\"vornackle $(field Version)\"" "$SHOTS/vornackle.6"

# A player's PATH (Debian's /etc/login.defs and /etc/profile give users
# /usr/games), inside the unpacked tree.
player_path=
for dir in /usr/local/bin /usr/bin /bin /usr/local/games /usr/games; do
    player_path+=${player_path:+:}$unpacked$dir
done
expect "vornackle on a player's PATH" test "$(PATH=$player_path command -v vornackle)" = "$program"

# Started by name from a folder holding nothing of the game, as the desktop
# entry starts it, and played from the packaged sprite sheet.
SHEET=$usr/share/vornackle/playersprite.bmp
PICTURE_TOOL=$build/vn_sheet_picture
start_xvfb
prepare_references
start_elsewhere env "PATH=$player_path:$PATH" timeout 120 vornackle
play_through

if ((failures > 0)); then
    echo "test-package: $failures check(s) failed" >&2
    exit 1
fi
echo "test-package: passed"
