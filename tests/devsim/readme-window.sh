#!/usr/bin/env bash
# The way devsim/README.md gives to run the window against olvex-devsim,
# followed as written on a virtual screen: `olvex-devsim --link LINE` makes
# the line, `olvex-demo --line LINE` opens the window with it first in the
# port list. From the keyboard, as a technician: the image's path, a search
# that finds the simulator's four devices, a tick on the first one, the flash
# button. Ctrl-C then makes olvex-devsim say that the device received the
# image whole, and only that device.
#
#   tests/devsim/readme-window.sh OLVEX-DEVSIM OLVEX-DEMO
#
# Needs Xvfb and xdotool.
set -euo pipefail
devsim=$(realpath "${1:?usage: readme-window.sh OLVEX-DEVSIM OLVEX-DEMO}")
demo=$(realpath "${2:?usage: readme-window.sh OLVEX-DEVSIM OLVEX-DEMO}")
work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    local f
    echo "FAIL: $*" >&2
    for f in "$work"/*.log; do
        [ -s "$f" ] && { echo "--- $(basename "$f")"; tail -n 40 "$f"; } >&2
    done
    exit 1
}
# waits up to $1 tenths of a second for the pattern $2 in the file $3
await() {
    for _ in $(seq "$1"); do
        grep -q "$2" "$3" && return 0
        sleep 0.1
    done
    return 1
}

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "no virtual screen"
export DISPLAY=:$(head -n1 "$work/display")
unset QT_QPA_PLATFORM

# The README's two commands, the line in a folder of the test's own.
line=$work/olvex-line
mkdir "$work/images"
"$devsim" --link "$line" --save-images "$work/images" >"$work/devsim.log" 2>&1 &
sim=$!
pids+=($sim)
await 100 'line ready' "$work/devsim.log" || fail "olvex-devsim did not start"
"$demo" --line "$line" >"$work/window.log" 2>&1 &
pids+=($!)
window=
for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name '^Olvex Updater$' 2>/dev/null | head -n1) && break
    sleep 0.1
done
[ -n "$window" ] || fail "the window did not open"
echo "ok   olvex-devsim --link $line, olvex-demo --line $line: the window is open"

# The port list has the focus, the line first in it. The image's path goes
# into its field four tabs on (search, about, table, field), then back to
# the search button.
head -c 1500 /dev/urandom >"$work/vt-tally-8_v2.8.bin"
xdotool windowfocus --sync "$window"
xdotool key Tab Tab Tab Tab
xdotool type --delay 10 "$work/vt-tally-8_v2.8.bin"
xdotool key shift+Tab shift+Tab shift+Tab space
# The inventory asks each device found for its version.
for _ in $(seq 300); do
    versions=$(grep -c 'SerialP: CPDevice .*cmd_t 0x2, cmd_b 20' "$work/window.log" || true)
    [ "$versions" -ge 4 ] && break
    sleep 0.1
done
[ "$versions" -ge 4 ] || fail "the search found $versions of the simulator's four devices"
echo "ok   the search through $line found the simulator's four devices"

# The search button is off while it runs, so the focus went on to the about
# button: into the table, a tick on its first device, three tabs on to the
# flash button.
sleep 1 # the inventory's end reaches the window
xdotool key Tab space Tab Tab Tab space
await 600 'CPD_Wrlss: ->Response OK \[3:8\]' "$work/window.log" \
    || fail "the ticked device was not updated"
sleep 1
kill -INT "$sim"
wait "$sim" || fail "olvex-devsim ended with status $?"
grep -q '^device 1 .*image 1500 bytes, complete' "$work/devsim.log" \
    || fail "olvex-devsim's first device did not receive the image whole"
[ "$(grep -c ', complete' "$work/devsim.log")" -eq 1 ] || fail "other devices received images too"
cmp -s "$work/vt-tally-8_v2.8.bin" "$work"/images/device-1-*.bin || fail "the image received differs"
echo "ok   ticked and flashed from the keyboard: olvex-devsim says device 1 received the image whole"
