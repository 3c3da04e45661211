#!/usr/bin/env bash
# Runs the tests of built trees while stress-ng keeps every core busy, to show
# that no test depends on the machine's speed. Build the trees first (for
# example with ./tools/test.sh).
#
#   tools/test-under-load.sh [RUNS] [TREE...]   default: 1 run of normal address thread
#
# Each run prints the tree, the run number, how long it took and ctest's summary;
# the exit code is non-zero when any run failed. TRB_LOAD_CPUS sets the number
# of stress-ng CPU workers (default: twice the number of cores).
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${1:-1}"
shift || true
trees=("$@")
[ ${#trees[@]} -eq 0 ] && trees=(normal address thread)

if ! command -v stress-ng >/dev/null; then
    echo "stress-ng is missing (tools/install-deps.sh installs it)" >&2
    exit 2
fi

jobs="$(nproc)"
stress-ng --cpu "${TRB_LOAD_CPUS:-$((2 * jobs))}" --quiet &
load=$!
trap 'kill "$load" 2>/dev/null; wait "$load" 2>/dev/null' EXIT

failed=0
for tree in "${trees[@]}"; do
    build="$root/build/$tree"
    if [ ! -d "$build" ]; then
        echo "== $tree: no build tree in ${build#"$root"/}" >&2
        failed=1
        continue
    fi

    for run in $(seq "$runs"); do
        log="$build/load-run-$run.log"
        started=$SECONDS
        ctest --test-dir "$build" --output-on-failure --parallel "$jobs" >"$log" 2>&1
        result=$?
        echo "== $tree run $run: $((SECONDS - started)) s, $(grep -E 'tests passed|tests failed' "$log" | tail -n1)"
        if [ $result -ne 0 ]; then
            grep -E '^\s+[0-9]+ - ' "$log" || true
            echo "   log: ${log#"$root"/}"
            failed=1
        fi
    done
done

exit $failed
