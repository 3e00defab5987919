#!/usr/bin/env bash
# Start-up of lumotalk: time from launching the process to its first painted window, time to
# the attach (banner shown), and resident memory right after the attach. The simulator runs
# headless on a private session bus; the display is the current one or a private Xvfb with
# openbox. One warm-up run (page cache, font cache) is not counted; then RUNS runs, and the
# median, minimum and maximum of each figure are printed.
#
#   bash scripts/bench-startup.sh [RUNS]      (default 15; LUMOTALK_BUILD_DIR, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}
bin="${LUMOTALK_BUILD_DIR:-build}/bin"
[ -x "$bin/lumotalk" ] && [ -x "$bin/skypesim" ] || { echo "build first: bash scripts/build.sh" >&2; exit 1; }

if [ -z "${LUMOTALK_BENCH_ON_BUS:-}" ]; then
    export LUMOTALK_BENCH_ON_BUS=1
    exec dbus-run-session -- bash "$0" "$@"
fi

pids=()
source scripts/xdisplay.sh
start_xdisplay
[ -n "${XVFB_PID:-}" ] && pids+=("$XVFB_PID")
# Replaces start_xdisplay's own trap: the programs first, the X server last.
trap 'for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; wait "${pids[i]}" 2>/dev/null; done' EXIT
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    openbox --sm-disable >/dev/null 2>&1 &
    pids+=($!)
    sleep 0.5
fi

"$bin/skypesim" --headless &
pids+=($!)
for _ in $(seq 1 100); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
        string:com.Skype.API 2>/dev/null | grep -q 'boolean true' && break
    sleep 0.1
done

measure() {
    local t0 out
    t0=$(date +%s%3N)
    out=$(LUMOTALK_MEASURE=1 timeout 30 "$bin/lumotalk" 2>/dev/null)
    local shown attached rss
    shown=$(sed -n 's/^shown_epoch_ms=//p' <<<"$out")
    attached=$(sed -n 's/^attached_epoch_ms=//p' <<<"$out")
    rss=$(sed -n 's/^rss_kb=//p' <<<"$out")
    [ -n "$shown" ] && [ -n "$attached" ] && [ -n "$rss" ] || { echo "a run did not attach: $out" >&2; exit 1; }
    echo "$((shown - t0)) $((attached - t0)) $rss"
}

stats() { # column of numbers -> median min max
    sort -n | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                                        printf "median %s  min %s  max %s\n", m, v[1], v[NR] }'
}

measure >/dev/null # warm-up
results=$(for _ in $(seq 1 "$runs"); do measure; done)
echo "lumotalk start-up, $runs runs ($(nproc) cores, display $DISPLAY):"
echo "  to window on screen (ms):    $(awk '{print $1}' <<<"$results" | stats)"
echo "  to banner after attach (ms):  $(awk '{print $2}' <<<"$results" | stats)"
echo "  resident memory after attach (KiB): $(awk '{print $3}' <<<"$results" | stats)"
