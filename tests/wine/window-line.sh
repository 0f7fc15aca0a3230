#!/usr/bin/env bash
# Olvex_Updater.exe under Wine, as a technician uses it: on a virtual screen
# with the Windows look, started from a shell with its standard error in a
# file, it lists COM7 (the Linux simulator's line), searches it from the
# keyboard and finds the simulator's four devices, opens its about dialog,
# and ends when its window is closed, its log complete. With a folder as
# fourth argument it also takes pictures of the window and the dialog there.
#
#   tests/wine/window-line.sh BIN-DIR OLVEX-DEVSIM WINE-DIR [PICTURES-DIR]
#
# BIN-DIR holds Olvex_Updater.exe with its DLLs; WINE-DIR holds the prefix
# (tests/wine/prefix.sh WINE-DIR/lines COM7=WINE-DIR/com7 ...). The script
# ends and restarts the prefix's server: no other test may use it
# meanwhile. Needs Xvfb and xdotool, and ImageMagick's import for the
# pictures.
set -euo pipefail
bin=$(realpath "${1:?usage: window-line.sh BIN-DIR OLVEX-DEVSIM WINE-DIR [PICTURES-DIR]}")
devsim=$(realpath "${2:?usage: window-line.sh BIN-DIR OLVEX-DEVSIM WINE-DIR [PICTURES-DIR]}")
dir=$(realpath "${3:?usage: window-line.sh BIN-DIR OLVEX-DEVSIM WINE-DIR [PICTURES-DIR]}")
pictures=${4:-}
. "$(dirname "$0")/session.sh"
begin_session "$dir" window-line

start_screen "$work"
own_server "$work" # after the screen: Wine's desktop process takes the screen it starts with

# The demo's four devices, at the real line's pace.
start_simulator devsim "$dir/com7"

start=$(date +%s%N)
"$wine" "$bin/Olvex_Updater.exe" 2>"$work/window.log" &
app=$!
pids+=($app)
window=$(await_window '^Olvex Updater$' 30) || fail "the window did not open"
echo "ok   the window is on screen after $((($(date +%s%N) - start) / 1000000)) ms"
[ -z "$pictures" ] || picture "$window" "$pictures/window.png"

# The port list has the focus: pick COM7 by typing its name, then the search
# button, one tab further on.
xdotool windowfocus --sync "$window"
xdotool key Home
xdotool type --delay 40 COM7
xdotool key Tab space
# The search ends with the version of every device found.
for _ in $(seq 300); do
    [ "$(grep -c 'SerialP: CPDevice .*cmd_b 20' "$work/window.log")" -ge 4 ] && break
    sleep 0.1
done
for id in 00:1A:2B:3C:4D:5E:00:01 00:1A:2B:3C:4D:5F:00:02 00:1A:2B:3C:4D:60:00:03 \
          00:1A:2B:3C:4D:61:00:04; do
    grep -q "SerialP: CPDevice \[$id\], cmd_t 0x2, cmd_b 20" "$work/window.log" \
        || fail "the search through COM7 did not find $id"
done
echo "ok   COM7 listed, searched, four devices found; the log in the file standard error names"
sleep 1 # the last answer's table update
[ -z "$pictures" ] || picture "$window" "$pictures/search.png"

# The search button is disabled while it runs, so the focus went on to the
# about button.
xdotool key space
about=$(await_window '^О приложении$' 10) || fail "the about dialog did not open"
echo "ok   the about dialog opened"
[ -z "$pictures" ] || picture "$about" "$pictures/about.png"
xdotool key Escape

# Closing the window ends the program: the worker stops, the log says so.
xdotool windowfocus --sync "$window"
xdotool key alt+F4
status=0
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "the program did not end with its window"
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "the program ended with status $status"
[ "$(tr -d '\r' <"$work/window.log" | tail -n1)" = "delete SThread" ] \
    || fail "the log does not end with the worker's end"
echo "ok   closed: exit status 0, the log ends with the worker's end"
