#!/usr/bin/env bash
# The Windows zip as a user gets it: it holds the two programs, the DLLs and
# plugins they load, the toolkit's Russian texts, the Wireshark dissector,
# README.txt and nothing else; unpacked into a fresh Wine prefix (a clean
# Windows, with nothing of the build around), the window opens with the
# toolkit's texts in Russian, the terminal tool runs and checks a signed
# image with the zip's own libgcrypt (signed here with Debian's minisign),
# and every DLL they load that is not part of Windows comes from the
# unpacked folder.
#
#   tests/wine/zip.sh ZIP FOLDER WINE-DIR OBJDUMP
#
# FOLDER is the one folder the zip holds; the fresh prefix is made in
# WINE-DIR and removed again. Needs Xvfb, xdotool and minisign.
set -euo pipefail
zip=$(realpath "${1:?usage: zip.sh ZIP FOLDER WINE-DIR OBJDUMP}")
folder=${2:?usage: zip.sh ZIP FOLDER WINE-DIR OBJDUMP}
dir=$(realpath "${3:?usage: zip.sh ZIP FOLDER WINE-DIR OBJDUMP}")
objdump=${4:?usage: zip.sh ZIP FOLDER WINE-DIR OBJDUMP}
here=$(cd "$(dirname "$0")" && pwd)
wine=${OLVEX_WINE:-/usr/lib/wine/wine64}

work=$(mktemp -d "$dir/zip.XXXXXX")
pids=()
. "$here/session.sh"
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -d "$work/prefix" ] && WINEPREFIX=$work/prefix end_server
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# What a clean Windows 10 or 11 lacks, and the guide; no test program, no
# debugging DLL, no offscreen plugin.
expected="README.txt
olvex-cpd.lua
Olvex_Updater.exe
olvex-cli.exe
Qt5Core.dll
Qt5Gui.dll
Qt5Widgets.dll
Qt5SerialPort.dll
Qt5Network.dll
libstdc++-6.dll
libgcc_s_seh-1.dll
libwinpthread-1.dll
libgcrypt-20.dll
libgpg-error-0.dll
platforms/qwindows.dll
styles/qwindowsvistastyle.dll
translations/qtbase_ru.qm"
listed=$(cmake -E tar tf "$zip" | grep -v '/$' | sort)
wanted=$(echo "$expected" | sed "s|^|$folder/|" | sort)
[ "$listed" = "$wanted" ] || fail "the zip holds:
$listed
and should hold:
$wanted"
echo "ok   the zip holds $(echo "$listed" | wc -l) files, those a clean Windows lacks"

(cd "$work" && cmake -E tar xf "$zip")
app=$work/$folder
subsystem() { "$objdump" -p "$1" | sed -n 's/^Subsystem.*(\(.*\))$/\1/p'; }
[ "$(subsystem "$app/Olvex_Updater.exe")" = "Windows GUI" ] || fail "Olvex_Updater.exe is no window program"
[ "$(subsystem "$app/olvex-cli.exe")" = "Windows CUI" ] || fail "olvex-cli.exe is no console program"
head -c3 "$app/README.txt" | cmp -s - <(printf '\357\273\277') || fail "README.txt has no byte-order mark"
grep -q $'\r$' "$app/README.txt" || fail "README.txt has no CR LF line ends"
echo "ok   a window program and a console program; README.txt as Notepad reads it"

# A fresh prefix, and a folder a user might unpack it in, spaces and
# Cyrillic letters in its name. (Not the profile's folders: Wine links them
# to the Unix home.)
"$here/prefix.sh" "$work/prefix" >"$work/prefix.log" 2>&1 || fail "no fresh prefix"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
unset WINEPATH
mkdir -p "$WINEPREFIX/drive_c/Техник/Рабочий стол"
mv "$app" "$WINEPREFIX/drive_c/Техник/Рабочий стол/"
app="C:\\Техник\\Рабочий стол\\$folder"

