#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS
#        scripts/fuzz.sh --long BUILD_DIR RUNS [FINDINGS_DIR]
# Every executable named fuzz_* in the build gets SECONDS of its own, seeded
# with the real sprite sheet and any files in tests/fuzz_corpus/<name>/ (the
# whole replay's also with every run kept in tests/runs/).
# A crash or leak fails the run and leaves the reproducer in BUILD_DIR/findings;
# inputs that found new code are merged into tests/fuzz_corpus/<name>/.
#
# --long: the whole replay alone for RUNS executions in all (FUZZ_WORKERS
# processes, one by default, sharing one corpus), in a build
# whose replay has a lower free work allowance (VORNACKLE_FUZZ_FREE_WORK,
# the same rule with a smaller constant), so that a tiny file cannot keep an
# execution busy for seconds; findings in FINDINGS_DIR (BUILD_DIR/findings),
# nothing merged.
set -euo pipefail

long=0
if [[ ${1:-} == --long ]]; then
    long=1
    shift
fi
build_dir=${1:-build-fuzz}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
# The long run's free allowance: 64 pictures' work rather than 65,536.
long_free_work=65536

if [[ $long -eq 1 ]]; then
    runs=${2:-10000000}
    cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DVORNACKLE_FUZZ=ON -DVORNACKLE_FUZZ_FREE_WORK=$long_free_work -DBUILD_TESTING=OFF
    cmake --build "$build_dir" -j 2 --target fuzz_replay
    findings=${3:-$build_dir/findings}
    corpus="$build_dir/corpus/fuzz_replay"
    mkdir -p "$corpus" "$findings"
    cp "$root/tests/fuzz_corpus/fuzz_replay/"* "$corpus/"
    workers=${FUZZ_WORKERS:-1}
    fork=()
    [[ $workers -gt 1 ]] && fork=(-fork="$workers")
    echo "fuzz: fuzz_replay for $runs executions, $workers worker(s) (free work $long_free_work)"
    exec "$build_dir/tools/fuzz/fuzz_replay" "${fork[@]}" -runs="$runs" -timeout=300 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/fuzz_replay-" \
        "$corpus" "$root/tests/runs"
fi

cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVORNACKLE_FUZZ=ON -DVORNACKLE_FUZZ_FREE_WORK= -DBUILD_TESTING=OFF
cmake --build "$build_dir" -j 2 --target fuzz_targets

mapfile -t targets < <(find "$build_dir" -type f -name 'fuzz_*' -perm -u+x | sort)
if [[ ${#targets[@]} -eq 0 ]]; then
    echo "fuzz: no fuzz_* targets in this build" >&2
    exit 1
fi

mkdir -p "$build_dir/findings"
for target in "${targets[@]}"; do
    name=$(basename "$target")
    corpus="$build_dir/corpus/$name"
    mkdir -p "$corpus"
    cp "$root/assets/playersprite.bmp" "$corpus/"
    if [[ -d "$root/tests/fuzz_corpus/$name" ]]; then
        cp "$root/tests/fuzz_corpus/$name/"* "$corpus/"
    fi
    seeds=()
    timeout=10
    if [[ $name == fuzz_replay ]]; then
        [[ -d "$root/tests/runs" ]] && seeds+=("$root/tests/runs")
        # The target itself stops a replay past its work allowance; a file
        # within it may take seconds of instrumented replay, under load more.
        timeout=300
    fi
    echo "fuzz: $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build_dir/findings/$name-" "$corpus" "${seeds[@]}"
    # Inputs that reached new code join the kept corpus (commit them): a
    # merge adds only those, so the folder grows by what is new, not by volume.
    # A merge that fails (its inner run crashing on every input) would leave
    # the kept corpus as it was without a word: show why and fail.
    mkdir -p "$root/tests/fuzz_corpus/$name"
    if ! "$target" -merge=1 -timeout="$timeout" -rss_limit_mb=2048 \
        -artifact_prefix="$build_dir/findings/$name-merge-" \
        "$root/tests/fuzz_corpus/$name" "$corpus" >"$build_dir/$name-merge.log" 2>&1 ||
        grep -q 'MERGE-OUTER: attempt 2$' "$build_dir/$name-merge.log"; then
        tail -n 40 "$build_dir/$name-merge.log" >&2
        echo "fuzz: merging $name's corpus failed" >&2
        exit 1
    fi
    grep -E '^MERGE-OUTER: [0-9]+ new files' "$build_dir/$name-merge.log"
done
echo "fuzz: ${#targets[@]} target(s) ran clean"
