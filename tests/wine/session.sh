# shellcheck shell=bash
# What the scripts here share: a Wine server of the script's own, a virtual
# screen for the Windows programs, the simulator on the other end of a COM
# port (`devsim`, set by the script), and how a test fails. Sourced; needs
# Xvfb and xdotool, and ImageMagick's import for pictures.

# begin_session WINE-DIR NAME: what a line script starts with. `wine` is the
# Wine to run, WINEPREFIX the prefix (the lines' one unless given), `work` a
# folder of the script's own in WINE-DIR, and `pids` the processes it starts;
# at the end they are ended, the prefix's server too, and the folder goes.
begin_session() { # wine-dir, name
    wine=${OLVEX_WINE:-/usr/lib/wine/wine64}
    export WINEPREFIX=${WINEPREFIX:-$1/lines} WINEDEBUG=${WINEDEBUG:--all}
    work=$(mktemp -d "$1/$2.XXXXXX")
    pids=()
    trap end_session EXIT
}
end_session() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    end_server
    wait 2>/dev/null || true
    rm -rf "$work"
}

# fail MESSAGE: the test fails with MESSAGE, followed by the end of what the
# script's programs wrote into `work` (*.out, *.err, *.sim, *.log).
fail() {
    local f
    echo "FAIL: $*" >&2
    for f in "$work"/*.out "$work"/*.err "$work"/*.sim "$work"/*.log; do
        [ -s "$f" ] && { echo "--- $(basename "$f")"; tail -n 60 "$f"; } >&2
    done
    exit 1
}

# start_simulator NAME LINK OLVEX-DEVSIM-ARGUMENTS...: `devsim` plays its
# devices on LINK at the real line's pace, saying what it does in
# `work`/NAME.sim; its pid in $sim and in `pids`. The test fails when the
# line is not ready within ten seconds.
start_simulator() {
    local name=$1 link=$2
    shift 2
    "${devsim:?the script names olvex-devsim in devsim}" --link "$link" --pace 9600 "$@" >"$work/$name.sim" 2>&1 &
    sim=$!
    pids+=("$sim")
    for _ in $(seq 100); do
        grep -q "line ready" "$work/$name.sim" && return 0
        sleep 0.1
    done
    fail "$name: the simulator did not start"
}

# own_server WORK-DIR: ends whatever runs in WINEPREFIX and starts its server
# and services afresh, their messages in WORK-DIR/wineserver.log; end_server
# ends them again. Wine's desktop process, which one of them may start, keeps
# the screen (DISPLAY) it was started with: a screen of the script's own needs
# a server of its own, started once DISPLAY names that screen. Only where no
# other test uses the prefix at the same time.
own_server() { # work-dir
    local wine=${OLVEX_WINE:-/usr/lib/wine/wine64} wineserver
    wineserver=$(dirname "$wine")/wineserver
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w
    "$wineserver" -p60 2>>"$1/wineserver.log" >&2
    # The prefix's services outlive the program that starts them and keep its
    # standard output and error open: started here, they keep the log's.
    "$wine" reg query 'HKLM\Software\Wine' </dev/null >>"$1/wineserver.log" 2>&1
}
end_server() {
    "$(dirname "${OLVEX_WINE:-/usr/lib/wine/wine64}")/wineserver" -k 2>/dev/null || true
}

# start_screen DIR: an Xvfb of its own on a free display, its pid added to
# the caller's `pids`; DISPLAY names it.
start_screen() {
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do
        [ -s "$1/display" ] && break
        sleep 0.05
    done
    [ -s "$1/display" ] || { echo "no virtual screen" >&2; return 1; }
    export DISPLAY=:$(head -n1 "$1/display")
}

# await_window TITLE-PATTERN SECONDS: prints the id of the visible window of
# that title once there is one; fails when none comes in time.
await_window() {
    local end=$((SECONDS + $2)) window
    while [ $SECONDS -lt $end ]; do
        window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1)
        if [ -n "$window" ]; then
            echo "$window"
            return 0
        fi
        sleep 0.05
    done
    return 1
}

# picture WINDOW FILE: what the window shows, as the program drew it (a
# window that has just come up is given a moment to be drawn).
picture() {
    mkdir -p "$(dirname "$2")"
    sleep 1
    import -window "$1" "$2"
    echo "     picture $2"
}
