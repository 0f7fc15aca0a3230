#!/usr/bin/env bash
# olvex-cli.exe under Wine against the Linux simulator, through Wine's COM
# ports, with the product's own waits: the port list, a port that cannot be
# opened, a scan, a line behind a device server (ser2net, RFC 2217) and one
# that is not there, a refused image, two lines updated at once (one device
# byte-exact from a read-only file under a Windows path with spaces and
# Cyrillic letters, one that falls silent), and Ctrl-C giving up the device
# being written. Every exit status is checked against the Linux one.
#
#   tests/wine/cli-line.sh BIN-DIR OLVEX-DEVSIM WINE-DIR
#
# BIN-DIR holds olvex-cli.exe with its DLLs; WINE-DIR holds the prefix
# (tests/wine/prefix.sh WINE-DIR/lines COM7=WINE-DIR/com7
# COM12=WINE-DIR/com12), and the simulators' links are made there. The
# script ends and restarts the prefix's server: no other test may use it
# meanwhile.
set -euo pipefail
bin=$(realpath "${1:?usage: cli-line.sh BIN-DIR OLVEX-DEVSIM WINE-DIR}")
devsim=$(realpath "${2:?usage: cli-line.sh BIN-DIR OLVEX-DEVSIM WINE-DIR}")
dir=$(realpath "${3:?usage: cli-line.sh BIN-DIR OLVEX-DEVSIM WINE-DIR}")
. "$(dirname "$0")/session.sh"
begin_session "$dir" cli-line
own_server "$work"

# cli NAME ARGS...: olvex-cli.exe's output in NAME.out and NAME.err, its exit
# status in $status.
cli() {
    local name=$1
    shift
    status=0
    "$wine" "$bin/olvex-cli.exe" "$@" >"$work/$name.out" 2>"$work/$name.err" || status=$?
    tr -d '\r' <"$work/$name.out" >"$work/$name.tmp" && mv "$work/$name.tmp" "$work/$name.out"
    tr -d '\r' <"$work/$name.err" >"$work/$name.tmp" && mv "$work/$name.tmp" "$work/$name.err"
}

expect_status() { # name, wanted
    [ "$status" -eq "$2" ] || fail "$1: exit status $status, not $2"
    echo "ok   $1: exit status $2"
}

# simulator NAME LINK DEVICE...: plays the devices on the link, keeping what
# they receive in NAME.images; its pid in $sim.
simulator() {
    local name=$1 link=$2 device
    shift 2
    local args=()
    for device in "$@"; do args+=(--device "$device"); done
    mkdir -p "$work/$name.images"
    start_simulator "$name" "$link" --save-images "$work/$name.images" "${args[@]}"
}

# stop_simulator PID: ends it, so that it writes its report and images.
stop_simulator() {
    kill -INT "$1"
    wait "$1" || true
}

windows_path() { # a Unix path as Wine's Z: drive names it, with backslashes
    echo "Z:$1" | tr / '\\'
}

DevA1=00:1a:2b:3c:4d:5e:6f:70
DevA2=00:1a:2b:3c:4d:61:00:01
DevB=10:20:30:40:50:60:70:80
DevN=10:20:30:40:50:61:00:01

# The ports Wine was told of, as a Windows program lists them.
cli ports ports
expect_status ports 0
grep -q '^COM7  ' "$work/ports.out" && grep -q '^COM12  ' "$work/ports.out" \
    || fail "ports: COM7 and COM12 not listed"

# COM12 names a line whose adapter is not there.
rm -f "$dir/com12"
cli unplugged scan COM12
expect_status "scan of a port that cannot be opened" 3

simulator a "$dir/com7" "id=$DevA1,kind=10" "id=$DevA2,kind=10,version=2.6"
simA=$sim
simulator b "$dir/com12" "id=$DevB,kind=11,fault=silent:part=2"
simB=$sim

# Windows takes port names in any case; the toolkit only upper-case COM.
cli scan scan com12
expect_status "scan (a two-digit COM port, named in lower case)" 0
grep -q '^10:20:30:40:50:60  VT-TALLY-16' "$work/scan.out" || fail "scan: the device is not listed"

# A line behind a serial device server: ser2net on the loopback serves a
# third simulated line with RFC 2217; nothing listens on a port beside it.
simulator net "$dir/net-line" "id=$DevN,kind=10,version=3.1"
simNet=$sim
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
netPort=$(free_port)
printf '%s\n' '%YAML 1.1' '---' 'connection: &net' \
    "  accepter: telnet(rfc2217),tcp,127.0.0.1,$netPort" \
    "  connector: serialdev,$dir/net-line,9600n81,local" \
    '  options:' '    banner: ""' >"$work/ser2net.yaml"
