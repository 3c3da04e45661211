#!/usr/bin/env bash
# Builds the demo updater, which runs on the simulated controller, writes a
# sample update file beside it (version 1.05, newer than the simulated
# controller's firmware, so a full update runs) and starts it.
#
# It first checks for an X display: without one it says so at once, before
# installing or building anything, and shows how to run it under xvfb-run.
# Then it installs only what the demo needs (the test command installs the
# rest) and builds only the demo, in build/demo, showing the progress of both.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# True when the X display in DISPLAY accepts connections. xdpyinfo answers
# best, but a fresh machine has no X tools yet: then the display's socket
# (local) or its TCP port (remote) must accept a connection.
display_reachable()
{
    [ -n "${DISPLAY:-}" ] || return 1
    if command -v xdpyinfo >/dev/null 2>&1; then
        xdpyinfo >/dev/null 2>&1
        return
    fi
    local host="${DISPLAY%:*}" number="${DISPLAY##*:}"
    number="${number%%.*}"
    [[ "$number" =~ ^[0-9]+$ ]] || return 1
    if [ -z "$host" ] || [ "$host" = "unix" ]; then
        [ -S "/tmp/.X11-unix/X$number" ]
    else
        (exec 3<>"/dev/tcp/$host/$((6000 + number))") 2>/dev/null
    fi
}

if ! display_reachable; then
    echo "demo: no X display to open the window on (DISPLAY='${DISPLAY:-}')." >&2
    if command -v xvfb-run >/dev/null 2>&1; then
        echo "demo: run it in a virtual one with:  xvfb-run -a $0" >&2
    else
        echo "demo: run it in a virtual one with:  apt-get install xvfb xauth && xvfb-run -a $0" >&2
    fi
    exit 1
fi

"$root/tools/install-deps.sh" demo

export CCACHE_BASEDIR="$root"
# Debug info names the build folder; leave it out of the hash so clones and
# worktrees of the project share the cache.
export CCACHE_NOHASHDIR=1
build="$root/build/demo"
echo "== demo: configure and build in ${build#"$root"/}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTRB_BUILD_TESTS=OFF -DTRB_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target TRBKelo7UpdateDemo trb_make_update_file

demo="$(find "$build" -type f -name TRBKelo7UpdateDemo -perm -u+x -print -quit)"
tool="$(find "$build/tools" -type f -name make-update-file -perm -u+x -print -quit)"

# The updater takes the update file from its own folder.
sample="$(dirname "$demo")/trbkelo7__v105.bin"
if [ ! -f "$sample" ]; then
    if ! "$tool" 1.05 20261209 seed:105 "$sample" >/dev/null 2>&1; then
        echo "demo: could not write the sample update file $sample; the demo will report a file error" >&2
    fi
fi

echo "== demo: starting $demo"
exec "$demo" "$@"
