#!/usr/bin/env bash
# Checks the Windows resources inside a built executable (not the .res): the
# icon group holds the pictures of app/icons/ruvo_olvex.ico, pixel for pixel,
# and the version block holds each "Name Value" given. Needs wrestool and
# icotool (Debian package icoutils). A ctest test of the Windows build runs it
# on the executable the zip holds, the setup program and its uninstaller.
#
#   tests/wine/check-resources.sh EXE "OriginalFilename Olvex_Updater.exe" ...
set -euo pipefail
exe=${1:?usage: check-resources.sh EXE [\"NAME VALUE\"...]}
shift
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

wrestool -x --type=group_icon -o "$work/exe.ico" "$exe" 2>/dev/null
[ -s "$work/exe.ico" ] || { echo "no icon group in $exe" >&2; exit 1; }
mkdir "$work/exe" "$work/src"
icotool -x -o "$work/exe" "$work/exe.ico"
icotool -x -o "$work/src" "$src/app/icons/ruvo_olvex.ico"
sizes=$(icotool -l "$work/exe.ico" | sed -n 's/.*--width=\([0-9]*\).*--bit-depth=\([0-9]*\).*/\1@\2/p' | tr '\n' ' ')
echo "icon group: $sizes"
[ "$sizes" = "16@32 32@32 48@32 64@32 128@32 " ] || { echo "unexpected icon sizes" >&2; exit 1; }
for picture in "$work"/src/*.png; do
    cmp -s "$picture" "$work/exe/$(basename "$picture" | sed 's/^ruvo_olvex/exe/')" \
        || { echo "icon $(basename "$picture") differs from the artwork's" >&2; exit 1; }
done

# The block's strings in UTF-8, its binary words turned into line ends (what
# is left of them joins the strings' words as single letters).
version=$(wrestool -x --type=version --raw "$exe" | iconv -f UTF-16LE -t UTF-8 2>/dev/null \
          | tr '\000-\037' '\n' | grep -v '^$' | tr '\n' ' ')
echo "version block: $version"
for text in "$@"; do
    case " $version " in *" $text "*) ;; *) echo "version block lacks: $text" >&2; exit 1 ;; esac
done
echo "resources of $exe: the icon, and a version block with ${*:-nothing asked}"
