#!/usr/bin/env bash
# Checks the Debian package that `make package` built: its control fields,
# that it carries the program, the sprite sheet, the font's licence, the desktop entry
# and the icons, and that it declares the runtime libraries it needs.
#
# Usage: scripts/test-package.sh BUILD_DIR
set -euo pipefail

build=${1:-build}
shopt -s nullglob
debs=("$build"/vornackle_*.deb)
if [[ ${#debs[@]} -ne 1 ]]; then
    echo "test-package: expected one vornackle_*.deb in $build, found ${#debs[@]}" >&2
    exit 1
fi
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
has_file() { grep -qE "^\./usr/$1\$" <<<"$contents"; }
depends_on() { grep -qE "(^|, )$1( |,|\$)" <<<"$(field Depends)"; }

echo "test-package: $deb"
dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
echo "$contents" | sed 's/^/  /'

expect "package name" test "$(field Package)" = vornackle
expect "version 1.0.0" test "$(field Version)" = 1.0.0
expect "architecture" test "$(field Architecture)" = amd64
expect "maintainer" test "$(field Maintainer)" = "Vornackle Team <team@vornackle.invalid>"
expect "section games" test "$(field Section)" = games
expect "long description" test "$(field Description | wc -l)" -ge 3
for dep in libsdl2-2.0-0 libc6 libstdc\\+\\+6; do
    expect "depends on ${dep//\\/}" depends_on "$dep"
done
# The text is drawn from glyphs inside the program: no font library or file.
for dep in libsdl2-ttf-2.0-0 fonts-dejavu-core; do
    expect "does not depend on $dep" bash -c "! grep -q '$dep' <<<'$(field Depends)'"
done
expect "program" has_file bin/vornackle
expect "sprite sheet" has_file share/vornackle/playersprite.bmp
expect "font licence" has_file share/doc/vornackle/FONT-LICENSE
expect "desktop entry" has_file share/applications/vornackle.desktop
expect "icon 96x96" has_file share/icons/hicolor/96x96/apps/vornackle.png
expect "icon 192x192" has_file share/icons/hicolor/192x192/apps/vornackle.png

# The program inside must be the stripped release build and runnable.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
expect "program is executable" test -x "$unpacked/usr/bin/vornackle"
expect "program is stripped" bash -c "file '$unpacked/usr/bin/vornackle' | grep -q ', stripped'"
expect "desktop entry starts vornackle" grep -qx 'Exec=vornackle' \
    "$unpacked/usr/share/applications/vornackle.desktop"

if ((failures > 0)); then
    echo "test-package: $failures check(s) failed" >&2
    exit 1
fi
echo "test-package: passed"
