#!/usr/bin/env bash
# Records the captures of this folder again, with olvex-cli --capture against
# the simulator's line habits; each capture's expected outcome is in its
# .json. Not run by the tests: the captures are kept as they were taken, so
# that the tests hold the tool to what the line carried then.
#
#   tests/captures/record.sh [BUILD-DIR]      (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build}")
devsim=$build/devsim/olvex-devsim
cli=$build/cli/olvex-cli
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

A=id=00:1a:2b:3c:4d:5e:6f:70,kind=10,version=2.7
B=id=01:02:03:04:05:06:07:08,kind=10,version=1.4

# record NAME "olvex-devsim options" olvex-cli command and options (LINE and
# IMAGE stand for the line and the image)
record() {
    local name=$1 sim=$2
    shift 2
    local line=$work/line-$name
    # shellcheck disable=SC2086 # the simulator's options are words
    "$devsim" --link "$line" $sim >"$work/$name.sim" 2>&1 &
    local pid=$!
    for _ in $(seq 50); do [ -e "$line" ] && break; sleep 0.1; done
    local args=()
    for a in "$@"; do
        case "$a" in LINE) args+=("$line") ;; IMAGE) args+=("$here/image.bin") ;; *) args+=("$a") ;; esac
    done
    "$cli" "${args[@]}" --capture "$here/$name.pcapng" --quiet || true
    kill "$pid"
    wait "$pid" || true
}

record echo "--echo --device $A --device $B" flash LINE IMAGE --all
record split "--slot 100 --device $A,fault=split:30 --device $B,fault=split:60" flash LINE IMAGE --all
record twice "--device $A,fault=twice:30 --device $B,fault=twice:300" flash LINE IMAGE --all
crowd=""
for n in $(seq 1 12); do crowd+=" --device id=00:00:00:00:00:$(printf %02x "$n"):00:00,kind=10,version=1.$n"; done
record crowd "--collide 6 --seed 3$crowd" scan LINE
record lossy "--device $A,fault=silent:part=2:times=1 --device $B,fault=badcrc:part=3:times=1,fault=late:1500:part=4:times=1" \
    flash LINE IMAGE --all

# A habit the simulator cannot play: a USB adapter at 9600 baud whose latency
# timer hands over what comes a byte at a time, 1.04 ms apart. Taken from a
# plain line's capture, every piece the line brought cut into single bytes,
# and written by other tools: text2pcap writes it as pcap, editcap as pcapng
# (microsecond time stamps, no direction flags: only the serial header's
# event type tells sent from received).
record plain "--device $A --device $B" flash LINE IMAGE --all
mv "$here/plain.pcapng" "$work/plain.pcapng"
python3 - "$work/plain.pcapng" "$work/bytewise.txt" <<'PY'
import struct, sys, time
# The plain capture's packets, as olvex-cli writes them (little-endian,
# nanoseconds), each line's piece cut into bytes, as text2pcap reads them.
data = open(sys.argv[1], "rb").read()
out = open(sys.argv[2], "w")
at = 0
while at < len(data):
    kind, length = struct.unpack_from("<II", data, at)
    if kind == 6:
        high, low, captured = struct.unpack_from("<III", data, at + 12)
        payload = data[at + 28: at + 28 + captured]
        ns = (high << 32) | low
        header, bytes_ = payload[:12], payload[12:]
        sent = header[8] == 1
        pieces = [bytes_] if sent else [bytes_[i:i + 1] for i in range(len(bytes_))]
        for i, piece in enumerate(pieces):
            t = ns + i * 1040000
            secs, frac = divmod(t, 10**9)
            stamp = "%s.%06d" % (time.strftime("%H:%M:%S", time.gmtime(secs)), frac // 1000)
            head = struct.pack(">II", secs, frac // 1000) + header[8:12]
            out.write("%s %s %s\n" % (">" if sent else "<", stamp, (head + piece).hex()))
    at += length
PY
TZ=UTC text2pcap -q -F pcap -l 250 -t "%H:%M:%S.%f" \
    -r '^(?<dir>[<>])\s(?<time>\d+:\d\d:\d\d\.\d+)\s(?<data>[0-9a-f]+)$' \
    "$work/bytewise.txt" "$work/bytewise.pcap"
editcap -F pcapng "$work/bytewise.pcap" "$here/bytewise.pcapng"
