#!/usr/bin/env bash
# Writes what an install carries besides the program and its data, from what
# the project keeps anyway: the changelog from the git history (one entry per
# version tag, vX.Y.Z, and one for the version being built), the copyright
# years from the first and newest commits, and the manual page and AppStream
# metadata with the version and the newest commit's date filled in. Run by
# `cmake --install` and so by `make install` and `make package`.
#
# Usage: packaging/make-docs.sh SOURCE_DIR OUT_DIR VERSION HOMEPAGE MAINTAINER
#
# Outside a git clone (a source tarball) the changelog has one entry for the
# version, dated SOURCE_DATE_EPOCH or now.
set -euo pipefail
export LC_ALL=C TZ=UTC

src=$1 out=$2 version=$3 homepage=$4 maintainer=$5
mkdir -p "$out"

git_ok() { git -C "$src" rev-parse --verify -q HEAD >/dev/null 2>&1; }

# Subjects of RANGE as changelog items, each wrapped to 78 columns.
items() {
    git -C "$src" log --no-merges --format=%s "$1" |
        while IFS= read -r subject; do
            fold -s -w 74 <<<"$subject" | sed -e 's/ *$//' -e '1s/^/  * /' -e '2,$s/^/    /'
        done
}

# One entry: VERSION, its items (or one saying so), the date of SECONDS.
entry() {
    local body=$2
    [[ -n "$body" ]] || body="  * Version $1."
    printf '%s (%s) unstable; urgency=medium\n\n%s\n\n -- %s  %s\n\n' \
        vornackle "$1" "$body" "$maintainer" "$(date -R -d "@$3")"
}

if git_ok; then
    newest=$(git -C "$src" log -1 --format=%ct HEAD)
    first=$(git -C "$src" log --reverse --format=%ct HEAD | sed -n 1p)
    # Oldest first: each tag's entry holds the commits since the tag before.
    # A tag of the version being built is folded into its entry, which runs
    # to the commit being built.
    entries=()
    previous=
    while read -r tag; do
        [[ -n "$tag" && "${tag#v}" != "$version" ]] || continue
        entries+=("$(entry "${tag#v}" "$(items "${previous:+$previous..}$tag")" \
            "$(git -C "$src" log -1 --format=%ct "$tag")")")
        previous=$tag
    done < <(git -C "$src" tag --list 'v[0-9]*' --merged HEAD --sort=version:refname)
    entries+=("$(entry "$version" "$(items "${previous:+$previous..}HEAD")" "$newest")")
    for ((i = ${#entries[@]} - 1; i >= 0; i--)); do
        printf '%s\n' "${entries[i]}"
        ((i == 0)) || echo
    done >"$out/changelog"
else
    newest=${SOURCE_DATE_EPOCH:-$(date +%s)}
    first=$newest
    entry "$version" "" "$newest" | sed '$d' >"$out/changelog"
fi
gzip -9nf "$out/changelog"

day=$(date -d "@$newest" +%F)
years=$(date -d "@$first" +%Y)
[[ $(date -d "@$newest" +%Y) == "$years" ]] || years="$years-$(date -d "@$newest" +%Y)"

fill() {
    sed -e "s|@VERSION@|$version|g" -e "s|@DATE@|$day|g" -e "s|@HOMEPAGE@|$homepage|g" \
        -e "s|@MAINTAINER@|$maintainer|g" -e "s|@YEARS@|$years|g" "$1"
}

fill "$src/packaging/vornackle.6" | gzip -9n >"$out/vornackle.6.gz"
fill "$src/packaging/vornackle.metainfo.xml" >"$out/invalid.vornackle.vornackle.metainfo.xml"

# The font's paragraphs as its licence file gives them, for the atlas only.
{
    fill "$src/packaging/copyright.in"
    echo
    sed -n '/^Files: \*$/,$p' "$src/platform/core/GLYPH_FONT_LICENSE" |
        sed '1s|.*|Files: platform/core/glyph_atlas.inc|'
} >"$out/copyright"
