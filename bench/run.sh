#!/bin/sh
# Builds the benchmarks (Release, in a folder of their own) and runs them.
#
#   bench/run.sh [build-dir]          the figures: repeated runs, medians, and
#                                     the program's CPU on each screen (Xvfb)
#   bench/run.sh --smoke [build-dir]  each benchmark once and briefly, so CI
#                                     keeps them working; never a timing test
set -eu
smoke=0
if [ "${1:-}" = "--smoke" ]; then
    smoke=1
    shift
fi
dir=${1:-build-bench}

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" -j "${JOBS:-2}" --target vn_bench vn_bench_process vn_bench_run vornackle

echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $(date -u '+%F %H:%M') UTC"
if [ "$smoke" = 1 ]; then
    "$dir/bench/vn_bench" --benchmark_min_time=0.01
    "$dir/bench/vn_bench_run"
    "$dir/bench/vn_bench_process" --benchmark_min_time=0.01 --benchmark_filter='-BM_LongRun/100'
    bench/cpu_screens.sh "$dir/vornackle" 1
else
    "$dir/bench/vn_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
    "$dir/bench/vn_bench_run"
    "$dir/bench/vn_bench_process" --benchmark_filter='StartUp|PeakMemory|Pacing' \
        --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
    "$dir/bench/vn_bench_process" --benchmark_filter='BM_LongRun/100'
    bench/cpu_screens.sh "$dir/vornackle" 10
fi
