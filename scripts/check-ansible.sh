#!/usr/bin/env bash
# Checks the Ansible recipe in deploy/ansible on this machine:
#   - ansible-lint (offline) finds nothing in the playbook and the role;
#   - flash.yml runs against gateways that are this machine itself
#     (ansible_connection=local), two with two lines each played by
#     olvex-devsim on pseudo-terminals, as an integrator would use it:
#       on a fresh fleet --check tells to scan first;
#       the scan installs the package while another program holds the dpkg
#         lock for a few seconds (the install waits), honours olvex_batch from
#         the inventory, reports a gateway whose install fails with the
#         reason, and writes nothing;
#       --check refuses a too small image, and a named device that is not on
#         its line, and writes nothing;
#       the flash writes the image byte-exact into every device of its type,
#         leaves a VT-TALLY-16 beside them alone (reported not selected, other
#         type), reports every device with its outcome, fails only the gateway
#         with a device that answers with an error, and the retry file names
#         it alone;
#       the retry, run from another folder, writes only that device; the
#         retry file is gone and the fleet state says the fleet is done;
#       SIGINT to ansible-playbook during the parts stops every olvex-cli (the
#         device being written is given up) and the run's report is written.
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

deb=$(realpath "$(scripts/package.sh | tail -n 1)")
devsim=build-release/devsim/olvex-devsim
[ -x "$devsim" ] || fail "$devsim was not built"
package=$(dpkg-deb -f "$deb" Package)
was_installed=0
package_installed "$package" && was_installed=1
become=false
[ "$(id -u)" -eq 0 ] || { sudo -n true 2>/dev/null && become=true; } || fail "needs root or sudo without a password"
playbook_yml=$PWD/deploy/ansible/flash.yml

work=$(mktemp -d)
sims=()
stop_lines() {
    local pid
    for pid in "${sims[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
    for pid in "${sims[@]}"; do wait "$pid" || fail "olvex-devsim $pid ended with status $?"; done
    sims=()
}
cleanup() {
    local pid
    for pid in "${sims[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
    wait
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
# other, the second holding a VT-TALLY-16 beside a VT-TALLY-8.
declare -A line_devices=(
    [south-1]="id=00:1a:2b:3c:4d:11:00:01,kind=tally8,version=2.7 id=00:1a:2b:3c:4d:12:00:01,kind=tally8,version=2.6"
    [south-2]="id=00:1a:2b:3c:4d:21:00:01,kind=tally8,version=2.7 id=00:1a:2b:3c:4d:22:00:01,kind=tally8,version=2.7,fault=error:part=2"
    [north-1]="id=00:1a:2b:3c:4d:31:00:01,kind=tally8,version=2.6"
    [north-2]="id=00:1a:2b:3c:4d:41:00:01,kind=tally8,version=2.5 id=00:1a:2b:3c:4d:42:00:01,kind=tally16,version=1.4"
)
start_lines() { # folder for the saved images and what the simulators say, olvex-devsim options...
    local folder=$1 line description arguments
    shift
    for line in south-1 south-2 north-1 north-2; do
        mkdir -p "$folder/$line"
        arguments=()
        for description in ${line_devices[$line]}; do arguments+=(--device "$description"); done
        "$devsim" --pace 0 "$@" --link "$work/$line" --save-images "$folder/$line" "${arguments[@]}" \
            >"$folder/$line.out" 2>&1 &
        sims+=($!)
    done
    for line in south-1 south-2 north-1 north-2; do
        for _ in $(seq 50); do [ -e "$work/$line" ] && break; sleep 0.1; done
        [ -e "$work/$line" ] || fail "olvex-devsim made no line $work/$line"
    done
}
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
${3:-}
EOF
}
head -c 394 /dev/urandom >"$work/small.bin"
head -c $((2 * 197 + 50)) /dev/urandom >"$work/image.bin" # three parts
head -c $((40 * 197)) /dev/urandom >"$work/image-2.bin"
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
outcomes() { # host, address, outcome, parts, parts total, reason of each row of the last run
    cut -d, -f1,3,6-8,11 "$work/reports/latest/fleet.csv" | sort
}

