#!/usr/bin/env bash
# An X display for tests that show windows, read the keyboard state or lay out
# text with the system's fonts.
#
#   with-display.sh start DIR   starts a private Xvfb, writes its display name to
#                               DIR/display and its process id to DIR/pid
#   with-display.sh stop DIR    stops the Xvfb that 'start' recorded in DIR
#   with-display.sh COMMAND...  runs the command on a private Xvfb of its own
#
# CTest uses start and stop as the set-up and clean-up of one display shared by
# the whole run; the test program reads DIR/display (TRB_DISPLAY_FILE). The third
# form is for running a test program by hand. Xvfb chooses a free display number
# itself (-displayfd), so several runs and build trees can test side by side.
set -euo pipefail

screen=(-screen 0 1280x1024x24 -nolisten tcp -noreset)

# The framework looks these atoms up without creating them, expecting a window
# manager to have made them; a bare Xvfb has none, and a window then fails with
# BadAtom. Naming them once in a root property creates them for the server's life.
name_window_manager_atoms() # DISPLAY
{
    local atom
    for atom in WM_PROTOCOLS WM_TAKE_FOCUS WM_DELETE_WINDOW _NET_WM_PING WM_CHANGE_STATE WM_STATE; do
        DISPLAY="$1" xprop -root -f "_TRB_TEST_$atom" 32a -set "_TRB_TEST_$atom" "$atom"
    done
}

start_server() # FILE-FOR-DISPLAY-NUMBER LOG -> prints the pid
{
    local number_file="$1" log="$2"
    : >"$number_file"
    # setsid and closed standard streams: CTest waits for every process that
    # still holds the test's output, and the server must outlive the set-up test.
    setsid Xvfb -displayfd 3 "${screen[@]}" 3>"$number_file" >"$log" 2>&1 </dev/null &
    local pid=$!

    # Up to a minute: Xvfb starts slowly on a busy machine.
    for _ in $(seq 600); do
        if [ -s "$number_file" ]; then
            name_window_manager_atoms ":$(tr -d '[:space:]' <"$number_file")"
            echo "$pid"
            return 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done

    echo "Xvfb did not start; its log:" >&2
    cat "$log" >&2 || true
    kill "$pid" 2>/dev/null || true
    return 1
}

stop_server() # PID
{
    kill "$1" 2>/dev/null || true
}

case "${1:-}" in
    start)
        dir="$2"
        mkdir -p "$dir"
        if [ -s "$dir/pid" ]; then
            stop_server "$(cat "$dir/pid")"
        fi
        rm -f "$dir/display" "$dir/pid"
        pid="$(start_server "$dir/number" "$dir/xvfb.log")"
        echo "$pid" >"$dir/pid"
        echo ":$(tr -d '[:space:]' <"$dir/number")" >"$dir/display"
        echo "X display $(cat "$dir/display") (Xvfb $pid)"
        ;;
    stop)
        dir="$2"
        if [ -s "$dir/pid" ]; then
            stop_server "$(cat "$dir/pid")"
        fi
        rm -f "$dir/display" "$dir/pid" "$dir/number"
        ;;
    "")
        echo "usage: $0 start DIR | stop DIR | COMMAND [ARGS...]" >&2
        exit 2
        ;;
    *)
        dir="$(mktemp -d)"
        pid="$(start_server "$dir/number" "$dir/xvfb.log")"
        trap 'stop_server "$pid"; rm -rf "$dir"' EXIT
        export DISPLAY=":$(tr -d '[:space:]' <"$dir/number")"
        unset TRB_DISPLAY_FILE
        "$@"
        ;;
esac
