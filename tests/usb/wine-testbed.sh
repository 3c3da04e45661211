#!/bin/sh
# Starts or stops the wineserver of the USB tests under Wine, inside the
# umockdev testbed of the EmulatedControllerHost that runs this (its --setup
# and --teardown), so that Wine's HID driver process inherits the testbed.
#   wine-testbed.sh start|stop      (WINEPREFIX names the Wine folder)
# The Wine folder is made on first use, with its HID bus reading the hidraw
# nodes: with SDL's bus enabled (the default) the hidraw bus does not start.
set -eu

: "${WINEPREFIX:?WINEPREFIX must name the Wine folder}"
export WINEPREFIX
if [ -n "${TRB_DISPLAY_FILE:-}" ] && [ -r "$TRB_DISPLAY_FILE" ]; then
    DISPLAY="$(cat "$TRB_DISPLAY_FILE")"
    export DISPLAY
fi

case "${1:-}" in
start)
    # A server left from another run would not have the testbed.
    wineserver -k 2>/dev/null || true
    wineserver -w
    if [ ! -e "$WINEPREFIX/.trb-hidraw" ]; then
        wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v "Enable SDL" /t REG_DWORD /d 0 /f >/dev/null
        wineserver -k 2>/dev/null || true
        wineserver -w
        touch "$WINEPREFIX/.trb-hidraw"
    fi
    wineserver -p
    ;;
stop)
    wineserver -k 2>/dev/null || true
    wineserver -w
    ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