echo "-- a fresh fleet: --check says to scan first"
inventory 1 ""
if [ $was_installed -eq 0 ]; then
    playbook fresh 2 --check "${image[@]}"
    grep -q 'olvex-cli is not installed at /usr/bin/olvex-cli on gw-south (--check installs nothing: look at the fleet first with -e olvex_mode=scan' \
        "$work/fresh.log" || { cat "$work/fresh.log"; fail "no advice to scan first"; }
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
start_lines "$work/lines-1"
playbook scan 2 -e olvex_mode=scan
wait $holder
if [ $was_installed -eq 0 ]; then
    installed=$(stat -c %Y "/var/lib/dpkg/info/$package.list")
    [ "$installed" -ge "$(cat "$work/released")" ] || fail "$package was installed while the dpkg lock was held"
fi
[ "$(grep -c '^PLAY \[Scan or flash the lines' "$work/scan.log")" -eq 2 ] \
    || fail "olvex_batch: 2 in the inventory did not make two batches of three gateways"
diff -u - <(summary) <<EOF || fail "the scan's summary differs (- expected, + written)"
gw-south: 4 devices found on 2 lines
gw-north: 3 devices found on 2 lines
gw-broken: not run: Read the package's name and version: non-zero return code: dpkg-deb: error: '$work/gw-broken/small.bin' is not a Debian format archive
all: 7 devices found (3 sites, 1 failed; 5 lines)
EOF
grep -q "^gw-broken,$work/broken-1,,,,not run,.*is not a Debian format archive" "$work/reports/latest/fleet.csv" \
    || fail "the gateway whose install failed has no row with the reason"
[ "$(cat "$work/reports/flash.retry")" = gw-broken ] || fail "the retry file names '$(cat "$work/reports/flash.retry")'"

echo "-- --check: a too small image and a named device not on the line are refused"
inventory 2 '["00:1a:2b:3c:4d:31", "00:1a:2b:3c:4d:39"]'
playbook refused 2 --check -e "olvex_image=$work/small.bin" -e olvex_image_type=VT-TALLY-8
grep -q "gw-south: not run: olvex-cli on gw-.* refuses the image, so no gateway writes anything (exit status 2): olvex-cli: image refused, too small (394 bytes or less): $work/gw-.*/images/small.bin" \
    "$work/reports/latest/summary.txt" || { cat "$work/reports/latest/summary.txt"; fail "no refusal of the image"; }
[ ! -e "$work/gw-south/logs/$(basename "$(readlink "$work/reports/latest")")" ] || fail "lines ran with a refused image"
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
host,address,outcome,parts,parts_total,reason
EOF
[[ $(recap gw-north check) == *" failed=1 "* ]] || fail "gw-north did not fail: $(recap gw-north check)"
[[ $(recap gw-south check) == *" failed=0 "* ]] || fail "gw-south failed: $(recap gw-south check)"
grep -q "^gw-north: 2 would be updated, 1 not selected (other type); $work/north-1: not found on the line: 00:1a:2b:3c:4d:39$" \
    "$work/reports/latest/summary.txt" || { cat "$work/reports/latest/summary.txt"; fail "the missing device is not named"; }
[ -z "$(find "$work"/gw-* -name image.bin; find /tmp -maxdepth 1 -name 'ansible.*-image.bin')" ] \
    || fail "--check left the image behind"
stop_lines
nothing_written "$work/lines-1"

echo "-- flash: only the image's type written, gw-south's failing device fails it alone"
inventory 2 ""
start_lines "$work/lines-2"
playbook flash 2 "${image[@]}"
stop_lines
[[ $(recap gw-south flash) == *" failed=1 "* ]] || fail "gw-south did not fail: $(recap gw-south flash)"
[[ $(recap gw-north flash) == *" failed=0 "* ]] || fail "gw-north failed: $(recap gw-north flash)"
[ "$(cat "$work/reports/flash.retry")" = gw-south ] || fail "the retry file names '$(cat "$work/reports/flash.retry")', not gw-south"
for saved in south-1/device-1-001a2b3c4d110001 south-1/device-2-001a2b3c4d120001 \
    south-2/device-1-001a2b3c4d210001 north-1/device-1-001a2b3c4d310001 north-2/device-1-001a2b3c4d410001; do
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
host,address,outcome,parts,parts_total,reason
EOF
report=$work/reports/latest
sha=$(sha256sum "$work/image.bin" | cut -d' ' -f1)
diff -u - "$report/summary.txt" <<EOF || fail "the summary differs (- expected, + written)"
run $(basename "$(readlink "$report")"): flash of image.bin for VT-TALLY-8 (SHA-256 $sha)
gw-south: 3 updated, 1 failed, 0 not started; $work/south-2: some device failed (exit status 1): 00:1a:2b:3c:4d:22 failed
gw-north: 2 updated, 0 failed, 0 not started, 1 not selected (other type)
all: 5 updated, 1 failed, 0 not started, 1 not selected (other type) (2 sites, 1 failed; 4 lines)
fleet: not done, 5 of 6 devices updated with image.bin; lines to do: gw-south $work/south-2 (fleet-state.json says why)
EOF
[ "$(awk -F, 'NR > 1 && ($12 == "" || $13 == "" || $14 != "image.bin" || $15 != "'"$sha"'" || $16 != "VT-TALLY-8")' \
    "$report/fleet.csv")" = "" ] || fail "a row lacks the line's times or the image"
