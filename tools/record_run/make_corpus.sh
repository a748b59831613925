#!/usr/bin/env bash
# Records the run corpus (tests/runs/) from corpus.list, one build at a time,
# and writes its MANIFEST with the lines the program's --verify prints.
#
#   make_corpus.sh record BUILD RECORDER...   records BUILD's runs (linux,
#       windows, web) with RECORDER (e.g. build/tests/runs/vn_record_run,
#       wine build-windows/tests/runs/vn_record_run.exe, or
#       node build-web-tests/tests/runs/vn_record_run.js)
#   make_corpus.sh manifest VORNACKLE         writes tests/runs/MANIFEST: for
#       each run of the folder, what it is and `VORNACKLE --verify`'s lines
#
# Runs of the real programs played with real key presses (record_keys.sh for
# the Linux program and vornackle.exe, record_page.py for the page) are listed
# with the build "keys" and the command that made them; they are kept as
# they are.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
list=$root/tools/record_run/corpus.list
runs=$root/tests/runs
mode=$1
shift

entries() { grep -v '^#' "$list" | sed 's/ *| */|/g; s/ *$//'; }

case $mode in
record)
    build=$1
    shift
    entries | while IFS='|' read -r name made options _; do
        [[ $made == "$build" ]] || continue
        # shellcheck disable=SC2086 # the options are words
        "$@" $options --label "vn_record_run $build" "$runs/$name.vnr" </dev/null
    done
    ;;
manifest)
    program=$1
    {
        echo "# The run corpus: runs recorded by each build, each verified on every build with"
        echo "# these lines (runs_tests, verify_corpus.sh). Written by tools/record_run/make_corpus.sh;"
        echo "# '| ' lines are --verify's stdout, its last cut to the count of pictures."
        entries | while IFS='|' read -r name made options about; do
            [[ -f "$runs/$name.vnr" ]] || { echo "make_corpus: no $name.vnr" >&2; exit 1; }
            echo
            echo "run $name.vnr"
            if [[ $made == keys ]]; then
                echo "made by key presses: $options"
            else
                echo "made on $made: vn_record_run $options"
            fi
            echo "about $about"
            "$program" --verify "$runs/$name.vnr" | sed '$ s/ in .*//; s/^/| /'
        done
    } >"$runs/MANIFEST.new"
    mv "$runs/MANIFEST.new" "$runs/MANIFEST"
    ;;
*)
    echo "usage: make_corpus.sh record BUILD RECORDER... | manifest VORNACKLE" >&2
    exit 2
    ;;
esac
