#!/usr/bin/env python3
"""The Wireshark dissector read by Debian's tshark, on the tool's own captures.

  dissector.py DISSECTOR OLVEX-CLI OLVEX-DEVSIM TSHARK CAPINFOS CAPTURES-DIR

An update on an echoing line is captured while olvex-cli logs what it did:
the device being written splits an acknowledgement with a pause, says
another one twice, spoils a third's checksum and answers a part with an
error report; a second device of the same first six address bytes sends
stray bytes before its search answer. tshark with the dissector then reads
the capture:
  - every record decodes: no malformed packet, no Lua error, every byte in
    a frame or shown as bytes that form no frame;
  - each record's direction is the one its serial header and its flags give;
  - the frames sent are those the log says were composed, in order, with
    their firmware stage and part; the frames received with a good checksum
    are those the log says were handled (echoes included);
  - the search and version answers, the error report and the parts' data
    are those of the simulated devices and the image;
  - the split acknowledgement is one frame in the record that completes it;
  - the spoilt one is marked as a bad checksum;
and capinfos names the line and its link type. Then every capture kept in
CAPTURES-DIR decodes without a malformed packet or a Lua error.
"""

import collections
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree
from pathlib import Path

DEVICE = "00:1a:2b:3c:4d:5e:6f:70"
NEIGHBOUR = "00:1a:2b:3c:4d:5e:00:01"
DEVICES = [
    f"id={DEVICE},kind=10,version=2.7,fault=split:30:part=2,fault=twice:30:part=3,"
    "fault=badcrc:part=4:times=1,fault=error:code=-5:part=5:times=1",
    f"id={NEIGHBOUR},kind=10,version=1.3,boot,fault=garbage:5:times=1",
]
IMAGE_SIZE = 1000  # six parts, the last of 15 bytes
RTAC_HEADER = 12   # each record's serial header, before the line's bytes


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def hex_id(address):
    return address.replace(":", "").lower()


def capture_update(cli, devsim, work):
    """Flashes the device on a simulated echoing line; returns the capture,
    the log and the image."""
    image = work / "image.bin"
    image.write_bytes(os.urandom(IMAGE_SIZE))
    line, capture, log = work / "line", work / "update.pcapng", work / "update.log"
    arguments = [devsim, "--link", str(line), "--echo"]
    for device in DEVICES:
        arguments += ["--device", device]
    simulator = subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            if line.exists():
                break
            time.sleep(0.05)
        check(line.exists(), "olvex-devsim made no line")
        run = subprocess.run([cli, "flash", str(line), str(image), "--device", DEVICE, "--capture",
                              str(capture), "--log", str(log), "--quiet"],
                             capture_output=True, text=True, timeout=120)
        check(run.returncode == 0, f"olvex-cli flash: status {run.returncode}\n{run.stdout}{run.stderr}")
    finally:
        simulator.send_signal(signal.SIGINT)
        simulator.wait(timeout=30)
    return line, capture, log.read_text(), image.read_bytes()


def dissect(tshark, dissector, capture, home):
    """Both passes of tshark with the dissector, as PDML; returns the packets."""
    environment = dict(os.environ, HOME=str(home), XDG_CONFIG_HOME=str(home / "config"))
    run = subprocess.run([tshark, "-2", "-n", "-X", f"lua_script:{dissector}", "-r", str(capture),
                          "-T", "pdml"], capture_output=True, text=True, timeout=120, env=environment)
    complaints = [line for line in run.stderr.splitlines() if "Running as user" not in line]
    check(run.returncode == 0 and not complaints,
          f"tshark on {capture.name}: status {run.returncode}\n" + "\n".join(complaints))
    return [packet_of(element) for element in ElementTree.fromstring(run.stdout).iter("packet")]


def fields(element):
    """The fields directly below an element, by name, each a list."""
    found = collections.defaultdict(list)
    for child in element:
        found[child.get("name")].append(child)
    return found


