#!/usr/bin/env bash
# Builds the demo updater, which runs on the simulated controller, writes a
# sample update file beside it (version 1.05, newer than the simulated
# controller's firmware, so a full update runs) and starts it.
#
# Without an X display it says so and shows how to run it under xvfb-run.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/tools/install-deps.sh"

export CCACHE_BASEDIR="$root"
# Debug info names the build folder; leave it out of the hash so clones and
# worktrees of the project share the cache.
export CCACHE_NOHASHDIR=1
build="$root/build/normal"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target TRBKelo7UpdateDemo trb_make_update_file >/dev/null

demo="$(find "$build" -type f -name TRBKelo7UpdateDemo -perm -u+x -print -quit)"
tool="$(find "$build/tools" -type f -name make-update-file -perm -u+x -print -quit)"

# The updater takes the update file from its own folder.
sample="$(dirname "$demo")/trbkelo7__v105.bin"
if [ ! -f "$sample" ]; then
    if ! "$tool" 1.05 20261209 seed:105 "$sample" >/dev/null 2>&1; then
        echo "demo: could not write the sample update file $sample; the demo will report a file error" >&2
    fi
fi

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    echo "demo: no X display to open the window on; run it in a virtual one with:  xvfb-run -a $0" >&2
    exit 1
fi

exec "$demo" "$@"
