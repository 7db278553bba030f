#!/usr/bin/env bash
# Runs a command under Wine at another DPI:
#   with_dpi.sh DPI DLL command...
# Wine reads the DPI (HKCU\Control Panel\Desktop LogPixels) when its server starts, so the
# command runs in a copy of the test prefix with a server of its own; run it on an X screen of its
# own (with_screen.sh) large enough for a page shown at 200 %. The session's prefix and server are
# left as they are, whatever happens to the command. The command sees the DPI as PL5_TEST_DPI.
set -u
DPI=$1 DLL=$2
shift 2
BASE=${WINEPREFIX:?with_dpi: WINEPREFIX is not set}
COPY=$BASE-dpi$DPI

cleanup() { WINEPREFIX=$COPY wineserver -k >/dev/null 2>&1; rm -rf "$COPY"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf "$COPY"
# Hard links for the installed files, which the tests only read; the registry is copied, since
# its server rewrites it.
cp -al "$BASE" "$COPY" || { echo "with_dpi: cannot copy $BASE" >&2; exit 1; }
for reg in "$COPY"/*.reg; do cp --remove-destination "$BASE/${reg##*/}" "$reg"; done
export WINEPREFIX=$COPY


# The session's server may not have saved the control's registration yet. Other tests of the
# session write a policy key or zone mappings for their run while this one runs beside them: the
# copy starts without any.
{ /usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$DPI" /f &&
  /usr/lib/wine/wine64 regsvr32 /s "$(winepath -w "$DLL")"; } >/dev/null 2>&1 ||
    { echo "with_dpi: cannot set the DPI or register $DLL" >&2; exit 1; }
/usr/lib/wine/wine64 reg delete 'HKLM\SOFTWARE\Policies\Pelora5' /f /reg:64 >/dev/null 2>&1
/usr/lib/wine/wine64 reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains' /f \
    >/dev/null 2>&1
# The server saves the registry when it ends by itself; the command's first program starts a
# new one, which reads the DPI.
wineserver -w >/dev/null 2>&1
PL5_TEST_DPI=$DPI "$@"
