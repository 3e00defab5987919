# Sourced: a private X display for tests and the demo's screenshots.
start_xdisplay() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return
    fi
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
    for _ in $(seq 1 100); do
        xdpyinfo >/dev/null 2>&1 && return
        sleep 0.1
    done
    echo "Xvfb did not start" >&2
    return 1
}
