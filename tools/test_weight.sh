#!/usr/bin/env bash
# Prints the weight of the test suite: non-blank C/C++ lines (.cpp, .h) of the
# tests (tests/) and fuzz targets (tools/fuzz/) against those of the rest of
# our code outside tests/, tools/fuzz/ and bench/, and the ratio of the two.
# Counts the files git tracks, as they are in the working tree.
set -euo pipefail
cd "$(git rev-parse --show-toplevel)"

# Non-blank lines of the listed files that exist (one path a line on stdin).
nonblank() {
    local n=0 file
    while IFS= read -r file; do
        [[ -f "$file" ]] && n=$((n + $(grep -cv '^[[:space:]]*$' -- "$file" || true)))
    done
    echo "$n"
}

files=$(git --no-optional-locks ls-files -- '*.cpp' '*.h')
tests=$(grep -E '^(tests|tools/fuzz)/' <<<"$files" | nonblank)
code=$(grep -vE '^(tests|tools/fuzz|bench)/' <<<"$files" | nonblank)

echo "tests and fuzz targets: $tests lines"
echo "code (outside tests/, tools/fuzz/, bench/): $code lines"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "ratio: %.2f (tests / code)\n", c ? t / c : 0 }'
