#!/usr/bin/env bash
# The manual page and `vornackle --help` must name the same options and keys:
# the help text is put together in the program (the core and each backend),
# the page is written by hand, and this is what keeps them in step. Prints
# each option or key that one has and the other lacks, and fails if any.
#
# Usage: scripts/check-manual-page.sh PROGRAM MANUAL_PAGE
#
# Help: under "Options:", each line that starts "  -" names options (the
# words of its first column that start with "-": "--record FILE" is
# --record); under "Keys:", each line that starts with two spaces and a
# name lists keys, comma-separated, before its description. Page: the tag
# line under each .TP in the OPTIONS and KEYS sections, read the same way.
set -euo pipefail

program=${1:?usage: check-manual-page.sh PROGRAM MANUAL_PAGE}
page=${2:?usage: check-manual-page.sh PROGRAM MANUAL_PAGE}

help=$("$program" --help) || {
    echo "check-manual-page: '$program --help' failed" >&2
    exit 1
}

# Each text's tag lines as "option TEXT" (the words that start with "-"
# name options) or "key TEXT" (key names joined by ", ").
from_help() {
    awk '
        /^[^ ]/ { section = "" }
        /^Options:$/ { section = "option"; next }
        /^Keys:$/ { section = "key"; next }
        section == "option" && /^  -/ {
            split(substr($0, 3), parts, /   */)  # first column: up to two spaces
            print "option " parts[1]
        }
        # The description follows the last name after one space or more.
        section == "key" && match($0, /^  ([^ ,]+, )*[^ ,]+/) { print "key " substr($0, 3, RLENGTH - 2) }
    ' <<<"$help"
}
from_page() {
    awk '
        /^\.SH / { section = ($2 == "OPTIONS") ? "option" : ($2 == "KEYS") ? "key" : ""; next }
        /^\.TP/ { tag = 1; next }
        tag && section != "" {
            tag = 0
            line = $0
            sub(/^\.[A-Z]+ */, "", line)        # the font macro (.B, .BR, .BI)
            gsub(/\\f[BIRP]/, "", line)         # inline font changes
            gsub(/\\-/, "-", line)
            gsub(/"/, "", line)
            print section " " line
        }
        { tag = 0 }
    ' "$page"
}
# One "option NAME" or "key NAME" line per name.
names() {
    awk '{
        kind = $1
        sub(/^[a-z]+ /, "")
        n = split($0, words, kind == "option" ? "[ ,|]+" : ", *")
        for (i = 1; i <= n; i++) if (kind == "key" || words[i] ~ /^-/) print kind " " words[i]
    }' | sort -u
}

help_names=$(from_help | names)
page_names=$(from_page | names)
if [[ -z "$help_names" || -z "$page_names" ]]; then
    echo "check-manual-page: no options or keys found (help: $(wc -l <<<"$help_names")," \
        "page: $(wc -l <<<"$page_names")); has either text changed its layout?" >&2
    exit 1
fi

# comm -3: names only in --help in the first column, only in the page after a tab.
comm -3 <(echo "$help_names") <(echo "$page_names") | awk -F'\t' -v page="$page" '
    $1 != "" { print "check-manual-page: the " $1 " is in --help but not in " page }
    $1 == "" { print "check-manual-page: the " $2 " is in " page " but not in --help" }
    END { exit NR > 0 }' >&2
echo "check-manual-page: $(grep -c '^option' <<<"$help_names") options and" \
    "$(grep -c '^key' <<<"$help_names") keys, the same in --help and the manual page"
