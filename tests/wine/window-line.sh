#!/usr/bin/env bash
# Olvex_Updater.exe under Wine, as a technician uses it: on a virtual screen
# with the Windows look, started from a shell with its standard error in a
# file, it lists COM7 (the Linux simulator's line), searches it from the
# keyboard and finds the simulator's four devices, opens its about dialog,
# updates a device ticked from the keyboard, showing the progress on its
# taskbar button (the calls to the taskbar, which Wine's trace shows), and
# ends when its window is closed, its log complete. With a folder as fourth
# argument it also takes pictures of the window and the dialog there.
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

# An image where a technician keeps one, of eight parts.
mkdir -p "$WINEPREFIX/drive_c/firmware"
head -c 1500 /dev/urandom >"$WINEPREFIX/drive_c/firmware/vt-tally-8_v2.8.bin"
image='C:\firmware\vt-tally-8_v2.8.bin'

start=$(date +%s%N)
# The trace of Wine's taskbar (explorerframe) goes into the log too.
WINEDEBUG=-all,+explorerframe "$wine" "$bin/Olvex_Updater.exe" 2>"$work/window.log" &
app=$!
pids+=($app)
window=$(await_window '^Olvex Updater$' 30) || fail "the window did not open"
echo "ok   the window is on screen after $((($(date +%s%N) - start) / 1000000)) ms"
[ -z "$pictures" ] || picture "$window" "$pictures/window.png"

# The port list has the focus: pick COM7 by typing its name; the image's
# path goes into its field, four tabs further on (the search button, the
# about button, the table, the field); then back to the search button.
xdotool windowfocus --sync "$window"
xdotool key Home
xdotool type --delay 40 COM7
xdotool key Tab Tab Tab Tab
xdotool type --delay 10 "$image"
xdotool key shift+Tab shift+Tab shift+Tab space
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

# From the about button into the table (its first cell), a tick with the
# space bar, then three tabs on to the flash button.
xdotool windowfocus --sync "$window"
xdotool key Tab space Tab Tab Tab space
last='CPD_Wrlss: ->Response OK \[3:8\]'
for _ in $(seq 600); do
    grep -q "$last" "$work/window.log" && break
    sleep 0.1
done
grep -q "$last" "$work/window.log" || fail "the device ticked from the keyboard was not updated"
sleep 1 # the end of the pass
# Wine's taskbar shows no progress: it notes the first call of each kind
# ("fixme") and traces each use of the taskbar. The last of them follow the
# last part: its progress, then the clearing.
grep -q 'taskbar_list_SetProgressState iface [0-9A-F]*, hwnd [0-9A-F]*, flags 2 ' "$work/window.log" \
    || fail "the taskbar button was not set to show progress"
grep -q 'taskbar_list_SetProgressValue iface .*, ullTotal 3e8 ' "$work/window.log" \
    || fail "the taskbar button was not given the progress"
[ "$(sed -n "/$last/,\$p" "$work/window.log" | grep -c 'taskbar_list_HrInit')" -ge 2 ] \
    || fail "the taskbar was not told of the end"
echo "ok   a device ticked from the keyboard updated, its progress on the taskbar button"

# Closing the window ends the program: the worker stops, the log says so.
xdotool windowfocus --sync "$window"
xdotool key alt+F4
status=0
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "the program did not end with its window"
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "the program ended with status $status"
[ "$(tr -d '\r' <"$work/window.log" | grep -v ':explorerframe:' | tail -n1)" = "delete SThread" ] \
    || fail "the log does not end with the worker's end"
echo "ok   closed: exit status 0, the log ends with the worker's end"
