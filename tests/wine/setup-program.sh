#!/usr/bin/env bash
# The setup program as an administrator uses it, in one run through a fresh
# Wine prefix (a clean Windows): a silent install puts exactly the zip's
# files, the Start-menu entries and the "Apps & features" entry in place; the
# installed programs run; the setup and the uninstaller refuse with status 2
# while Olvex Updater runs, and change nothing; so do the setup into a folder
# that holds another program's Qt5Core.dll, or a drive's root, and a copy of
# the uninstaller run in that folder; a second install leaves one entry and
# estimates its size from its own files, whatever else the folder holds; a
# silent uninstall leaves nothing of ours, in the folders or in the registry,
# but a key an administrator put in the key folder (which the setup makes,
# empty); and over an older version (made here by the build's own
# MakeSetup.cmake, with a file the new one no longer has) the new setup
# leaves no stale file, also when it moves to another folder, and its
# uninstaller removes the key folder once it is empty.
#
#   tests/wine/setup-program.sh SETUP ZIP WINE-DIR BIN-DIR MAKENSIS
#
# WINE-DIR holds the tests' fonts (fonts/) and gets the prefix, which is
# removed again; BIN-DIR the offscreen platform plugin (platforms/) the
# window starts on. Needs lnkinfo (liblnk-utils).
set -euo pipefail
usage="usage: setup-program.sh SETUP ZIP WINE-DIR BIN-DIR MAKENSIS"
setup=$(realpath "${1:?$usage}")
zip=$(realpath "${2:?$usage}")
dir=$(realpath "${3:?$usage}")
bin=$(realpath "${4:?$usage}")
makensis=${5:?$usage}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
wine=${OLVEX_WINE:-/usr/lib/wine/wine64}
version=$(basename "$setup" | sed -n 's/^olvex-updater-\(.*\)-windows-x64-setup\.exe$/\1/p')
[ -n "$version" ] || { echo "$setup: not named olvex-updater-<version>-windows-x64-setup.exe" >&2; exit 1; }

work=$(mktemp -d "$dir/setup.XXXXXX")
pids=()
. "$here/session.sh"
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -d "$work/prefix" ] && WINEPREFIX=$work/prefix end_server
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$here/prefix.sh" "$work/prefix" >"$work/prefix.log" 2>&1 || fail "no fresh prefix"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
unset DISPLAY WINEPATH
cd "$WINEPREFIX/drive_c"
folder="C:\\Program Files\\Olvex Updater"
installed=$WINEPREFIX/drive_c/Program\ Files/Olvex\ Updater
menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs
desktop=$WINEPREFIX/drive_c/users/Public/Desktop
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
keys="$WINEPREFIX/drive_c/ProgramData/Olvex Updater/keys"
key="$uninstall_key\\Olvex Updater"

