#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh builds:
#   - lintian finds no error and no warning;
#   - it depends on the toolkit's translations (the window's Russian dialogs);
#   - it holds exactly what `cmake --install` puts in place;
#   - its programs carry Debian's hardening (hardening-check: PIE, stack
#     protector, fortified functions, read-only relocations, immediate binding);
#   - installed with apt-get on this machine, every shared library of its
#     programs resolves, the programs start, olvex-cli needs no GUI library
#     and scans the installed simulator's line, each program has its manual
#     page, the window finds the toolkit's Russian translation, bash loads
#     olvex-cli's completion, the key folder is there, empty, and a key put
#     in it is trusted, and the menu entry finds its
#     program and its icon at every size the build drew;
# then removes it again (unless it was installed before the check).
# Installs what the tests need first (scripts/setup.sh --tests). Needs root
# or sudo for the install. Called by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
. scripts/lib.sh

fail() {
    echo "check-package: $*" >&2
    exit 1
}

work=$(mktemp -d)
cleanup_work() { rm -rf "$work"; }
trap cleanup_work EXIT

deb=$(scripts/package.sh | tail -n 1)
[ -f "$deb" ] || fail "scripts/package.sh left no package"
echo "== $deb ($(stat -c %s "$deb") bytes)"

# Informational and pedantic tags are shown, not held against the package.
echo "-- lintian"
lintian_status=0
lintian --fail-on error,warning --display-info --pedantic "$deb" >"$work/lintian.log" 2>&1 \
    || lintian_status=$?
grep -v '^running with root privileges' "$work/lintian.log" || true
[ $lintian_status -eq 0 ] || fail "lintian reports errors or warnings"

# The window's file dialog and message boxes speak Russian with the
# toolkit's translation, which no shared library pulls in.
depends=$(dpkg-deb -f "$deb" Depends)
[[ ", $depends," == *", qttranslations5-l10n,"* ]] \
    || fail "the package does not depend on qttranslations5-l10n: Depends: $depends"
echo "depends on qttranslations5-l10n"

# Every object of the release build was compiled with the hardening flags,
# and every program shows them. hardening-check sees fortified functions
# only where a program hands a libc function a buffer whose size is known at
# compile time but not proven enough; olvex-cli and olvex-updater have no
# such call (their "only unprotected functions found" says that, as
# lintian's info tag hardening-no-fortify-functions does), so fortified
# functions are asked of the package as a whole, on top of the compile
# commands.
echo "-- hardening-check"
commands=build-release/compile_commands.json
compiled=$(grep -c '"command":' "$commands")
fortified=$(grep '"command":' "$commands" | grep -- '-D_FORTIFY_SOURCE=2' \
    | grep -- '-fstack-protector-strong' | grep -c -- '-Werror=format-security')
[ "$compiled" -gt 0 ] && [ "$fortified" -eq "$compiled" ] \
    || fail "$((compiled - fortified)) of $compiled compile commands in $commands lack the hardening flags"
echo "$compiled compile commands, all with the hardening flags"
dpkg-deb -x "$deb" "$work/unpacked"
hardened=("Position Independent Executable" "Stack protected" "Read-only relocations"
          "Immediate binding")
