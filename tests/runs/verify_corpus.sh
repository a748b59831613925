#!/usr/bin/env bash
# Every run of the corpus through the real program: `COMMAND... --verify FILE`
# prints MANIFEST's lines for it (the picture rate cut to its count), says
# nothing on stderr and exits 0. Every .vnr of the folder is in MANIFEST and
# at most 20 KB.
#
# Usage: verify_corpus.sh RUNS_DIR COMMAND...   (e.g. build/vornackle, or
# wine build-windows/vornackle.com); RUNS_ONLY="a.vnr b.vnr" asks only those.
set -uo pipefail
dir=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One file of expected lines per run.
awk -v out="$work" '/^run / { f = out "/" $2 ".want"; printf "" > f }
                    /^\| / { print substr($0, 3) > f }' "$dir/MANIFEST"

failed=0 count=0
# A verification keeps no settings, not even for a file it refuses (a board
# verifies strangers' files); only the Linux program's home is its HOME.
if [[ $(basename "$1") == vornackle ]]; then
    mkdir "$work/home" && printf 'not a run' >"$work/home/bad.vnr"
    status=0
    HOME="$work/home" XDG_CONFIG_HOME="" "$@" --verify "$work/home/bad.vnr" 2>/dev/null || status=$?
    kept=$(find "$work/home" -name settings.txt)
    ((status == 2)) && [[ -z $kept ]] ||
        { echo "verify_corpus: a refused file: exit $status, settings kept: ${kept:-none}" >&2; failed=1; }
fi
for want in "$work"/*.want; do
    name=$(basename "$want" .want)
    [[ -z "${RUNS_ONLY:-}" || " $RUNS_ONLY " == *" $name "* ]] || continue
    status=0
    "$@" --verify "$dir/$name" >"$work/out" 2>"$work/err" </dev/null || status=$?
    tr -d '\r' <"$work/out" | sed '$ s/ in .*//' >"$work/got"
    if ((status != 0)) || [[ -s "$work/err" ]] || ! cmp -s "$want" "$work/got"; then
        echo "verify_corpus: $name: exit $status, or other lines:" >&2
        diff "$want" "$work/got" >&2
        tr -d '\r' <"$work/err" >&2
        failed=1
    fi
    count=$((count + 1))
done
for run in "$dir"/*.vnr; do
    name=$(basename "$run")
    [[ -f "$work/$name.want" ]] || { echo "verify_corpus: $name is not in MANIFEST" >&2; failed=1; }
    (($(stat -c %s "$run") <= 20480)) || { echo "verify_corpus: $name is over 20 KB" >&2; failed=1; }
done
((count >= 30)) || [[ -n "${RUNS_ONLY:-}" ]] || { echo "verify_corpus: only $count runs in MANIFEST" >&2; failed=1; }
((failed == 0)) && echo "verify_corpus: $count runs verify with their lines: $*"
exit $failed
