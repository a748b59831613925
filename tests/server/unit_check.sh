#!/usr/bin/env bash
# The board's systemd unit as systemd reads it: every line known, a sandbox that
# `systemd-analyze security` rates 1.5 or better ("OK"; 1.0 when written), and
# every option its ExecStart gives one the program takes.
#
# Usage: tests/server/unit_check.sh BUILD/vornackle-board
set -euo pipefail

board=$(realpath "$1")
unit_in=$(dirname "$0")/../../packaging/vornackle-board.service.in
folder=$(mktemp -d "${TMPDIR:-/tmp}/vn-unit.XXXXXX")
trap 'rm -rf "$folder"' EXIT
sed 's|@BINDIR@|/usr/bin|g' "$unit_in" \
    >"$folder/vornackle-board.service"

cd "$folder"
if ! systemd-analyze security --offline=yes --threshold=15 vornackle-board.service \
    >report 2>warnings; then
    grep -v '^✓' report >&2 || true
    echo "unit_check: the unit's sandbox rates worse than 1.5" >&2
    exit 1
fi
if [[ -s warnings ]]; then
    cat warnings >&2
    echo "unit_check: systemd does not take every line of the unit" >&2
    exit 1
fi
help=$("$board" --help)
for option in $(grep '^ExecStart=' vornackle-board.service | grep -o -- ' --[a-z-]*'); do
    if ! grep -q -- "  $option " <<<"$help"; then
        echo "unit_check: vornackle-board takes no $option (ExecStart)" >&2
        exit 1
    fi
done
echo "unit_check: $(grep -o 'Overall exposure level.*' report)"