fortify_seen=0
for program in "$work"/unpacked/usr/bin/*; do
    hardening-check "$program" >"$work/hardening.log" 2>&1 || true
    sed "s|$work/unpacked||" "$work/hardening.log"
    for feature in "${hardened[@]}"; do
        grep -q "^ $feature: yes" "$work/hardening.log" \
            || fail "${program#"$work"/unpacked}: $feature is not 'yes'"
    done
    if grep -q "^ Fortify Source functions: yes" "$work/hardening.log"; then
        fortify_seen=1
    else
        grep -qE "^ Fortify Source functions: (no, only unprotected functions found|unknown)" \
            "$work/hardening.log" \
            || fail "${program#"$work"/unpacked}: $(grep "Fortify Source" "$work/hardening.log")"
    fi
done
[ $fortify_seen -eq 1 ] || fail "no program of the package has a fortified function"

echo "-- contents against cmake --install"
DESTDIR="$work/root" cmake --install build-release --prefix /usr >/dev/null
(cd "$work/root" && find . -mindepth 1 | sed 's|^\./||' | sort) >"$work/installed"
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./||; s|/$||' | grep -v '^$' | sort >"$work/packaged"
if ! diff -u "$work/installed" "$work/packaged"; then
    fail "the package differs from what cmake --install puts in place (- installed, + packaged)"
fi
echo "$(wc -l <"$work/packaged") entries, the same"

sudo=$(root_prefix) || fail "installing the package needs root or sudo"
apt=($sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -qq)
package=$(dpkg-deb -f "$deb" Package)
was_installed=0
package_installed "$package" && was_installed=1

echo "-- apt-get install $deb"
remove_package() {
    if [ $was_installed -eq 0 ]; then
        echo "-- apt-get purge $package"
        "${apt[@]}" purge "$package" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; echo "check-package: apt-get purge $package failed" >&2; }
    else
        echo "-- $package was installed before the check; left installed"
    fi
    cleanup_work
}
trap remove_package EXIT
"${apt[@]}" install "$(realpath "$deb")" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install failed"; }

programs=$(dpkg -L "$package" | grep '^/usr/bin/')
for program in $programs; do
    missing=$(ldd "$program" | grep 'not found' || true)
    [ -z "$missing" ] || fail "$program: libraries not found: $missing"
done
echo "shared libraries resolve: $(echo $programs)"

# Still running after a few seconds means started.
status=0
QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/olvex-updater >"$work/updater.log" 2>&1 || status=$?
[ $status -eq 124 ] || { cat "$work/updater.log"; fail "olvex-updater stopped with status $status instead of running"; }
! grep -q 'qtbase_ru.qm not found' "$work/updater.log" \
    || { cat "$work/updater.log"; fail "olvex-updater does not find the toolkit's Russian translation"; }
echo "olvex-updater starts, with the toolkit's texts in Russian"

# The terminal tool: no GUI library, and a scan of the simulator's line. The
# simulator runs until it is stopped, then ends with status 0.
gui=$(ldd /usr/bin/olvex-cli | grep -E 'libQt[56](Gui|Widgets)' || true)
[ -z "$gui" ] || fail "/usr/bin/olvex-cli needs GUI libraries: $gui"
version=$(/usr/bin/olvex-cli --version) || fail "olvex-cli --version failed"
[[ $version == "olvex-cli v"* ]] || fail "olvex-cli --version printed '$version'"
/usr/bin/olvex-devsim --link "$work/line" >"$work/devsim.log" 2>&1 &
devsim=$!
for _ in $(seq 50); do [ -e "$work/line" ] && break; sleep 0.1; done
status=0
timeout 30 /usr/bin/olvex-cli scan "$work/line" --quiet >"$work/scan.log" 2>&1 || status=$?
kill -INT $devsim 2>/dev/null || true
devsim_status=0
wait $devsim || devsim_status=$?
[ $devsim_status -eq 0 ] || { cat "$work/devsim.log"; fail "olvex-devsim ended with status $devsim_status"; }
grep -q '/dev/pts/' "$work/devsim.log" || { cat "$work/devsim.log"; fail "olvex-devsim printed no line"; }
[ $status -eq 0 ] && grep -qx '4 devices' "$work/scan.log" \
    || { cat "$work/scan.log"; fail "olvex-cli scan of olvex-devsim's line: status $status"; }
echo "olvex-devsim runs; olvex-cli runs without GUI libraries and finds the simulator's 4 devices"

# The key folder comes empty and belongs to root; a key put there is trusted.
keys=$(dpkg -L "$package" | grep '^/etc/.*/keys$' || true)
[ -n "$keys" ] && [ -d "$keys" ] || fail "the package made no key folder"
[ "$(stat -c '%U %G %a' "$keys")" = "root root 755" ] || fail "$keys is $(stat -c '%U %G %a' "$keys")"
[ -z "$(ls -A "$keys")" ] || fail "$keys is not empty: $(ls -A "$keys")"
head -c 4000 /dev/urandom >"$work/signed.bin"
minisign -G -W -p "$work/check.pub" -s "$work/check.key" </dev/null >/dev/null
minisign -S -s "$work/check.key" -m "$work/signed.bin" -t "type=VT-RELAY version=1.0" </dev/null >/dev/null
$sudo install -m 644 "$work/check.pub" "$keys/check-package.pub"
status=0
/usr/bin/olvex-cli image "$work/signed.bin" --require-signed >"$work/image.log" 2>&1 || status=$?
$sudo rm -f "$keys/check-package.pub"
[ $status -eq 0 ] && grep -q '^signed by key .*, for VT-RELAY, version 1.0$' "$work/image.log" \
    || { cat "$work/image.log"; fail "olvex-cli image did not trust the key in $keys (status $status)"; }
echo "key folder: $keys, empty, root's; olvex-cli trusts a key put there"

# Every program has its manual page, and bash finds olvex-cli's completion
# where bash-completion loads completions on first use.
for program in $programs; do
    name=$(basename "$program")
    dpkg -L "$package" | grep -qx "/usr/share/man/man1/$name.1.gz" || fail "$name has no manual page"
done
completion=$(bash -c '. /usr/share/bash-completion/bash_completion
                      _completion_loader olvex-cli; complete -p olvex-cli' 2>&1) || true
[[ $completion == *"-F _olvex_cli olvex-cli" ]] || fail "bash loads no completion for olvex-cli: $completion"
echo "manual pages: $(echo $programs | xargs -n 1 basename | xargs); bash: $completion"

desktop=$(dpkg -L "$package" | grep '^/usr/share/applications/.*\.desktop$')
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
[ -x "/usr/bin/$exec_name" ] || fail "$desktop starts $exec_name, which is not installed"
# The sizes the package holds the icon at are the ones the build drew.
size_list=build-release/packaging/icon-sizes
[ -f "$size_list" ] || fail "$size_list is missing"
expected_sizes=$(xargs -n 1 <"$size_list" | sort -n | xargs)
[ -n "$expected_sizes" ] || fail "$size_list names no icon size"
sizes=$(dpkg -L "$package" \
    | sed -n "s|^/usr/share/icons/hicolor/\([0-9]*\)x\1/apps/$icon_name\.png\$|\1|p" | sort -n | xargs)
[ "$sizes" = "$expected_sizes" ] \
    || fail "$desktop names icon $icon_name, packaged at sizes '$sizes' instead of '$expected_sizes'"
for size in $sizes; do
    icon=/usr/share/icons/hicolor/${size}x${size}/apps/$icon_name.png
    [ -f "$icon" ] || fail "$desktop names icon $icon_name, missing at $icon"
    file "$icon" | grep -q "PNG image data, $size x $size," || fail "$icon is not $size x $size: $(file -b "$icon")"
done
metainfo=$(dpkg -L "$package" | grep '^/usr/share/metainfo/')
grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" \
    || fail "$metainfo does not launch $(basename "$desktop")"
echo "menu entry: $exec_name, icon $icon_name at ${sizes// /,}"
