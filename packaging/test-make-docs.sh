#!/usr/bin/env bash
# The changelog that packaging/make-docs.sh writes, on a throw-away history
# with tags: one entry per version tag holding the commits since the tag
# before, newest first, and the version being built running to the last
# commit (a tag of that same version folded into it). Debian's own parser
# must read it. Run by ctest.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/src/packaging" "$work/src/platform/core"
cp "$root"/packaging/{vornackle.6,vornackle.metainfo.xml,copyright.in} "$work/src/packaging/"
cp "$root/platform/core/GLYPH_FONT_LICENSE" "$work/src/platform/core/"
commit() {
    echo "$1" >>"$work/src/history"
    git -C "$work/src" add -A
    GIT_COMMITTER_DATE="$2" git -C "$work/src" -c user.name=t -c user.email=t@t.invalid \
        commit -q --date "$2" -m "$1"
}
git -C "$work/src" init -q
commit "First light" "2025-03-01T10:00:00Z"
git -C "$work/src" tag v0.9.0
commit "A second change whose subject is long enough that the changelog has to wrap it over two lines" \
    "2025-06-01T10:00:00Z"
git -C "$work/src" tag v1.0.0
commit "Third" "2026-01-02T10:00:00Z"

failures=0
bad() {
    echo "make-docs: $*" >&2
    failures=$((failures + 1))
}
check() {  # check VERSION EXPECTED: the parsed entries (version, its item count)
    "$root/packaging/make-docs.sh" "$work/src" "$work/out" "$1" https://x.invalid "T <t@t.invalid>"
    zcat "$work/out/changelog.gz" >"$work/changelog"
    local got
    got=$(dpkg-parsechangelog -l "$work/changelog" --all --format rfc822 | awk '
        /^Version:/ { if (v) print v, n; v = $2; n = 0 }
        /^   \* / { n++ }
        END { print v, n }' | paste -sd' ')
    [[ "$got" == "$2" ]] || bad "building $1, entries '$got', expected '$2': $(cat "$work/changelog")"
    awk 'length > 80 { exit 1 }' "$work/changelog" || bad "a changelog line is longer than 80 columns"
}
# Built as 1.0.0: the v1.0.0 tag folds into the entry running to "Third".
check 1.0.0 "1.0.0 2 0.9.0 1"
# Built as 1.1.0: every tag has its own entry.
check 1.1.0 "1.1.0 1 1.0.0 1 0.9.0 1"
grep -q '^Copyright: 2025-2026 Vornackle Team$' "$work/out/copyright" ||
    bad "the copyright's years are not the first and newest commits'"
((failures == 0)) && echo "make-docs: changelog entries and copyright years as the history says"
