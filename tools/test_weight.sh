#!/usr/bin/env bash
# Prints the weight of the test suite in each language and in all: non-blank
# lines of the tests against those of the code, and the ratio of the two.
# Counts the files git tracks, as they are in the working tree.
#
# Tests: any file under a folder named test, tests or fuzz, and the scripts
# that check a build (scripts/test-*, scripts/check-*, packaging/test-*,
# packaging/check-*). Code: every other file of ours, bench/ aside. The
# corpora themselves (runs, fuzz inputs) are data, not source, and so are not
# counted; the files that test them are.
# Languages: C++ (.c, .cc, .cpp, .h, .hpp), Python (.py), shell (.sh and the
# files named run, such as .ci/run), JavaScript (.js), CMake (CMakeLists.txt,
# .cmake).
set -euo pipefail
cd "$(git rev-parse --show-toplevel)"

SOURCE='(\.(c|cc|cpp|h|hpp|py|sh|js|cmake)|CMakeLists\.txt|/run)$'
TESTS='(^|/)(tests?|fuzz)/|(^|/)(scripts|packaging)/(test|check)-'
BENCH='(^|/)bench(marks?)?/'

language() {  # sets lang (no subshell: hundreds of files)
    case "$1" in
        *.py) lang=Python ;;
        *.sh | */run) lang=shell ;;
        *.js) lang=JavaScript ;;
        *CMakeLists.txt | *.cmake) lang=CMake ;;
        *) lang=C++ ;;
    esac
}

declare -A count
while IFS= read -r file; do
    [[ -f "$file" && "$file" =~ $SOURCE ]] || continue
    if [[ "$file" =~ $TESTS ]]; then
        side=tests
    elif [[ "$file" =~ $BENCH ]]; then
        continue
    else
        side=code
    fi
    language "/$file"
    n=$(grep -cv '^[[:space:]]*$' -- "$file" || true)
    count[$lang/$side]=$((${count[$lang/$side]:-0} + n))
    count[all/$side]=$((${count[all/$side]:-0} + n))
done < <(git --no-optional-locks ls-files)

printf '%-11s %7s %7s %6s\n' language tests code ratio
for lang in C++ Python shell JavaScript CMake all; do
    t=${count[$lang/tests]:-0} c=${count[$lang/code]:-0}
    awk -v l="$lang" -v t="$t" -v c="$c" \
        'BEGIN { printf "%-11s %7d %7d %6s\n", l, t, c, c ? sprintf("%.2f", t / c) : "-" }'
done