run() { # program.exe arguments...: its exit status in $status
    status=0
    "$wine" "$@" </dev/null >>"$work/run.log" 2>&1 || status=$?
}
wine_tool() { # [--lists] program arguments...: one of Wine's own programs (reg,
    # regedit), its standard output in $listed. Under a heavy load they have
    # been seen to end at once, failed and saying nothing, now and then:
    # three tries, each failure noted. --lists: nothing listed is a failure.
    local try status lists=0
    [ "$1" = --lists ] && { lists=1; shift; }
    for try in 1 2 3; do
        status=0
        listed=$("$wine" "$@" </dev/null 2>"$work/tool.err" | tr -d '\r') || status=$?
        if [ "$status" -eq 0 ] && { [ $lists -eq 0 ] || [ -n "$listed" ]; }; then
            return 0
        fi
        echo "note: $* (try $try): status $status, '$listed' $(cat "$work/tool.err")" >&2
        sleep 1
    done
    fail "$* fails"
}
reg_query() { # key [options]: what reg query lists, in $listed
    wine_tool --lists reg query "$@"
}
read_entry() { # our uninstall key's values, in $entry; how many entries
    # "Apps & features" lists as Olvex Updater, in $entries
    reg_query "$uninstall_key" /s
    entries=$(grep -c '^    DisplayName    REG_SZ    Olvex Updater$' <<<"$listed" || true)
    reg_query "$key"
    entry=$listed
}
value() { # name: the value of that name in $entry
    sed -n "s/^    $1    REG_[A-Z_]*    //p" <<<"$entry"
}
files() { # the files under a folder, one relative path a line, sorted
    (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
}
shortcut() { # link-file field: one field of what lnkinfo reads in the shortcut
    lnkinfo "$1" 2>/dev/null | sed -n "s/^\t$2[[:space:]]*: //p"
}
expect_installed() { # what: the zip's files and the uninstaller, nothing else
    local wanted
    wanted=$( (cmake -E tar tf "$zip" | grep -v '/$' | sed 's|^[^/]*/||'; echo uninstall.exe) | LC_ALL=C sort)
    [ -d "$installed" ] || fail "$1: no $folder"
    [ "$(files "$installed")" = "$wanted" ] || fail "$1: $folder holds
$(files "$installed")
and should hold the zip's files and uninstall.exe:
$wanted"
    read_entry
    [ "$entries" = 1 ] || fail "$1: $entries entries in Apps & features"
    [ "$(value DisplayVersion)" = "$version" ] || fail "$1: DisplayVersion is '$(value DisplayVersion)'"
}
expect_estimate() { # what: EstimatedSize, the size of the files installed
    local size
    size=$(( $(value EstimatedSize) ))
    [ "$size" -ge $((kib * 95 / 100)) ] && [ "$size" -le $((kib * 105 / 100)) ] \
        || fail "$1: EstimatedSize is $size KiB, the setup installs $kib KiB"
}
expect_removed() { # what: nothing of ours in the folders or the registry
    local left
    # uninstall.exe and the folder go a moment later, through its copy
    for _ in $(seq 300); do [ -e "$installed" ] || break; sleep 0.1; done
    [ ! -e "$installed" ] || fail "$1: left in $folder: $(ls -A "$installed")"
    left=$(find "$menu" "$desktop" -iname '*olvex*')
    [ -z "$left" ] || fail "$1: shortcuts left: $left"
    wine_tool regedit /E 'C:\registry.reg'
    left=$(iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/registry.reg" | tr -d '\r' | grep -i olvex || true)
    rm -f "$WINEPREFIX/drive_c/registry.reg"
    [ -z "$left" ] || fail "$1: left in the registry:
$left"
}

# A fresh install, silent.
start=$(date +%s%N)
run "$setup" /S
[ "$status" -eq 0 ] || fail "setup.exe /S ended with status $status"
echo "ok   setup.exe /S installed in $((($(date +%s%N) - start) / 1000000)) ms"
expect_installed "installed"
[ "$(value DisplayName)" = "Olvex Updater" ] || fail "DisplayName is '$(value DisplayName)'"
[ "$(value Publisher)" = "Ruvo" ] || fail "Publisher is '$(value Publisher)'"
[ "$(value InstallLocation)" = "$folder" ] || fail "InstallLocation is '$(value InstallLocation)'"
[ "$(value DisplayIcon)" = "$folder\\Olvex_Updater.exe,0" ] || fail "DisplayIcon is '$(value DisplayIcon)'"
[ "$(value UninstallString)" = "\"$folder\\uninstall.exe\"" ] || fail "UninstallString is '$(value UninstallString)'"
[ "$(value QuietUninstallString)" = "\"$folder\\uninstall.exe\" /S" ] \
    || fail "QuietUninstallString is '$(value QuietUninstallString)'"
kib=$(cd "$installed" && find . -type f -printf '%s\n' | awk '{ sum += $1 } END { print int(sum / 1024) }')
expect_estimate "installed"
echo "ok   the zip's $(($(files "$installed" | wc -l) - 1)) files and uninstall.exe; one entry: Olvex Updater $version, Ruvo, $(( $(value EstimatedSize) )) KiB"

[ "$(shortcut "$menu/Olvex Updater.lnk" 'Local path')" = "$folder\\Olvex_Updater.exe" ] \
    || fail "the Start-menu shortcut points at '$(shortcut "$menu/Olvex Updater.lnk" 'Local path')'"
prompt="$menu/Olvex Updater — командная строка.lnk"
[ "$(shortcut "$prompt" 'Working directory')" = "$folder" ] || fail "the command prompt does not open in $folder"
[[ $(shortcut "$prompt" 'Local path') == *'\cmd.exe' ]] || fail "the command prompt shortcut starts no cmd.exe"
[[ $(shortcut "$prompt" 'Command line arguments') == *"set \"PATH=$folder;%PATH%\""* ]] \
    || fail "the command prompt does not find olvex-cli: $(shortcut "$prompt" 'Command line arguments')"
[ -z "$(find "$desktop" -iname '*olvex*')" ] || fail "a desktop shortcut though none was asked for"
echo "ok   Start menu: Olvex Updater -> $folder\\Olvex_Updater.exe, a command prompt there; no desktop shortcut"

[ -d "$keys" ] && [ -z "$(ls -A "$keys")" ] || fail "no empty key folder ProgramData\\Olvex Updater\\keys"
echo "ok   the key folder ProgramData\\Olvex Updater\\keys, empty"

answer=$("$wine" "$folder\\olvex-cli.exe" --version 2>>"$work/run.log" | tr -d '\r') \
    || fail "the installed olvex-cli.exe does not run"
[ "$answer" = "olvex-cli v$version" ] || fail "olvex-cli.exe --version says '$answer'"
echo "ok   the installed olvex-cli.exe answers: $answer"

# The installed window, on the offscreen platform of the tests (from BIN-DIR).
WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR="Z:$dir/fonts" WINEQT_PLUGIN_PATH="Z:$bin" \
    "$wine" "$folder\\Olvex_Updater.exe" </dev/null >"$work/window.log" 2>&1 &
program=$!
pids+=("$program")
sleep 5
kill -0 "$program" 2>/dev/null || fail "the installed Olvex_Updater.exe ended at once"
echo "ok   the installed Olvex_Updater.exe started and is up after 5 s"

# While it runs, neither the uninstaller nor the setup may touch anything.
run "$folder\\uninstall.exe" /S
[ "$status" -eq 2 ] || fail "uninstall.exe /S while the window runs: status $status, not 2"
expect_installed "after the refused uninstall"
run "$setup" /S
[ "$status" -eq 2 ] || fail "setup.exe /S while the window runs: status $status, not 2"
expect_installed "after the refused setup"
[ -f "$menu/Olvex Updater.lnk" ] || fail "the refused setup took the shortcut away"
echo "ok   while it runs, uninstall.exe /S and setup.exe /S end with status 2 and change nothing"
kill "$program"
wait "$program" 2>/dev/null || true

# A folder with another program's files is not the setup's, nor is a drive's
# root: it would write over them, and its uninstaller delete them later. Nor
# does a copy of the uninstaller there remove them, or the installation.
shared=$WINEPREFIX/drive_c/Shared
theirs="another program's Qt5Core.dll"
mkdir "$shared"
echo "$theirs" >"$shared/Qt5Core.dll"
for target in 'C:\Shared' 'C:\'; do
    run "$setup" /S "/D=$target"
    [ "$status" -eq 2 ] || fail "setup.exe /S /D=$target ended with status $status, not 2"
    [ "$(ls -A "$shared")" = Qt5Core.dll ] && [ "$(cat "$shared/Qt5Core.dll")" = "$theirs" ] \
        || fail "setup.exe /S /D=$target changed C:\\Shared: $(ls -A "$shared")"
    expect_installed "after setup.exe /S /D=$target"
    [ "$(value InstallLocation)" = "$folder" ] || fail "InstallLocation is '$(value InstallLocation)'"
done
cp "$installed/uninstall.exe" "$shared/"
run 'C:\Shared\uninstall.exe' /S
[ "$status" -eq 2 ] || fail "a copy of uninstall.exe in C:\\Shared ended with status $status, not 2"
[ "$(cat "$shared/Qt5Core.dll")" = "$theirs" ] || fail "a copy of uninstall.exe deleted C:\\Shared\\Qt5Core.dll"
expect_installed "after a copy of uninstall.exe"
[ -f "$menu/Olvex Updater.lnk" ] || fail "a copy of uninstall.exe took the shortcut away"
rm -r "$shared"
echo "ok   /D=C:\\Shared (another program's Qt5Core.dll), /D=C:\\: status 2, nothing written; a copy of uninstall.exe there: status 2, nothing removed"

# Again over it, now with the desktop shortcut: still one entry, and its size
# is that of the files the setup installs, not of the folder (which holds a
# large file of someone else's here).
truncate -s 1G "$installed/theirs.dat"
run "$setup" /S /DESKTOP
[ "$status" -eq 0 ] || fail "setup.exe /S over the installed one ended with status $status"
read_entry
expect_estimate "installed again beside a file of 1 GiB"
[ -f "$installed/theirs.dat" ] || fail "the setup took someone else's file from the folder"
rm "$installed/theirs.dat"
expect_installed "installed again"
[ "$(shortcut "$desktop/Olvex Updater.lnk" 'Local path')" = "$folder\\Olvex_Updater.exe" ] \
    || fail "setup.exe /S /DESKTOP made no desktop shortcut to the program"
echo "ok   installed again (/DESKTOP): one entry, the same files and size, a desktop shortcut"

echo "an administrator's key" >"$keys/ruvo.pub"
run "$folder\\uninstall.exe" /S
[ "$status" -eq 0 ] || fail "uninstall.exe /S ended with status $status"
expect_removed "uninstalled"
[ "$(cat "$keys/ruvo.pub")" = "an administrator's key" ] || fail "the uninstaller took the key folder's key"
rm "$keys/ruvo.pub"
echo "ok   uninstall.exe /S: no file, folder, shortcut or registry entry of ours is left; the key folder's key is"

# An older version with a file this one does not have, then this one over it.
old=$work/old/olvex-updater-0.9.0
mkdir -p "$old/obsolete"
echo "0.9.0" >"$old/README.txt"
echo "gone in $version" >"$old/obsolete/obsolete.dll"
cmake -DMAKENSIS="$makensis" -DSTAGE="$old" -DVERSION=0.9.0 -DPUBLISHER=Ruvo \
      -DURL=https://shop.ruvo.example/olvex-updater -DICON="$source_dir/app/icons/ruvo_olvex.ico" \
      -DSETUP="$work/old/olvex-updater-0.9.0-windows-x64-setup.exe" -DWORK="$work/old/build" \
      -P "$source_dir/packaging/windows/MakeSetup.cmake" >>"$work/run.log" 2>&1 \
    || fail "no setup program of version 0.9.0"
run "$work/old/olvex-updater-0.9.0-windows-x64-setup.exe" /S
read_entry
[ "$status" -eq 0 ] && [ "$(value DisplayVersion)" = 0.9.0 ] && [ -f "$installed/obsolete/obsolete.dll" ] \
    || fail "version 0.9.0 did not install (status $status)"
old_folder=$installed
folder="C:\\Tools\\Olvex"
installed=$WINEPREFIX/drive_c/Tools/Olvex
run "$setup" /S "/D=$folder"
[ "$status" -eq 0 ] || fail "setup.exe /S /D=$folder over version 0.9.0 ended with status $status"
expect_installed "over version 0.9.0"
[ ! -e "$old_folder" ] || fail "version 0.9.0's folder is left: $(find "$old_folder")"
[ "$(value InstallLocation)" = "$folder" ] || fail "InstallLocation is '$(value InstallLocation)'"
echo "ok   over version 0.9.0, into $folder: one entry, now $version, nothing of 0.9.0 left"

run "$folder\\uninstall.exe" /S
[ "$status" -eq 0 ] || fail "uninstall.exe /S of $version ended with status $status"
expect_removed "uninstalled from $folder"
[ ! -e "$(dirname "$keys")" ] || fail "the empty key folder is left: $(find "$(dirname "$keys")")"
echo "ok   uninstalled again: the empty key folder went with it"
