#!/usr/bin/env bash
# Checks the Ansible recipe in deploy/ansible on this machine:
#   - ansible-lint (offline) finds nothing in the playbook and the role;
#   - flash.yml runs against two gateways that are this machine itself
#     (ansible_connection=local), each with two lines played by olvex-devsim on
#     pseudo-terminals, one line with a device that never acknowledges:
#       an image olvex-cli refuses stops the run before any line is touched;
#       the flash writes the image byte-exact into every chosen device, the
#       fleet report lists each device with its outcome, the gateway with the
#       silent device fails (the retry file names it alone), the other stands;
#       --check scans every line and writes nothing.
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

# Two lines a gateway. gw-south runs its lines side by side and has the silent
# device; gw-north runs its lines one after the other and names one device of
# its second line, leaving a VT-TALLY-16 beside it alone.
declare -A line_devices=(
    [south-1]="id=00:1a:2b:3c:4d:11:00:01,kind=tally8,version=2.7 id=00:1a:2b:3c:4d:12:00:01,kind=tally8,version=2.6"
    [south-2]="id=00:1a:2b:3c:4d:21:00:01,kind=tally8,version=2.7 id=00:1a:2b:3c:4d:22:00:01,kind=tally8,version=2.7,fault=silent:part=1"
    [north-1]="id=00:1a:2b:3c:4d:31:00:01,kind=tally8,version=2.6"
    [north-2]="id=00:1a:2b:3c:4d:41:00:01,kind=tally8,version=2.5 id=00:1a:2b:3c:4d:42:00:01,kind=tally16,version=1.4"
)
start_lines() { # folder for the saved images and what the simulators say
    local line description arguments
    for line in south-1 south-2 north-1 north-2; do
        mkdir -p "$1/$line"
        arguments=()
        for description in ${line_devices[$line]}; do arguments+=(--device "$description"); done
        "$devsim" --pace 0 --link "$work/$line" --save-images "$1/$line" "${arguments[@]}" >"$1/$line.out" 2>&1 &
        sims+=($!)
    done
    for line in south-1 south-2 north-1 north-2; do
        for _ in $(seq 50); do [ -e "$work/$line" ] && break; sleep 0.1; done
        [ -e "$work/$line" ] || fail "olvex-devsim made no line $work/$line"
    done
}

cat >"$work/inventory.yml" <<EOF
gateways:
  vars:
    ansible_connection: local
    ansible_python_interpreter: "{{ ansible_playbook_python }}"
    ansible_become: $become
    olvex_poll_seconds: 1
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
        - port: $work/north-1
        - port: $work/north-2
          devices: ["00:1a:2b:3c:4d:41"]
EOF
head -c 394 /dev/urandom >"$work/small.bin"
head -c $((2 * 197 + 50)) /dev/urandom >"$work/image.bin" # three parts
head -c $((2 * 197 + 60)) /dev/urandom >"$work/image-2.bin"
export ANSIBLE_RETRY_FILES_SAVE_PATH=$work ANSIBLE_ASYNC_DIR=$work/async ANSIBLE_NOCOLOR=1
playbook() { # log name, expected exit status, ansible-playbook arguments...
    local log=$work/$1.log expected=$2 status=0 started=$SECONDS
    shift 2
    (cd deploy/ansible && ansible-playbook -i "$work/inventory.yml" flash.yml -e "olvex_deb=$deb" \
        -e "olvex_reports=$work/reports" -e olvex_batch=1 "$@") >"$log" 2>&1 || status=$?
    echo "ansible-playbook $*: exit status $status, $((SECONDS - started)) s"
    [ $status -eq "$expected" ] || { cat "$log"; fail "ansible-playbook ended with $status, not $expected"; }
}
recap() { # host: its line of the play recap
    sed -n "s/^$1 *: //p" "$work/$2.log"
}

echo "-- a refused image stops the run before any line"
start_lines "$work/lines-1"
playbook refused 2 -e "olvex_image=$work/small.bin"
grep -q "refuses the image, so no gateway writes anything (exit status 2): olvex-cli: image refused, too small (394 bytes or less)" \
    "$work/refused.log" || { cat "$work/refused.log"; fail "no refusal of the image"; }
! grep -q 'Run olvex-cli on each line' "$work/refused.log" || fail "olvex-cli ran on a line with a refused image"
[ ! -e "$work/reports" ] || fail "a run with a refused image left reports"

