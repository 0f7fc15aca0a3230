#!/usr/bin/env bash
# Makes a Wine prefix for running the Windows build, without any dialog: no
# Mono or Gecko installers (mscoree and mshtml are switched off), Windows 10
# as the reported version, DejaVu Sans for the dialog fonts, nothing from the
# desktop integration, and COM ports on the given Unix paths (a simulator's
# link). A prefix this script made before with the same ports is kept.
# Then it starts the prefix's server, which ends five minutes after its last
# program (or with `wineserver -k`); its messages, an object list at its end
# among them, go to PREFIX-DIR.server.log rather than into a program's output.
#
#   tests/wine/prefix.sh PREFIX-DIR [COMn=UNIX-PATH ...]
#
# Then: WINEPREFIX=PREFIX-DIR /usr/lib/wine/wine64 program.exe
set -euo pipefail
prefix=${1:?usage: prefix.sh PREFIX-DIR [COMn=UNIX-PATH ...]}
shift
wine=${OLVEX_WINE:-/usr/lib/wine/wine64}
wineserver=$(dirname "$wine")/wineserver

export WINEPREFIX=$(realpath -m "$prefix")
export WINEDEBUG=-all
# No Mono/Gecko install dialogs, no menu entries or file associations.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
unset DISPLAY # wineboot shows no window without one

# What the prefix is made of: this script, the ports, Wine's version.
stamp="$(sha1sum <"$0") $* $("$wine" --version)"
# The server, and the prefix's services with it: they outlive the program
# that starts them and keep its standard output and error open, which would
# hold a test's output open as long as the server runs.
serve() { # [wineserver options]
    "$wineserver" "$@" 2>>"$WINEPREFIX.server.log" >&2 || true # one may run already
    "$wine" reg query 'HKLM\Software\Wine' </dev/null >>"$WINEPREFIX.server.log" 2>&1
}
if [ -f "$WINEPREFIX/.olvex-prefix" ] && [ "$(cat "$WINEPREFIX/.olvex-prefix")" = "$stamp" ]; then
    echo "prefix $WINEPREFIX: as made before"
    serve -p300
    exit 0
fi
"$wineserver" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"

start=$(date +%s%N)
mkdir -p "$WINEPREFIX"
serve
"$wine" wineboot --init >/dev/null 2>&1
# Windows 10, so that the toolkit picks the look of Windows 10
# (QSysInfo::productVersion() says "10"; a new prefix says "7sp1").
"$wine" winecfg /v win10 >/dev/null 2>&1
# The dialog font of Windows is missing from a new prefix (Debian's Wine does
# not load the Tahoma of fonts-wine), and the toolkit then falls back to any
# installed face, a math font with lines four times too high among them.
# DejaVu Sans stands in for the dialog fonts instead; it has every glyph the
# window uses (Cyrillic, the en dash) in regular and bold.
subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Segoe UI"; do
    "$wine" reg add "$subst" /v "$face" /t REG_SZ /d "DejaVu Sans" /f >/dev/null 2>&1
done
# Wine makes its COM ports when the prefix's services start: a port named
# here is then listed like a real one (a dosdevices link made by hand opens,
# but is not listed). The Unix path may come and go; it must be there when
# the port is opened.
for port in "$@"; do
    "$wine" reg add 'HKLM\Software\Wine\Ports' /v "${port%%=*}" /t REG_SZ /d "${port#*=}" /f \
        >/dev/null 2>&1
done
"$wineserver" -w
echo "$stamp" >"$WINEPREFIX/.olvex-prefix"
echo "prefix $WINEPREFIX made in $((($(date +%s%N) - start) / 1000000)) ms"
serve -p300
