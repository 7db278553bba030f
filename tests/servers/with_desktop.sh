#!/usr/bin/env bash
# Runs a command under Wine on a desktop of its own: a copy of the session's prefix with a Wine
# server of its own, on an X screen of its own (with_screen.sh), with the control registered and
# without the policy key or zone mappings other tests may have written for their run. Its windows,
# focus, input and settings then touch no other test's, so it can run beside them:
#   with_desktop.sh [--dpi DPI] [--screen WIDTHxHEIGHT] DLL command...
# --dpi: Wine reads the DPI (HKCU\Control Panel\Desktop LogPixels) when its server starts; the
# command sees it as PL5_TEST_DPI. The session's prefix and server are left as they are, whatever
# happens to the command.
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DPI= SCREEN=1280x1024
while :; do
    case ${1:-} in
        --dpi) DPI=$2; shift 2 ;;
        --screen) SCREEN=$2; shift 2 ;;
        *) break ;;
    esac
done
[ -n "${PL5_DESKTOP_SCREEN:-}" ] || exec bash "$HERE/with_screen.sh" "$SCREEN" env PL5_DESKTOP_SCREEN=1 \
    bash "$0" ${DPI:+--dpi "$DPI"} "$@"
DLL=$1
shift
BASE=${WINEPREFIX:?with_desktop: WINEPREFIX is not set}
COPY=$(mktemp -d "$BASE-desktop.XXXXXX")
WINE=/usr/lib/wine/wine64

cleanup() { WINEPREFIX=$COPY wineserver -k >/dev/null 2>&1; rm -rf "$COPY"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

# Hard links for the installed files, which the tests only read; the registry is copied, since
# its server rewrites it.
cp -al "$BASE/." "$COPY/" || { echo "with_desktop: cannot copy $BASE" >&2; exit 1; }
for reg in "$COPY"/*.reg; do cp --remove-destination "$BASE/${reg##*/}" "$reg"; done
export WINEPREFIX=$COPY

# The session's server may not have saved the control's registration yet, nor taken back what
# other tests write for their run while this one runs beside them.
DOMAINS='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains'
{ [ -z "$DPI" ] || $WINE reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$DPI" /f; } >/dev/null 2>&1 &&
    $WINE regsvr32 /s "$(winepath -w "$DLL")" >/dev/null 2>&1 ||
    { echo "with_desktop: cannot set the DPI or register $DLL" >&2; exit 1; }
{ $WINE reg delete 'HKLM\SOFTWARE\Policies\Pelora5' /f /reg:64
  $WINE reg delete "$DOMAINS" /f && $WINE reg add "$DOMAINS" /f; } >/dev/null 2>&1
# The server saves the registry when it ends by itself; the command's first program starts a
# new one, which reads the DPI. (Not a persistent one: the desktop's programs it would keep would
# hold the command's output open.)
wineserver -w >/dev/null 2>&1
[ -z "$DPI" ] || export PL5_TEST_DPI=$DPI
"$@"
