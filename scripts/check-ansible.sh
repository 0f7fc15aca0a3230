#!/usr/bin/env bash
# Checks the Ansible recipe in deploy/ansible on this machine:
#   - ansible-lint (offline) finds nothing in the playbook and the role;
#   - flash.yml runs against gateways that are this machine itself
#     (ansible_connection=local), two with two lines each played by
#     olvex-devsim on pseudo-terminals, and a site without a gateway
#     (olvex_on_controller) whose two lines the controller reaches over the
#     network: one through ser2net (RFC 2217) to olvex-devsim, one at a port
#     where nothing listens until the retry, as an integrator would use it:
#       on a fresh fleet --check tells to scan first, while the site run from
#         the controller needs no package (the built olvex-cli);
#       the scan installs the package while another program holds the dpkg
#         lock for a few seconds (the install waits), honours olvex_batch from
#         the inventory, reports a gateway whose install fails with the
#         reason, and writes nothing;
#       --check refuses an image changed after signing (olvex_require_signed,
#         the key in olvex_trusted_keys) on every gateway in olvex-cli's
#         words, and a named device that is not on its line, writes nothing,
#         and leaves nothing on the gateways (no image, signature or key);
#       the flash of an image signed with a key made here, signatures
#         required, puts the key in the key folder as root's and writes the
#         image byte-exact into every device of its type,
#         over the network too, leaves a VT-TALLY-16 beside them alone
#         (reported not selected, other type), reports every device with its
#         outcome and the network line that cannot be reached as a failed line
#         with olvex-cli's reason, fails only the gateway with a device that
#         answers with an error and the site with that line, and the retry
#         file names them alone; the report and the fleet state carry the
#         signer's key id, the signed type and version;
#       mistakes in the settings stop the run before any gateway is
#         contacted, each said once in one line and in the report, nothing
#         written anywhere, the retry file and the fleet state kept: values
#         given with -e (olvex_batch=ten among them, an unsigned image with
#         olvex_require_signed), and a gateway's own
#         (devices as a string, olvex_lines as a string, a folder another
#         gateway of the machine has);
#       the retry, run from another folder once the missing device server
#         (ser2net, raw TCP) is there, writes only the failed device and the
#         one behind that server; the retry file is gone and the fleet state
#         says the fleet is done;
#       SIGINT to ansible-playbook during the parts stops every olvex-cli, on
#         the gateways' lines and the network's (the device being written is
#         given up), and the run's report is written, each device not started
#         with its reason; a gateway with a mistake of its own is left out
#         (olvex_skip_misconfigured) and counted as not reached.
# The role installs our package here as on a gateway; it is removed again at
# the end unless it was installed before. Needs root (or sudo without a
# password). Called by scripts/test.sh after the package check.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

fail() {
    echo "check-ansible: $*" >&2
    exit 1
}

scripts/setup.sh --tests
echo "-- ansible-lint"
(cd deploy/ansible && ansible-lint --offline --nocolor -q) || fail "ansible-lint found problems"

echo "-- the plan knows a device updated with this image by any name the inventory gave it"
# One device written before by a line that named it 00-1A-..., one by a line
# of all devices; the third named is new. Only the third is written, and with
# it updated too the line is not run.
python3 - deploy/ansible/roles/olvex_gateway/files/fleet_report.py <<'PLAN' || fail "the plan writes a device again"
import json, subprocess, sys, tempfile
def device(n, **more):
    return dict(host="gw", port="/dev/ttyUSB0", id=f"00:1a:2b:3c:4d:3{n}:00:01",
                address=f"00:1a:2b:3c:4d:3{n}", image_sha256="ab", outcome="updated", **more)
def plan(devices):
    with tempfile.NamedTemporaryFile("w", suffix=".json") as state:
        json.dump({"devices": devices, "lines": []}, state)
        state.flush()
        gateway = {"host": "gw", "mode": "flash", "image": "/i.bin", "imageType": "VT-TALLY-8",
                   "imageSha256": "ab", "cli": "olvex-cli", "logDir": "/l", "state": state.name,
                   "lines": [{"port": "/dev/ttyUSB0", "devices": [
                       "00-1A-2B-3C-4D-31", "00:1a:2b:3c:4d:32:00:01", " 00:1a:2b:3c:4d:33"]}]}
        return json.loads(subprocess.run([sys.executable, sys.argv[1], "plan", json.dumps(gateway)],
                                         check=True, capture_output=True, text=True).stdout)[0]
known = [device(1, named_as=["00-1A-2B-3C-4D-31"]), device(2)]
line = plan(known)
assert line["argv"][line["argv"].index("--device") + 1] == "00:1a:2b:3c:4d:33", line
line = plan(known + [device(3, named_as=["00:1a:2b:3c:4d:33"])])
assert line["argv"] is None and line["skip"], line
PLAN