cd "$WINEPREFIX/drive_c"
version=$("$wine" "$app\\olvex-cli.exe" --version 2>"$work/cli.log" | tr -d '\r') \
    || fail "olvex-cli.exe does not run"
[ "$version" = "olvex-cli v${folder##*-}" ] || fail "olvex-cli.exe --version says '$version'"
echo "ok   olvex-cli.exe runs: $version"

# A signed image and the maker's public key where a technician keeps them:
# taken with what it is signed for, then refused once one byte has changed.
command -v minisign >/dev/null || fail "minisign not found: install minisign"
minisign -G -W -p "$work/maker.pub" -s "$work/maker.key" </dev/null >/dev/null
downloads="$WINEPREFIX/drive_c/Техник/Загрузки"
mkdir -p "$downloads"
head -c 5000 /dev/urandom >"$downloads/tally8-2.8.bin"
minisign -S -s "$work/maker.key" -m "$downloads/tally8-2.8.bin" -t "type=VT-TALLY-8 version=2.8" \
    </dev/null >/dev/null
cp "$work/maker.pub" "$downloads/ruvo.pub"
check_signed() { # its output in $checked, its exit status in $status
    status=0
    checked=$("$wine" "$app\\olvex-cli.exe" image 'C:\Техник\Загрузки\tally8-2.8.bin' \
        --trusted-key 'C:\Техник\Загрузки\ruvo.pub' --require-signed 2>&1 | tr -d '\r') || status=$?
}
check_signed
[ $status -eq 0 ] && grep -q '^signed by key [0-9A-F]\{16\} .*, for VT-TALLY-8, version 2.8$' <<<"$checked" \
    || fail "olvex-cli.exe image of a signed image: status $status: $checked"
printf '\x5a' | dd of="$downloads/tally8-2.8.bin" bs=1 seek=2500 conv=notrunc 2>/dev/null
check_signed
[ $status -eq 2 ] && grep -q 'image refused, its signature does not verify' <<<"$checked" \
    || fail "olvex-cli.exe image of a changed signed image: status $status: $checked"
echo "ok   olvex-cli.exe takes a signed image with the zip's libgcrypt, and refuses it changed"

start_screen "$work"
own_server "$work" # after the screen: Wine's desktop process takes the screen it starts with
WINEDEBUG=+loaddll "$wine" "$app\\Olvex_Updater.exe" 2>"$work/window.log" &
program=$!
pids+=($program)
window=$(await_window '^Olvex Updater$' 60) || fail "the window did not open"
echo "ok   Olvex_Updater.exe opens its window"
# Every DLL loaded from a file (not one of Wine's own) is the zip's.
# (The trace writes a backslash as two and a Cyrillic letter as its code.)
loaded=$(grep -o 'Loaded L"[^"]*" at [0-9A-Fa-f]*: native' "$work/window.log" \
         | sed 's/^Loaded L"//; s/".*//; s/\\\\/\\/g')
[ -n "$loaded" ] || fail "no DLL loaded from a file: the check looks at the wrong thing"
strangers=
while read -r file; do
    [[ $file == C:*"\\$folder\\"* ]] || strangers+=" $file"
done <<<"$loaded"
[ -z "$strangers" ] || fail "DLLs from outside the zip: $strangers"
echo "ok   the $(echo "$loaded" | wc -l) DLLs it loads that Windows lacks all come from the zip"

xdotool windowfocus --sync "$window"
xdotool key alt+F4
status=0
for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
wait "$program" || status=$?
[ "$status" -eq 0 ] || fail "Olvex_Updater.exe ended with status $status"
echo "ok   closed, exit status 0"
# The log, which reaches the file, does not say that the translation is missing.
tr -d '\r' <"$work/window.log" | grep -qx 'delete SThread' || fail "the window's log is not in the file"
! grep -q 'qtbase_ru.qm not found' "$work/window.log" || fail "the window did not find its translation"
echo "ok   the window found the toolkit's Russian texts in the folder"
