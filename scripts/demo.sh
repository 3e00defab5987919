#!/usr/bin/env bash
# The demo: installs what is needed (Debian 12, as root), builds, then runs the simulated client
# `skypesim` with its window and `lumotalk` against it on a private session bus. Closing either
# window ends both.
#
#   bash scripts/demo.sh                          on a desktop (uses $DISPLAY)
#   DEMO_SCREENSHOT=shot.png bash scripts/demo.sh  anywhere: a private X server (Xvfb), one
#                                                 screenshot of both windows, then exit
#   LUMOTALK_BUILD_DIR=dir                        runs an existing build instead of installing
#                                                 and building into build/
set -euo pipefail
cd "$(dirname "$0")/.."

no_display() {
    echo "demo: there is no X display to show the windows on (DISPLAY='${DISPLAY:-}')." >&2
    echo "      Run it from a desktop session, or let it take a screenshot on a private X server:" >&2
    echo "      DEMO_SCREENSHOT=demo.png bash scripts/demo.sh" >&2
    exit 1
}

if [ -z "${LUMOTALK_DEMO_ON_BUS:-}" ]; then
    [ -n "${DEMO_SCREENSHOT:-}" ] || [ -n "${DISPLAY:-}" ] || no_display
    if [ -z "${LUMOTALK_BUILD_DIR:-}" ]; then
        bash scripts/deps.sh
        bash scripts/build.sh
    fi
    if [ -z "${DEMO_SCREENSHOT:-}" ]; then
        xdpyinfo >/dev/null 2>&1 || no_display
    else
        DEMO_SCREENSHOT=$(realpath -m "$DEMO_SCREENSHOT")
        export DEMO_SCREENSHOT
    fi
    export LUMOTALK_DEMO_ON_BUS=1
    exec dbus-run-session -- bash "$0" "$@"
fi

# From here on: on the private session bus.
bin="${LUMOTALK_BUILD_DIR:-build}/bin"
pids=()
cleanup() {
    # The programs first, the desktop they run on last.
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
}

if [ -n "${DEMO_SCREENSHOT:-}" ]; then
    # A desktop of our own: X server, window manager and tray, all gone with this script.
    unset DISPLAY
    source scripts/xdisplay.sh
    start_xdisplay
    pids+=("$XVFB_PID")
    openbox --sm-disable >/dev/null 2>&1 &
    pids+=($!)
    trayer --edge bottom --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 &
    pids+=($!)
fi
trap cleanup EXIT # after start_xdisplay, whose own trap this replaces

owner_of() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
        "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# Below and right of the main window (220,129 805x297), so neither covers the other.
"$bin/skypesim" -geometry 1400x620+40+450 &
sim=$!
pids+=("$sim")
for _ in $(seq 1 100); do
    owner_of com.Skype.API && break
    kill -0 "$sim" 2>/dev/null || { echo "demo: skypesim did not start" >&2; exit 1; }
    sleep 0.1
done
owner_of com.Skype.API || { echo "demo: skypesim did not take the client's bus name" >&2; exit 1; }

"$bin/lumotalk" &
lumotalk=$!
pids+=("$lumotalk")

if [ -n "${DEMO_SCREENSHOT:-}" ]; then
    for _ in $(seq 1 100); do
        xdotool search --name '^Lumotalk2$' >/dev/null 2>&1 && break
        sleep 0.1
    done
    sleep 2 # the attach and the banner, over the bus
    import -window root "$DEMO_SCREENSHOT"
    echo "demo: screenshot in $DEMO_SCREENSHOT"
    exit 0
fi

echo "demo: skypesim and lumotalk are running; close either window to end the demo."
# Whichever window is closed first ends the demo; the other is closed with it.
wait -n "$sim" "$lumotalk" || true
