#!/usr/bin/env bash
# Prints the weight of the test suite in each language and in all: non-blank
# lines of the tests against those of the code, and the ratio of the two.
# Counts the files git tracks, as they are in the working tree; bench/ and
# generated data (the glyph atlas) count as neither.
#
# Tests: what checks the program: tests/, the fuzz targets, the scripts that
# check a build (scripts/test-*.sh, check-manual-page.sh, screen-lib.sh,
# fresh-debian-check.sh, fuzz.sh, packaging/test-make-docs.sh). The suite's
# own tools (tools/mutate/, this script, .ci/run) check neither the program
# nor themselves: shown apart, in no ratio. Code: everything else of ours.
# Languages: C++ (.cpp, .h), Python (.py), shell (.sh, .ci/run), JavaScript
# (.js, and the <script> of web/index.html), CMake (CMakeLists.txt, .cmake).
set -euo pipefail
cd "$(git rev-parse --show-toplevel)"

TESTS='^(tests/|tools/fuzz/|scripts/(test-[^/]*|check-manual-page|screen-lib|fresh-debian-check|fuzz)\.sh$|packaging/test-[^/]*$)'
TOOLS='^(tools/mutate/|tools/test_weight\.sh$|\.ci/run$)'

language() {  # sets lang (no subshell: hundreds of files)
    case "$1" in
        *.cpp | *.h) lang=C++ ;;
        *.py) lang=Python ;;
        *.sh | .ci/run) lang=shell ;;
        *.js | *.html) lang=JavaScript ;;
        *CMakeLists.txt | *.cmake) lang=CMake ;;
        *) lang= ;;
    esac
}

# Non-blank lines of files listed one a line (of an HTML file, those of its
# <script>).
nonblank() {
    local file
    while IFS= read -r file; do
        case "$file" in
            *.html) sed -n '/<script>/,/<\/script>/p' -- "$file" | sed '1d;$d' ;;
            *) cat -- "$file" ;;
        esac
    done | grep -cv '^[[:space:]]*$' || true
}

declare -A lists
while IFS= read -r file; do
    [[ -f "$file" && "$file" != bench/* ]] || continue
    language "$file"
    [[ -n "$lang" ]] || continue
    side=code
    if [[ "$file" =~ $TESTS ]]; then side=tests; elif [[ "$file" =~ $TOOLS ]]; then side=tools; fi
    lists[$lang/$side]+="$file"$'\n'
done < <(git --no-optional-locks ls-files)

declare -A count
printf '%-11s %7s %7s %6s %7s\n' language tests code ratio tools
for lang in C++ Python shell JavaScript CMake all; do
    for side in tests code tools; do
        if [[ $lang == all ]]; then
            n=0
            for l in C++ Python shell JavaScript CMake; do n=$((n + ${count[$l/$side]})); done
        else
            n=$(printf '%s' "${lists[$lang/$side]:-}" | nonblank)
        fi
        count[$lang/$side]=$n
    done
    awk -v l="$lang" -v t="${count[$lang/tests]}" -v c="${count[$lang/code]}" -v o="${count[$lang/tools]}" \
        'BEGIN { printf "%-11s %7d %7d %6s %7d\n", l, t, c, c ? sprintf("%.2f", t / c) : "-", o }'
done