def packet_of(element):
    everything = [field.get("name") for field in element.iter("field")]
    by_name = {}
    for field in element.iter("field"):
        by_name.setdefault(field.get("name"), field.get("show"))
    cpd = element.find("proto[@name='cpd']")
    packet = {
        "number": int(by_name["frame.number"]),
        "bytes": int(by_name["frame.len"]) - RTAC_HEADER,
        "event": by_name.get("rtacser.eventtype"),
        "flags": by_name.get("frame.packet_flags_direction"),
        "p2p": by_name.get("frame.p2p_dir"),
        "problems": [name for name in everything if name in ("_ws.malformed", "_ws.lua.error")],
        "cpd": cpd is not None,
        "frames": [],
    }
    if cpd is None:
        return packet
    top = fields(cpd)
    packet["direction"] = top["cpd.direction"][0].get("show") if "cpd.direction" in top else None
    for name in ("cpd.stray", "cpd.pending", "cpd.reassembled_in"):
        packet[name] = [(int(item.get("size")), item.get("show")) for item in top.get(name, [])]
    for frame in top.get("cpd.frame", []):
        inside = fields(frame)
        decoded = {name: items[0].get("show") for name, items in inside.items()}
        decoded["id"] = inside["cpd.id"][0].get("value")
        decoded["fragments"] = [int(item.get("show")) for item in inside.get("cpd.fragment", [])]
        decoded["experts"] = [field.get("name") for field in frame.iter("field")]
        if "cpd.firmware.data" in inside:
            decoded["data"] = bytes.fromhex(inside["cpd.firmware.data"][0].get("value"))
        decoded["good"] = decoded["cpd.checksum.status"] == "1"
        packet["frames"].append(decoded)
    return packet


def frames(packets, direction, good=True):
    return [(packet, frame) for packet in packets if packet.get("direction") == direction
            for frame in packet["frames"] if frame["good"] == good]


def decodes_cleanly(packets, name):
    check(packets, f"{name}: tshark read no packet")
    for packet in packets:
        check(not packet["problems"], f"{name} #{packet['number']}: {', '.join(packet['problems'])}")
        check(packet["cpd"] or packet["bytes"] <= 0, f"{name} #{packet['number']}: bytes not decoded as CPD")


def every_byte_placed(packets):
    for packet in packets:
        check(not packet["cpd.pending"], f"#{packet['number']}: bytes left in no frame: {packet['cpd.pending']}")


def directions_agree(packets):
    # DATA_TX_START, outbound, sent; DATA_RX_START, inbound, received.
    expected = {"0x01": ("0x00000002", "0", "1"), "0x02": ("0x00000001", "1", "2")}
    for packet in packets:
        seen = (packet["flags"], packet["p2p"], packet["direction"])
        check(expected.get(packet["event"]) == seen,
              f"#{packet['number']}: event {packet['event']} but flags, Wireshark and CPD say {seen}")


def log_agrees(packets, log):
    composed = re.findall(r"^ID: ([0-9A-F:]+)\ncmd_b:(\d+) cmd_n:(\d+)$", log, re.M)
    logged = [(''.join(f"{int(b, 16):02x}" for b in address.split(":")), block, number)
              for address, block, number in composed]
    sent = [(frame["id"], frame["cpd.block"], frame["cpd.number"]) for _, frame in frames(packets, "1")]
    check(sent == logged, f"frames sent:\n{sent}\nframes the log says were composed:\n{logged}")
    check(not frames(packets, "1", good=False), "a frame sent with a bad checksum")

    handled = re.findall(r"SerialP: CPDevice \[([0-9A-F:]+)\], cmd_t 0x([0-9A-F]+), cmd_b (\d+), cmd_n (\d+)", log)
    logged = collections.Counter((hex_id(address), str(int(t, 16)), block, number)
                                 for address, t, block, number in handled)
    received = collections.Counter((frame["id"], frame["cpd.type"], frame["cpd.block"], frame["cpd.number"])
                                   for _, frame in frames(packets, "2"))
    check(received == logged, f"good frames received:\n{sorted(received.items())}\n"
                              f"frames the log says were handled:\n{sorted(logged.items())}")

    parts = [(frame["cpd.firmware.stage"], frame["cpd.firmware.part"])
             for _, frame in frames(packets, "1") if "cpd.firmware.stage" in frame]
    logged = re.findall(r"CPD_Wrlss: FmwUpdate \[stage:(\d+); (\d+)/\d+ parts\]", log)
    check(parts == logged, f"firmware frames sent {parts}, logged {logged}")
    acks = [(frame["cpd.ack.stage"], frame["cpd.ack.part"])
            for _, frame in frames(packets, "2") if "cpd.ack.stage" in frame]
    logged = re.findall(r"CPD_Wrlss: ->Response OK \[(\d+):(\d+)\]", log)
    check(acks == logged, f"acknowledgements received {acks}, logged {logged}")
    print(f"ok   {len(sent)} frames sent, {sum(received.values())} received: those the log names")


