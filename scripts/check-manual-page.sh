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

# One "option NAME" or "key NAME" line per name.
from_help() {
    awk '
        /^[^ ]/ { section = "" }
        /^Options:$/ { section = "option"; next }
        /^Keys:$/ { section = "key"; next }
        section == "option" && /^  -/ {
            split(substr($0, 3), parts, /   */)  # first column: up to two spaces
            n = split(parts[1], words, /[ ,|]+/)
            for (i = 1; i <= n; i++) if (words[i] ~ /^-/) print "option " words[i]
        }
        section == "key" && /^  [^ ]/ {
            line = substr($0, 3)
            # Names are single words joined by ", "; the description follows
            # the last name after one space or more.
            while (match(line, /^[^ ,]+, /)) {
                print "key " substr(line, 1, RLENGTH - 2)
                line = substr(line, RLENGTH + 1)
            }
            match(line, /^[^ ,]+/)
            print "key " substr(line, 1, RLENGTH)
        }
    ' <<<"$help" | sort -u
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
            if (section == "option") {
                n = split(line, words, /[ ,|]+/)
                for (i = 1; i <= n; i++) if (words[i] ~ /^-/) print "option " words[i]
            } else {
                n = split(line, names, /, */)
                for (i = 1; i <= n; i++) print "key " names[i]
            }
        }
        { tag = 0 }
    ' "$page" | sort -u
}

help_names=$(from_help)
page_names=$(from_page)
if [[ -z "$help_names" || -z "$page_names" ]]; then
    echo "check-manual-page: no options or keys found (help: $(wc -l <<<"$help_names")," \
        "page: $(wc -l <<<"$page_names")); has either text changed its layout?" >&2
    exit 1
fi

only_help=$(comm -23 <(echo "$help_names") <(echo "$page_names"))
only_page=$(comm -13 <(echo "$help_names") <(echo "$page_names"))
if [[ -n "$only_help" || -n "$only_page" ]]; then
    while read -r kind name; do
        [[ -n "$kind" ]] && echo "check-manual-page: the $kind $name is in --help but not in $page" >&2
    done <<<"$only_help"
    while read -r kind name; do
        [[ -n "$kind" ]] && echo "check-manual-page: the $kind $name is in $page but not in --help" >&2
    done <<<"$only_page"
    exit 1
fi
echo "check-manual-page: $(grep -c '^option' <<<"$help_names") options and" \
    "$(grep -c '^key' <<<"$help_names") keys, the same in --help and the manual page"