echo "-- flash: gw-south's silent device fails, gw-north stands"
playbook flash 2 -e "olvex_image=$work/image.bin"
stop_lines
[[ $(recap gw-south flash) == *" failed=1 "* ]] || fail "gw-south did not fail: $(recap gw-south flash)"
[[ $(recap gw-north flash) == *" failed=0 "* ]] || fail "gw-north failed: $(recap gw-north flash)"
[ "$(cat "$work/flash.retry")" = gw-south ] || fail "the retry file names '$(cat "$work/flash.retry")', not gw-south"
for saved in south-1/device-1-001a2b3c4d110001 south-1/device-2-001a2b3c4d120001 \
    south-2/device-1-001a2b3c4d210001 north-1/device-1-001a2b3c4d310001 north-2/device-1-001a2b3c4d410001; do
    cmp "$work/lines-1/$saved.bin" "$work/image.bin" || fail "$saved.bin is not the image"
done
grep -q '^device 2 00:1a:2b:3c:4d:22:00:01 kind 10: image 197 bytes, aborted, 6 firmware frames' "$work/lines-1/south-2.out" \
    || { cat "$work/lines-1/south-2.out"; fail "the silent device was not given up"; }
grep -q '^device 2 00:1a:2b:3c:4d:42:00:01 kind 11: image 0 bytes, none, 0 firmware frames$' "$work/lines-1/north-2.out" \
    || { cat "$work/lines-1/north-2.out"; fail "the device not named was written"; }
report=$work/reports/latest
cut -d, -f1,3,5-8 "$report/fleet.csv" | sort >"$work/outcomes"
diff -u - "$work/outcomes" <<EOF || fail "fleet.csv lists other outcomes (- expected, + listed)"
gw-north,00:1a:2b:3c:4d:31,2.6,updated,3,3
gw-north,00:1a:2b:3c:4d:41,2.5,updated,3,3
gw-north,00:1a:2b:3c:4d:42,1.4,not selected,,
gw-south,00:1a:2b:3c:4d:11,2.7,updated,3,3
gw-south,00:1a:2b:3c:4d:12,2.6,updated,3,3
gw-south,00:1a:2b:3c:4d:21,2.7,updated,3,3
gw-south,00:1a:2b:3c:4d:22,2.7,failed,0,3
host,address,version_found,outcome,parts,parts_total
EOF
diff -u - "$report/summary.txt" <<EOF || fail "the summary differs (- expected, + written)"
gw-south: 3 updated, 1 failed, 0 not started; $work/south-2: some device failed (exit status 1): 00:1a:2b:3c:4d:22 failed
gw-north: 2 updated, 0 failed, 0 not started
all: 5 updated, 1 failed, 0 not started (2 sites, 1 failed, 0 not reached; 4 lines)
EOF
grep -q '"exitCode": 1' "$report/gw-south/south-2.json" || fail "the failed line's own report did not come home"
grep -q 'SerialP: ' "$report/gw-south/south-2.log" || fail "the failed line's diagnostic log did not come home"
grep -q "failed.*$work/south-2: some device failed (exit status 1)" "$work/flash.log" || fail "gw-south failed without saying why"

echo "-- --check scans and writes nothing"
rm -f "$work/flash.retry"
start_lines "$work/lines-2"
playbook check 0 --check -e "olvex_image=$work/image-2.bin"
stop_lines
[ -z "$(find "$work/lines-2" -name '*.bin')" ] || fail "check mode wrote into a device"
! grep -q ' [1-9][0-9]* firmware frames' "$work"/lines-2/*.out || fail "check mode sent firmware"
[ -z "$(find "$work/gw-south" "$work/gw-north" -name image-2.bin)" ] || fail "check mode copied the image"
[ ! -e "$work/flash.retry" ] || fail "check mode failed a gateway"
tail -n 1 "$report/summary.txt" | grep -qx 'all: 7 devices found (2 sites, 0 failed, 0 not reached; 4 lines)' \
    || { cat "$report/summary.txt"; fail "the scan's summary differs"; }
[ "$(cut -d, -f6 "$report/fleet.csv" | sort | uniq -c | xargs)" = "7 found 1 outcome" ] \
    || { cat "$report/fleet.csv"; fail "the scan's report differs"; }
[ -z "$(ls -A "$work/async")" ] || fail "jobs of lines side by side left files: $(ls "$work/async")"
echo "the playbook and the role pass ansible-lint; a refused image stops the run; the flash writes every chosen device, fails only gw-south and reports every device; --check writes nothing"