def devices_agree(packets, image):
    answers = [frame for _, frame in frames(packets, "2") if "cpd.echo_of" not in frame]
    kinds = sorted((frame["id"], frame.get("cpd.kind")) for frame in answers if frame["cpd.block"] == "30")
    check(kinds == sorted([(hex_id(NEIGHBOUR), "10"), (hex_id(DEVICE), "10")]), f"search answers {kinds}")
    versions = sorted((frame["id"], frame["cpd.version.major"], frame["cpd.version.minor"],
                       frame["cpd.version.boot"]) for frame in answers if "cpd.version.major" in frame)
    check(versions == sorted([(hex_id(DEVICE), "2", "7", "0"), (hex_id(NEIGHBOUR), "1", "3", "1")]),
          f"version answers {versions}")
    errors = [(frame["id"], frame["cpd.error.code"]) for frame in answers if "cpd.error.code" in frame]
    check(errors == [(hex_id(DEVICE), "-5")], f"error reports {errors}")
    data = {}
    for _, frame in frames(packets, "1"):
        if "data" in frame:
            check(int(frame["cpd.firmware.length"]) == len(frame["data"]), "a part's length is not its data's")
            data.setdefault(int(frame["cpd.firmware.part"]), frame["data"])
    check(b"".join(data[part] for part in sorted(data)) == image, "the parts' data are not the image")
    print(f"ok   search and version answers, the error report and {len(data)} parts' data as sent")


def reassembled_and_marked(packets):
    # Each frame of several records is whole in the last of them, which the
    # others point to; the acknowledgement split by its pause is one of them.
    by_number = {packet["number"]: packet for packet in packets}
    joined = [(packet, frame) for packet, frame in frames(packets, "2") if len(frame["fragments"]) > 1]
    for packet, frame in joined:
        *earlier, last = frame["fragments"]
        check(last == packet["number"] and earlier == sorted(earlier) and earlier[-1] < last,
              f"#{packet['number']}: a frame from records {frame['fragments']}")
        for number in earlier:
            check([shown for _, shown in by_number[number]["cpd.reassembled_in"]] == [str(last)],
                  f"#{number} does not point to #{last}")
    split = [frame for _, frame in joined if frame.get("cpd.ack.part") == "2"]
    check(len(split) == 1, f"the acknowledgement of part 2 reassembled {len(split)} times, once expected")
    bad = frames(packets, "2", good=False)
    check(len(bad) == 1 and bad[0][1].get("cpd.ack.part") == "4" and "cpd.checksum.bad" in bad[0][1]["experts"],
          f"frames with a bad checksum: {[frame.get('cpd.ack.part') for _, frame in bad]}")
    stray = sum(size for packet in packets for size, _ in packet["cpd.stray"])
    check(stray == 3, f"{stray} bytes that form no frame, the 3 stray bytes expected")
    print(f"ok   the split acknowledgement whole in #{split[0]['fragments'][-1]}, the spoilt one's checksum "
          "marked, 3 stray bytes")


def capinfos_agrees(capinfos, capture, line):
    report = subprocess.run([capinfos, str(capture)], capture_output=True, text=True, timeout=60).stdout
    interface = report.split("Interface #0 info:", 1)[-1]
    check("Number of interfaces in file: 1" in report
          and re.search(rf"^\s*Name = {re.escape(str(line))}$", interface, re.M)
          and re.search(r"^\s*Encapsulation = RTAC serial-line", interface, re.M),
          f"capinfos:\n{report}")
    print(f"ok   capinfos: one interface, {line.name}, RTAC serial-line")


def main():
    dissector, cli, devsim, tshark, capinfos, kept = sys.argv[1:7]
    with tempfile.TemporaryDirectory() as folder:
        work = Path(folder)
        line, capture, log, image = capture_update(cli, devsim, work)
        packets = dissect(tshark, dissector, capture, work)
        decodes_cleanly(packets, capture.name)
        every_byte_placed(packets)
        directions_agree(packets)
        print(f"ok   {len(packets)} records decoded, each in the direction its header and flags give")
        log_agrees(packets, log)
        devices_agree(packets, image)
        reassembled_and_marked(packets)
        capinfos_agrees(capinfos, capture, line)
        for path in sorted(Path(kept).glob("*.pcapng")):
            decodes_cleanly(dissect(tshark, dissector, path, work), path.name)
            print(f"ok   {path.name} decoded")


if __name__ == "__main__":
    main()
