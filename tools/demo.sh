#!/usr/bin/env bash
# Builds the demo updater, which runs on the simulated controller, and starts it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/tools/install-deps.sh"

export CCACHE_BASEDIR="$root"
# Debug info names the build folder; leave it out of the hash so clones and
# worktrees of the project share the cache.
export CCACHE_NOHASHDIR=1
build="$root/build/normal"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target TRBKelo7UpdateDemo

demo="$(find "$build" -type f -name TRBKelo7UpdateDemo -perm -u+x | head -n 1)"
exec "$demo" "$@"