ser2net -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
server=$!
pids+=("$server")
hexPort=$(printf ':%04X ' "$netPort")
for _ in $(seq 100); do
    grep -q "$hexPort.* 0A " /proc/net/tcp && break
    sleep 0.1
done
cli network scan "rfc2217://127.0.0.1:$netPort"
expect_status "scan of a line behind a device server (RFC 2217)" 0
grep -q '^10:20:30:40:50:61  VT-TALLY-8  *3.1' "$work/network.out" \
    || fail "network scan: the device is not listed"
cli refused scan "tcp://127.0.0.1:$(free_port)"
expect_status "a device server that is not there" 3
grep -q 'connection refused' "$work/refused.err" || fail "refused: not said in words"
kill "$server"
stop_simulator "$simNet"

# Refused before anything goes on the line: a device name, a folder.
cli nul flash COM7 NUL --all
expect_status "an image that names the NUL device" 2
cli folder flash COM7 "$(windows_path "$work")" --all
expect_status "an image that is a folder" 2

# The image: read-only, in a folder with spaces and Cyrillic letters, named
# with backslashes; random bytes, so CR LF pairs and 0x1A among them.
mkdir -p "$work/Рабочий стол"
image="$work/Рабочий стол/прошивка 2.8.bin"
head -c 5000 /dev/urandom >"$image"
chmod 0444 "$image"

# Two lines at once, each served by its own process.
status=0
capture="$work/Рабочий стол/линия COM7.pcapng"
"$wine" "$bin/olvex-cli.exe" flash COM7 "$(windows_path "$image")" --all \
    --capture "$(windows_path "$capture")" >"$work/flash.out" 2>"$work/flash.err" &
flashA=$!
"$wine" "$bin/olvex-cli.exe" flash COM12 "$(windows_path "$image")" --all \
    >"$work/silent.out" 2>"$work/silent.err" &
flashB=$!
wait $flashB || status=$?
expect_status "update of a device that falls silent" 1
status=0
wait $flashA || status=$?
expect_status "update of two devices from a Windows path" 0
[ "$(grep -c '  updated  26/26' "$work/flash.out")" -eq 2 ] || fail "flash: not both updated"
grep -q 'Рабочий стол\\прошивка 2.8.bin (26 parts)' "$work/flash.err" \
    || fail "flash: the image's name did not come out whole: $(grep updating "$work/flash.err")"

stop_simulator "$simA"
stop_simulator "$simB"
n=0
for id in $DevA1 $DevA2; do
    n=$((n + 1))
    cmp -s "$work/a.images/device-$n-$(echo $id | tr -d :).bin" "$image" \
        || fail "device $id does not hold the image"
done
echo "ok   both devices hold the image, byte for byte"
# The capture, under its Cyrillic name: a pcapng section of olvex-cli, the
# line named as Windows names it, every part of both updates in it.
[ "$(od -An -tx1 -N4 "$capture" | tr -d ' ')" = 0a0d0d0a ] || fail "capture: not a pcapng file"
grep -aq 'olvex-cli 1.0.0' "$capture" && grep -aq 'COM7' "$capture" \
    || fail "capture: the program or the line is not named"
[ "$(stat -c %s "$capture")" -gt $((2 * 5000)) ] || fail "capture: the updates are not in it"
echo "ok   the capture under a Cyrillic name holds both updates"
grep -q "kind 11: image .* bytes, aborted" "$work/b.sim" || fail "the silent device was not given up"
echo "ok   the silent device was given up"

# Ctrl-C (SIGINT to Wine is Ctrl-C to the program) while a device is being
# written: the device is given up with the frame that tells it so.
simulator c "$dir/com7" "id=$DevA1,kind=10"
simC=$sim
"$wine" "$bin/olvex-cli.exe" flash COM7 "$(windows_path "$image")" --all \
    >"$work/ctrlc.out" 2>"$work/ctrlc.err" &
flashC=$!
for _ in $(seq 600); do
    grep -q ' [1-9]0%  ' "$work/ctrlc.err" && break
    sleep 0.1
done
grep -q ' [1-9]0%  ' "$work/ctrlc.err" || fail "ctrl-c: the update did not get under way"
kill -INT "$flashC"
status=0
wait "$flashC" || status=$?
tr -d '\r' <"$work/ctrlc.err" >"$work/ctrlc.tmp" && mv "$work/ctrlc.tmp" "$work/ctrlc.err"
expect_status "Ctrl-C during an update" 130
grep -q 'interrupted, giving up the device being written' "$work/ctrlc.err" \
    || fail "ctrl-c: no word of giving the device up"
stop_simulator "$simC"
grep -q "kind 10: image .* bytes, aborted" "$work/c.sim" || fail "ctrl-c: the device was not given up"
echo "ok   the device being written was given up"