deb=$(realpath "$(scripts/package.sh | tail -n 1)")
devsim=build-release/devsim/olvex-devsim
cli=$PWD/build-release/cli/olvex-cli # the controller's own, for the site without a gateway
[ -x "$devsim" ] || fail "$devsim was not built"
[ -x "$cli" ] || fail "$cli was not built"
ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
[ -x "$ser2net" ] || fail "ser2net is not installed"
package=$(dpkg-deb -f "$deb" Package)
was_installed=0
package_installed "$package" && was_installed=1
become=false
[ "$(id -u)" -eq 0 ] || { sudo -n true 2>/dev/null && become=true; } || fail "needs root or sudo without a password"
playbook_yml=$PWD/deploy/ansible/flash.yml

work=$(mktemp -d)
sims=()
servers=()
stop_lines() {
    local pid
    for pid in "${sims[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
    for pid in "${sims[@]}"; do wait "$pid" || fail "olvex-devsim $pid ended with status $?"; done
    sims=()
}
cleanup() {
    local pid
    for pid in "${sims[@]}" "${servers[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
    wait
    [ -z "${key_name:-}" ] || $(root_prefix) rm -f "/etc/olvex-updater/keys/$key_name"
    if [ $was_installed -eq 0 ] && package_installed "$package"; then
        echo "-- apt-get purge $package"
        $(root_prefix) env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -qq \
            purge "$package" >/dev/null 2>&1 || echo "check-ansible: apt-get purge $package failed" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Two lines a gateway. gw-south runs its lines side by side and has a device
# that answers part 2 with an error; gw-north runs its lines one after the
# other, the second holding a VT-TALLY-16 beside a VT-TALLY-8. The site
# site-net runs its lines side by side from the controller: net-1 behind
# ser2net with RFC 2217, net-2 behind a device server that is not there until
# the retry.
declare -A line_devices=(
    [south-1]="id=00:1a:2b:3c:4d:11:00:01,kind=tally8,version=2.7 id=00:1a:2b:3c:4d:12:00:01,kind=tally8,version=2.6"
    [south-2]="id=00:1a:2b:3c:4d:21:00:01,kind=tally8,version=2.7 id=00:1a:2b:3c:4d:22:00:01,kind=tally8,version=2.7,fault=error:part=2"
    [north-1]="id=00:1a:2b:3c:4d:31:00:01,kind=tally8,version=2.6"
    [north-2]="id=00:1a:2b:3c:4d:41:00:01,kind=tally8,version=2.5 id=00:1a:2b:3c:4d:42:00:01,kind=tally16,version=1.4"
    [net-1]="id=00:1a:2b:3c:4d:51:00:01,kind=tally8,version=2.6"
    [net-2]="id=00:1a:2b:3c:4d:61:00:01,kind=tally8,version=2.6"
)
lines=(south-1 south-2 north-1 north-2 net-1 net-2)
start_lines() { # folder for the saved images and what the simulators say, olvex-devsim options...
    local folder=$1 line description arguments
    shift
    for line in "${lines[@]}"; do
        mkdir -p "$folder/$line"
        arguments=()
        for description in ${line_devices[$line]}; do arguments+=(--device "$description"); done
        "$devsim" --pace 0 "$@" --link "$work/$line" --save-images "$folder/$line" "${arguments[@]}" \
            >"$folder/$line.out" 2>&1 &
        sims+=($!)
    done
    for line in "${lines[@]}"; do
        for _ in $(seq 50); do [ -e "$work/$line" ] && break; sleep 0.1; done
        [ -e "$work/$line" ] || fail "olvex-devsim made no line $work/$line"
    done
}
# A device server for a line: ser2net in the foreground on a loopback port,
# without a banner. It opens the line's pseudo-terminal at each connection,
# so it serves whichever olvex-devsim start_lines has put there.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
start_server() { # line, port, accepter (tcp or telnet(rfc2217),tcp)
    local hex
    cat >"$work/ser2net-$1.yaml" <<EOF
%YAML 1.1
---
connection: &$1
  accepter: $3,127.0.0.1,$2
  connector: serialdev,$work/$1,9600n81,local
  options:
    banner: ""
EOF
    "$ser2net" -n -u -c "$work/ser2net-$1.yaml" -P "$work/ser2net-$1.pid" >"$work/ser2net-$1.out" 2>&1 &
    servers+=($!)
    hex=$(printf '%04X' "$2")
    for _ in $(seq 50); do
        awk -v end=":$hex" '$4 == "0A" && substr($2, length($2) - 4) == end { found = 1 } END { exit !found }' \
            /proc/net/tcp && return 0
        sleep 0.1
    done
    cat "$work/ser2net-$1.out"
    fail "ser2net does not listen on 127.0.0.1:$2"
}
net_port=$(free_port)  # net-1, RFC 2217
down_port=$(free_port) # net-2: nothing listens here until the retry
[ "$net_port" != "$down_port" ] || down_port=$(free_port)
start_server net-1 "$net_port" "telnet(rfc2217),tcp"

# Nothing went into any device: each simulator ended without a firmware frame.
nothing_written() { # folder
    ! grep -H ' [1-9][0-9]* firmware frames' "$1"/*.out || fail "a device got firmware"
}

inventory() { # olvex_batch, the devices north-1 names ("" for all), more YAML for hosts
    local north1=""
    [ -z "$2" ] || north1="
          devices: $2"
    cat >"$work/inventory.yml" <<EOF
gateways:
  vars:
    ansible_connection: local
    ansible_python_interpreter: "{{ ansible_playbook_python }}"
    ansible_become: $become
    olvex_poll_seconds: 1
    olvex_batch: $1
    olvex_deb: $deb
    olvex_reports: $work/reports
    olvex_trusted_keys: ["$work/keys/$key_name"]
  hosts:
    gw-south:
      olvex_gateway_dir: $work/gw-south
      olvex_lines_side_by_side: true
      olvex_lines:
        - port: $work/south-1
        - port: $work/south-2
    gw-north:
      olvex_gateway_dir: $work/gw-north
      olvex_lines:
        - port: $work/north-1$north1
        - port: $work/north-2
    site-net:
      olvex_on_controller: true
      olvex_cli: $cli
      olvex_lines_side_by_side: true
      olvex_lines:
        - port: rfc2217://127.0.0.1:$net_port
        - port: tcp://127.0.0.1:$down_port
${3:-}
EOF
}
head -c 394 /dev/urandom >"$work/small.bin"
head -c $((2 * 197 + 50)) /dev/urandom >"$work/image.bin" # three parts
head -c $((40 * 197)) /dev/urandom >"$work/image-2.bin"   # not signed
# The maker's key, made now (no password) and trusted by every run below;
# image.bin signed with it, and tampered.bin signed, then one byte changed.
mkdir "$work/keys"
key_name=check-ansible-$(basename "$work").pub
minisign -G -W -p "$work/keys/$key_name" -s "$work/keys/secret.key" </dev/null >/dev/null \
    || fail "minisign could not make a key"
key_id=$(python3 - "$work/keys/$key_name" <<'EOF'
import base64, sys
key = base64.b64decode(open(sys.argv[1]).read().splitlines()[1])
print("%016X" % int.from_bytes(key[2:10], "little"))
EOF
)
cp "$work/image.bin" "$work/tampered.bin"
for signed in image.bin tampered.bin; do
    minisign -S -s "$work/keys/secret.key" -m "$work/$signed" -t "type=VT-TALLY-8 version=2.8" </dev/null \
        >/dev/null || fail "minisign could not sign $signed"
done
python3 - "$work/tampered.bin" <<'EOF'
import sys
with open(sys.argv[1], "r+b") as image:
    image.seek(200)
    byte = image.read(1)[0]
    image.seek(200)
    image.write(bytes([byte ^ 0x01]))
EOF
image=(-e "olvex_image=$work/image.bin" -e olvex_image_type=VT-TALLY-8)
export ANSIBLE_NOCOLOR=1
run_playbook() { # log name, folder to run in, ansible-playbook arguments...
    local log=$work/$1.log
    (cd "$2" && exec ansible-playbook -i "$work/inventory.yml" "$playbook_yml" "${@:3}") >"$log" 2>&1
}
playbook() { # log name, expected exit status, ansible-playbook arguments...
    local log=$work/$1.log expected=$2 status=0 started=$SECONDS
    shift 2
    run_playbook "$(basename "$log" .log)" deploy/ansible "$@" || status=$?
    echo "ansible-playbook $*: exit status $status, $((SECONDS - started)) s"
    [ $status -eq "$expected" ] || { cat "$log"; fail "ansible-playbook ended with $status, not $expected"; }
    ! grep -n 'FAILED - RETRYING' "$log" || fail "a run that goes well printed FAILED"
}
recap() { # host, log name: its line of the play recap
    sed -n "s/^$1 *: //p" "$work/$2.log"
}
summary() { # the last run's summary, without its first line (the run's name)
    tail -n +2 "$work/reports/latest/summary.txt"
}
columns() { # fleet.csv, columns...: those columns of each row, joined by commas
    python3 - "$@" <<'EOF'
import csv, sys
with open(sys.argv[1], newline="", encoding="utf-8") as table:
    for row in csv.DictReader(table):
        print(",".join(row[column] for column in sys.argv[2:]))
EOF
}
outcomes() { # host, address, outcome, parts, parts total, reason of each row of the last run
    columns "$work/reports/latest/fleet.csv" host address outcome parts parts_total reason | LC_ALL=C sort
}
# What olvex-cli says of net-2 while nothing listens there, as the report has it.
refused="connection refused; nothing listens there (the device server is off, or its port is another)"
unreached="tcp://127.0.0.1:$down_port: the device server cannot be reached, or the connection was lost (exit status 3): $refused"

echo "-- a fresh fleet: --check says to scan first; the site run from the controller needs no package"
inventory 1 ""
start_lines "$work/lines-1"
if [ $was_installed -eq 0 ]; then
    playbook fresh 2 --check "${image[@]}"
    grep -q 'olvex-cli is not installed at /usr/bin/olvex-cli on gw-south (--check installs nothing: look at the fleet first with -e olvex_mode=scan' \
        "$work/fresh.log" || { cat "$work/fresh.log"; fail "no advice to scan first"; }
    grep -qxF "site-net: 1 would be updated; $unreached" "$work/reports/latest/summary.txt" \
        || { cat "$work/reports/latest/summary.txt"; fail "the site run from the controller did not run its lines"; }
    [ ! -e "$work/reports/controller/site-net" ] || fail "the dry run left $(find "$work/reports/controller")"
else
    echo "(skipped: $package was installed before the check)"
fi

echo "-- scan: installs while the dpkg lock is held, batches of two, a broken package reported"
inventory 2 "" "    gw-broken:
      olvex_gateway_dir: $work/gw-broken
      olvex_deb: $work/small.bin
      olvex_lines:
        - port: $work/broken-1"
# unattended-upgrades as it would hold the lock on a gateway: from before the
# run until a gateway has our package, and three seconds more.
$(root_prefix) python3 - "$work" <<'EOF' &
import fcntl, glob, os, sys, time
work = sys.argv[1]
with open("/var/lib/dpkg/lock-frontend", "w") as lock:
    fcntl.lockf(lock, fcntl.LOCK_EX)
    open(os.path.join(work, "locked"), "w").close()
    for _ in range(600):
        if glob.glob(os.path.join(work, "gw-*", "olvex-updater_*.deb")):
            break
        time.sleep(0.1)
    time.sleep(3)
    with open(os.path.join(work, "released"), "w") as out:
        out.write(f"{int(time.time())}\n")  # as stat rounds a file's time: down
EOF
holder=$!
for _ in $(seq 50); do [ -e "$work/locked" ] && break; sleep 0.1; done
[ -e "$work/locked" ] || fail "the dpkg lock was not taken"
playbook scan 2 -e olvex_mode=scan
wait $holder
if [ $was_installed -eq 0 ]; then
    installed=$(stat -c %Y "/var/lib/dpkg/info/$package.list")
    [ "$installed" -ge "$(cat "$work/released")" ] || fail "$package was installed while the dpkg lock was held"
fi
[ "$(grep -c '^PLAY \[Scan or flash the lines' "$work/scan.log")" -eq 2 ] \
    || fail "olvex_batch: 2 in the inventory did not make two batches of two gateways"
diff -u - <(summary) <<EOF || fail "the scan's summary differs (- expected, + written)"
gw-south: 4 devices found on 2 lines
gw-north: 3 devices found on 2 lines
site-net: 1 device found on 2 lines; $unreached
gw-broken: not run: Read the package's name and version: non-zero return code: dpkg-deb: error: '$work/gw-broken/small.bin' is not a Debian format archive
all: 8 devices found (4 sites, 2 failed, 1 not reached; 7 lines, 2 not reached)
EOF
grep -q "^gw-broken,$work/broken-1,,,,not run,.*is not a Debian format archive" "$work/reports/latest/fleet.csv" \
    || fail "the gateway whose install failed has no row with the reason"
[ "$(cat "$work/reports/flash.retry")" = "site-net
gw-broken" ] || fail "the retry file names '$(cat "$work/reports/flash.retry")'"
[ -z "$(find "$work/reports/controller" -name '*.deb')" ] || fail "the package went to the site run from the controller"

echo "-- --check: an image changed after signing and a named device not on the line are refused"
inventory 3 '["00:1a:2b:3c:4d:31", "00:1a:2b:3c:4d:39"]'
playbook refused 2 --check -e "olvex_image=$work/tampered.bin" -e olvex_image_type=VT-TALLY-8 \
    -e olvex_require_signed=true
refusal="refuses the image, so no gateway writes anything (exit status 2): olvex-cli: image refused, its signature does not verify with key $key_id: the image or the signature was changed after signing: "
for site in gw-south gw-north site-net; do
    grep -q "^$site: not run: olvex-cli on [a-z-]* $refusal" "$work/reports/latest/summary.txt" \
        || { cat "$work/reports/latest/summary.txt"; fail "$site was not kept from its lines by the refusal"; }
done
grep -qF "$refusal" "$work/reports/latest/fleet.csv" || { cat "$work/reports/latest/fleet.csv"; fail "fleet.csv does not give the refusal"; }
[ -z "$(find "$work"/gw-*/logs "$work/reports/controller" -name "$(basename "$(readlink "$work/reports/latest")")")" ] \
    || fail "lines ran with a refused image"
playbook check 2 --check "${image[@]}"
diff -u - <(outcomes) <<EOF || fail "the dry run's report differs (- expected, + written)"
gw-north,00:1a:2b:3c:4d:31,would update,,,
gw-north,00:1a:2b:3c:4d:39,not found,,,named but not on the line
gw-north,00:1a:2b:3c:4d:41,would update,,,
gw-north,00:1a:2b:3c:4d:42,not selected,,,other type
gw-south,00:1a:2b:3c:4d:11,would update,,,
gw-south,00:1a:2b:3c:4d:12,would update,,,
gw-south,00:1a:2b:3c:4d:21,would update,,,
gw-south,00:1a:2b:3c:4d:22,would update,,,
site-net,,line failed,,,$refused
site-net,00:1a:2b:3c:4d:51,would update,,,
EOF
[[ $(recap gw-north check) == *" failed=1 "* ]] || fail "gw-north did not fail: $(recap gw-north check)"
[[ $(recap site-net check) == *" failed=1 "* ]] || fail "site-net did not fail: $(recap site-net check)"
[[ $(recap gw-south check) == *" failed=0 "* ]] || fail "gw-south failed: $(recap gw-south check)"
grep -q "^gw-north: 2 would be updated, 1 not selected (other type); $work/north-1: not found on the line: 00:1a:2b:3c:4d:39$" \
    "$work/reports/latest/summary.txt" || { cat "$work/reports/latest/summary.txt"; fail "the missing device is not named"; }
run=$(basename "$(readlink "$work/reports/latest")")
[ -z "$(find "$work"/gw-* "$work/reports/controller" -name 'image.bin*' -o -name 'tampered.bin*' -o -name "$run"
        find /tmp -maxdepth 1 -name 'ansible.*-olvex-image' -o -name "ansible.*-olvex-$run")" ] \
    || fail "--check left the image, its signature or its scans behind"
[ ! -e "/etc/olvex-updater/keys/$key_name" ] || fail "--check installed the trusted key"
stop_lines
nothing_written "$work/lines-1"
[ -z "$(find "$work/lines-1" -name '*.bin')" ] || fail "a device saved an image in a dry run"

echo "-- flash: only the image's type written, signed and signatures required, gw-south's failing device fails it alone"
inventory 3 "" # the gateways and the site in one batch
start_lines "$work/lines-2"
playbook flash 2 "${image[@]}" -e olvex_require_signed=true
[ "$(stat -c '%U:%G %a' "/etc/olvex-updater/keys/$key_name")" = "root:root 644" ] \
    || fail "the trusted key is not in the key folder as root's, 0644"
stop_lines
[[ $(recap gw-south flash) == *" failed=1 "* ]] || fail "gw-south did not fail: $(recap gw-south flash)"
[[ $(recap gw-north flash) == *" failed=0 "* ]] || fail "gw-north failed: $(recap gw-north flash)"
[[ $(recap site-net flash) == *" failed=1 "* ]] || fail "site-net did not fail: $(recap site-net flash)"
[ "$(cat "$work/reports/flash.retry")" = "gw-south
site-net" ] || fail "the retry file names '$(cat "$work/reports/flash.retry")', not gw-south and site-net"
for saved in south-1/device-1-001a2b3c4d110001 south-1/device-2-001a2b3c4d120001 \
    south-2/device-1-001a2b3c4d210001 north-1/device-1-001a2b3c4d310001 north-2/device-1-001a2b3c4d410001 \
    net-1/device-1-001a2b3c4d510001; do
    cmp "$work/lines-2/$saved.bin" "$work/image.bin" || fail "$saved.bin is not the image"
done
grep -q '^device 2 00:1a:2b:3c:4d:22:00:01 kind 10: image 197 bytes, aborted, ' "$work/lines-2/south-2.out" \
    || { cat "$work/lines-2/south-2.out"; fail "the failing device was not given up"; }
grep -q '^device 2 00:1a:2b:3c:4d:42:00:01 kind 11: image 0 bytes, none, 0 firmware frames$' "$work/lines-2/north-2.out" \
    || { cat "$work/lines-2/north-2.out"; fail "the VT-TALLY-16 was written"; }
diff -u - <(outcomes) <<EOF || fail "fleet.csv lists other outcomes (- expected, + listed)"
gw-north,00:1a:2b:3c:4d:31,updated,3,3,
gw-north,00:1a:2b:3c:4d:41,updated,3,3,
gw-north,00:1a:2b:3c:4d:42,not selected,,,other type
gw-south,00:1a:2b:3c:4d:11,updated,3,3,
gw-south,00:1a:2b:3c:4d:12,updated,3,3,
gw-south,00:1a:2b:3c:4d:21,updated,3,3,
gw-south,00:1a:2b:3c:4d:22,failed,1,3,error answer
site-net,,line failed,,,$refused
site-net,00:1a:2b:3c:4d:51,updated,3,3,
EOF
report=$work/reports/latest
sha=$(sha256sum "$work/image.bin" | cut -d' ' -f1)
diff -u - "$report/summary.txt" <<EOF || fail "the summary differs (- expected, + written)"
run $(basename "$(readlink "$report")"): flash of image.bin for VT-TALLY-8 (SHA-256 $sha), signed by key $key_id for VT-TALLY-8, version 2.8
gw-south: 3 updated, 1 failed, 0 not started; $work/south-2: some device failed (exit status 1): 00:1a:2b:3c:4d:22 failed
gw-north: 2 updated, 0 failed, 0 not started, 1 not selected (other type)
site-net: 1 updated, 0 failed, 0 not started; $unreached
all: 6 updated, 1 failed, 0 not started, 1 not selected (other type) (3 sites, 2 failed; 6 lines, 1 not reached)
fleet: not done, 6 of 7 devices updated with image.bin; 1 of 6 lines not reached (their devices are not counted); lines to do: gw-south $work/south-2, site-net tcp://127.0.0.1:$down_port (fleet-state.json says why)
EOF
! columns "$report/fleet.csv" line_started line_ended image image_sha256 image_type signer_key_id signed_type signed_version \
    | grep -vx "[^,]\+,[^,]\+,image.bin,$sha,VT-TALLY-8,$key_id,VT-TALLY-8,2.8" \
    || fail "a row lacks the line's times, the image or its signature"
[ "$(columns "$work/reports/fleet-state.csv" outcome image signer_key_id signed_type signed_version | grep '^updated,' | sort -u)" \
    = "updated,image.bin,$key_id,VT-TALLY-8,2.8" ] || { cat "$work/reports/fleet-state.csv"; fail "the fleet state lacks the signature"; }
grep -q -- '"--require-signed"' "$report/gw-north/north-1.run.json" || fail "the lines were not told --require-signed"
grep -q '"exitCode": 1' "$report/gw-south/south-2.json" || fail "the failed line's own report did not come home"
grep -q 'SerialP: ' "$report/gw-south/south-2.log" || fail "the failed line's diagnostic log did not come home"
grep -q "failed.*$work/south-2: some device failed (exit status 1)" "$work/flash.log" || fail "gw-south failed without saying why"
grep -Eq '^  \[gw-north\] north-2: ended after [0-9]+:[0-9]{2}, exit status 0$' "$work/flash.log" \
    || fail "no progress line for an ended line"

echo "-- mistakes in the settings stop the run before any gateway is contacted, and keep the retry file"
stopped() { # log name, the mistakes' sentences...: each said once, in the report; nothing ran, nothing changed
    local log=$work/$1.log sentence run
    shift
    run=$work/reports/$(basename "$(readlink "$work/reports/latest")")
    ! grep -n 'argument_spec\|TASK \[olvex_gateway : Reach the gateway\]' "$log" \
        || fail "the run went on to the gateways, or said its mistake at length"
    for sentence in "$@"; do
        [ "$(grep '^fatal: ' "$log" | grep -cF "$sentence")" -eq 1 ] || { cat "$log"; fail "not said once: $sentence"; }
        grep -qF "$sentence" "$run/summary.txt" || { cat "$run/summary.txt"; fail "the summary does not say: $sentence"; }
        grep -qF "$sentence" "$run/fleet.csv" || { cat "$run/fleet.csv"; fail "fleet.csv does not say: $sentence"; }
    done
    ! columns "$run/fleet.csv" outcome | grep -vx 'not run' || fail "a gateway of a stopped run is not 'not run'"
    grep -qxF 'fleet: nothing ran; fleet-state.json and flash.retry are as the last run left them' "$run/summary.txt" \
        || { cat "$run/summary.txt"; fail "the summary does not say that nothing ran"; }
    [ -z "$(find "$work"/gw-* "$work/reports/controller" -path "*/logs/$(basename "$run")")" ] || fail "lines ran"
    cmp "$work/retry.before" "$work/reports/flash.retry" || fail "the retry file changed"
    cmp "$work/state.before" "$work/reports/fleet-state.json" || fail "the fleet state changed"
}
cp "$work/reports/flash.retry" "$work/retry.before"
cp "$work/reports/fleet-state.json" "$work/state.before"
start_lines "$work/lines-5"
playbook settings 2 -e "olvex_image=$work/image-2.bin" -e olvex_image_type=VT-TALLY8 -e olvex_skip_updated=maybe \
    -e olvex_lines=/dev/ttyUSB0 -e olvex_batch=ten -e olvex_require_signed=true
stopped settings "olvex_lines (given with -e) is '/dev/ttyUSB0', not a list of lines (- port: /dev/ttyUSB0)" \
    "olvex_require_signed is true, but the image $work/image-2.bin has no signature beside it ($work/image-2.bin.minisig)" \
    "olvex_image_type (given with -e) is 'VT-TALLY8', not one of VT-PROBE, VT-TALLY-8, VT-TALLY-16, VT-RELAY (did you mean VT-TALLY-8?)" \
    "olvex_skip_updated (given with -e) is 'maybe', not true or false" \
    "olvex_batch (given with -e) is 'ten', not a number of gateways or a percentage (10, 25%)"
grep -qx 'gw-south: not run: stopped before its lines' "$work/reports/latest/summary.txt" \
    || { cat "$work/reports/latest/summary.txt"; fail "gw-south is not said to be stopped"; }
inventory 3 '"00:1a:2b:3c:4d:31"' "    gw-typo:
      olvex_lines: $work/typo
    gw-twin:
      olvex_gateway_dir: $work/gw-south
      olvex_lines:
        - port: $work/twin-1"
playbook own 2 "${image[@]}"
stopped own "olvex_lines of gw-north: devices of $work/north-1 is '00:1a:2b:3c:4d:31', not 'all' or a list of addresses in quotes (devices: ['00:1a:2b:3c:4d:31'])" \
    "olvex_lines of gw-typo is '$work/typo', not a list of lines (- port: /dev/ttyUSB0)" \
    "olvex_gateway_dir of gw-twin is '$work/gw-south', as that of gw-south on the same machine (the controller): give each gateway one of its own"
grep -qxF "stopped before any line, nothing written: the settings of gw-north, gw-typo, gw-twin are wrong (olvex_skip_misconfigured=true goes on without a gateway whose own settings are wrong)" \
    "$work/reports/latest/summary.txt" || { cat "$work/reports/latest/summary.txt"; fail "the stopped run's summary differs"; }
stop_lines
nothing_written "$work/lines-5"

echo "-- the retry, from another folder, writes only the device that failed and the line now reached"
inventory 3 ""
line_devices[south-2]=${line_devices[south-2]%,fault=*}
start_lines "$work/lines-3"
start_server net-2 "$down_port" tcp
status=0
started=$SECONDS
run_playbook retry "$work" "${image[@]}" --limit "@$work/reports/flash.retry" || status=$?
echo "ansible-playbook --limit @flash.retry (from $work): exit status $status, $((SECONDS - started)) s"
stop_lines
[ $status -eq 0 ] || { cat "$work/retry.log"; fail "the retry ended with $status"; }
grep -q '^device 2 00:1a:2b:3c:4d:22:00:01 kind 10: image 444 bytes, complete, 3 firmware frames' \
    "$work/lines-3/south-2.out" || { cat "$work/lines-3/south-2.out"; fail "the retry did not write the failed device"; }
cmp "$work/lines-3/net-2/device-1-001a2b3c4d610001.bin" "$work/image.bin" \
    || fail "the retry did not write the device behind the device server now there"
[ "$(cat "$work"/lines-3/*.out | grep -c ' [1-9][0-9]* firmware frames')" -eq 2 ] \
    || { cat "$work"/lines-3/*.out; fail "the retry wrote other devices too"; }
[ ! -e "$work/reports/flash.retry" ] || fail "the retry file outlived a retry that ended well"
grep -q '"done": true' "$work/reports/fleet-state.json" || fail "the fleet state does not say the fleet is done"
tail -n 1 "$work/reports/latest/summary.txt" | grep -qx 'fleet: done, all 8 devices updated with image.bin' \
    || { cat "$work/reports/latest/summary.txt"; fail "the retry's summary differs"; }

echo "-- Ctrl-C during the parts stops every olvex-cli and writes the report; gw-north, its devices mistyped, left out"
inventory 3 '"00:1a:2b:3c:4d:31"'
start_lines "$work/lines-4" --pace 9600
(cd deploy/ansible && exec ansible-playbook -i "$work/inventory.yml" "$playbook_yml" -e olvex_skip_misconfigured=true \
    -e "olvex_image=$work/image-2.bin" -e olvex_image_type=VT-TALLY-8) >"$work/interrupted.log" 2>&1 &
pid=$!
# Until a gateway's line and both of the site's, side by side, write parts.
until grep -qs '%  [0-9]*/40 parts' "$work"/gw-*/logs/*/status.json \
    && [ "$(cat "$work"/reports/controller/site-net/logs/*/status.json | grep -c '%  [0-9]*/40 parts')" -eq 2 ]; do
    kill -0 $pid 2>/dev/null || { cat "$work/interrupted.log"; fail "the run ended before its parts"; }
    sleep 0.2
done
kill -INT $pid
started=$SECONDS
status=0
wait $pid || status=$?
echo "ansible-playbook after SIGINT: exit status $status, $((SECONDS - started)) s"
[ $status -eq 2 ] || { cat "$work/interrupted.log"; fail "the interrupted run ended with $status, not 2"; }
! pgrep -a -x olvex-cli | grep -F "$work/" || fail "olvex-cli still runs after the interrupted run"
stop_lines
grep -q ' aborted, ' "$work"/lines-4/*.out || { cat "$work"/lines-4/*.out; fail "no device was given up"; }
for line in net-1 net-2; do
    grep -q ' aborted, ' "$work/lines-4/$line.out" || { cat "$work/lines-4/$line.out"; fail "$line's device was not given up"; }
done
grep -q "interrupted (SIGINT) (exit status 130)" "$work/reports/latest/summary.txt" \
    || { cat "$work/reports/latest/summary.txt"; fail "the interrupted run's report says nothing of it"; }
grep -q "image-2.bin" "$work/reports/latest/summary.txt" || fail "the interrupted run's report is not its own"
grep -q ',failed,.*,interrupted,' "$work/reports/latest/fleet.csv" || fail "no device reported interrupted"
grep -q '^site-net,.*,failed,.*,interrupted,' "$work/reports/latest/fleet.csv" \
    || fail "no device behind a device server reported interrupted"
for table in "$work/reports/latest/fleet.csv" "$work/reports/fleet-state.csv"; do
    unstarted=$(columns "$table" outcome reason | grep '^not started,' | sort -u)
    [ "$unstarted" = 'not started,interrupted before its turn' ] \
        || { cat "$table"; fail "$table: no device not started, or one without its reason"; }
done
grep -qxF "gw-north: not run: olvex_lines of gw-north: devices of $work/north-1 is '00:1a:2b:3c:4d:31', not 'all' or a list of addresses in quotes (devices: ['00:1a:2b:3c:4d:31'])" \
    "$work/reports/latest/summary.txt" || { cat "$work/reports/latest/summary.txt"; fail "gw-north was not left out with its mistake"; }
grep -q 'all: .* (3 sites, 3 failed, 1 not reached; 6 lines, 2 not reached)$' "$work/reports/latest/summary.txt" \
    || { cat "$work/reports/latest/summary.txt"; fail "the run's counts do not say what was not reached"; }
grep -Eq '^fleet: not done, [0-9] of 6 devices updated with image-2.bin; 1 of 3 sites and 2 of 6 lines not reached \(their devices are not counted\); lines to do: ' \
    "$work/reports/latest/summary.txt" || { cat "$work/reports/latest/summary.txt"; fail "the fleet's count does not say what was not reached"; }
[[ $(recap gw-north interrupted) == *" failed=1 "* ]] || fail "gw-north, left out, did not fail: $(recap gw-north interrupted)"
! grep ' [1-9][0-9]* firmware frames' "$work"/lines-4/north-*.out || fail "gw-north, left out, wrote"
echo "the playbook and the role pass ansible-lint; a scan installs waiting for the dpkg lock and writes nothing; --check refuses what the flash would and leaves nothing; the flash writes only the image's type, over the network too, and reports every device and the line it could not reach; a mistake in the settings stops the run before any gateway, said once; the retry writes only what is left; Ctrl-C stops the lines and keeps the report, a gateway with a mistake of its own left out"
