#!/usr/bin/env bash
# Runs Windows programs of the Windows build tree under Wine, with a private
# Wine folder (WINEPREFIX) under the build tree and the run's private X display.
#
#   wine.sh start PREFIX       makes the Wine folder if needed and starts one
#                              persistent wineserver for it (CTest set-up)
#   wine.sh stop PREFIX        stops that wineserver (CTest clean-up)
#   wine.sh run PREFIX PROGRAM [ARGUMENT...]
#                              runs PROGRAM (a .exe) under Wine and exits with its
#                              exit status (CMAKE_CROSSCOMPILING_EMULATOR)
#
# Every program of a run shares one wineserver: starting one per program would
# cost seconds each, and the server would go away between the tests of one
# program. TRB_DISPLAY_FILE names the file with the private display's name
# (tests/with-display.sh); Wine's X11 driver reads DISPLAY from the process's
# environment when it starts, so it is set here, before Wine runs.
set -euo pipefail

command="$1"
export WINEPREFIX="$2"
shift 2

export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
# No Mono or Gecko installers, no "update the Wine folder" window, and no
# menu entries of this machine's desktop made from the Start-menu entries the
# installer tests make (Wine's menu builder would leave them behind).
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"

if [ -n "${TRB_DISPLAY_FILE:-}" ] && [ -s "$TRB_DISPLAY_FILE" ]; then
    DISPLAY="$(tr -d '[:space:]' <"$TRB_DISPLAY_FILE")"
    export DISPLAY
fi

wine_program="$(command -v wine)"
wineserver_program="$(command -v wineserver || echo /usr/lib/wine/wineserver64)"

case "$command" in
    start)
        mkdir -p "$WINEPREFIX"
        # setsid and closed standard streams: CTest waits for every process that
        # still holds the test's output, and the server outlives the set-up.
        setsid "$wineserver_program" -p </dev/null >/dev/null 2>&1 || true
        if [ ! -e "$WINEPREFIX/system.reg" ]; then
            "$wine_program" wineboot --init </dev/null >"$WINEPREFIX.wineboot.log" 2>&1
        fi
        # wineboot returns before the registry is written; an empty program
        # run waits until the folder is complete.
        "$wine_program" cmd /c exit 0 </dev/null >/dev/null 2>&1
        ;;
    stop)
        "$wineserver_program" -k 2>/dev/null || true
        ;;
    run)
        exec "$wine_program" "$@"
        ;;
    *)
        echo "usage: $0 start|stop PREFIX | run PREFIX PROGRAM [ARGUMENT...]" >&2
        exit 2
        ;;
esac