grep -q '"exitCode": 1' "$report/gw-south/south-2.json" || fail "the failed line's own report did not come home"
grep -q 'SerialP: ' "$report/gw-south/south-2.log" || fail "the failed line's diagnostic log did not come home"
grep -q "failed.*$work/south-2: some device failed (exit status 1)" "$work/flash.log" || fail "gw-south failed without saying why"
grep -Eq '^  \[gw-north\] north-2: ended after [0-9]+:[0-9]{2}, exit status 0$' "$work/flash.log" \
    || fail "no progress line for an ended line"

echo "-- the retry, from another folder, writes only the device that failed"
line_devices[south-2]=${line_devices[south-2]%,fault=*}
start_lines "$work/lines-3"
status=0
started=$SECONDS
run_playbook retry "$work" "${image[@]}" --limit "@$work/reports/flash.retry" || status=$?
echo "ansible-playbook --limit @flash.retry (from $work): exit status $status, $((SECONDS - started)) s"
stop_lines
[ $status -eq 0 ] || { cat "$work/retry.log"; fail "the retry ended with $status"; }
grep -q '^device 2 00:1a:2b:3c:4d:22:00:01 kind 10: image 444 bytes, complete, 3 firmware frames' \
    "$work/lines-3/south-2.out" || { cat "$work/lines-3/south-2.out"; fail "the retry did not write the failed device"; }
[ "$(cat "$work"/lines-3/*.out | grep -c ' [1-9][0-9]* firmware frames')" -eq 1 ] \
    || { cat "$work"/lines-3/*.out; fail "the retry wrote other devices too"; }
[ ! -e "$work/reports/flash.retry" ] || fail "the retry file outlived a retry that ended well"
grep -q '"done": true' "$work/reports/fleet-state.json" || fail "the fleet state does not say the fleet is done"
tail -n 1 "$work/reports/latest/summary.txt" | grep -qx 'fleet: done, all 6 devices updated with image.bin' \
    || { cat "$work/reports/latest/summary.txt"; fail "the retry's summary differs"; }

echo "-- Ctrl-C during the parts stops every olvex-cli and writes the report"
start_lines "$work/lines-4" --pace 9600
(cd deploy/ansible && exec ansible-playbook -i "$work/inventory.yml" "$playbook_yml" \
    -e "olvex_image=$work/image-2.bin" -e olvex_image_type=VT-TALLY-8) >"$work/interrupted.log" 2>&1 &
pid=$!
until grep -qs '%  [0-9]*/40 parts' "$work"/gw-*/logs/*/status.json; do
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
grep -q "interrupted (SIGINT) (exit status 130)" "$work/reports/latest/summary.txt" \
    || { cat "$work/reports/latest/summary.txt"; fail "the interrupted run's report says nothing of it"; }
grep -q "image-2.bin" "$work/reports/latest/summary.txt" || fail "the interrupted run's report is not its own"
grep -q ',failed,.*,interrupted,' "$work/reports/latest/fleet.csv" || fail "no device reported interrupted"
echo "the playbook and the role pass ansible-lint; a scan installs waiting for the dpkg lock and writes nothing; --check refuses what the flash would; the flash writes only the image's type and reports every device; the retry writes only what failed; Ctrl-C stops the lines and keeps the report"
