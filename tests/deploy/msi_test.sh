#!/usr/bin/env bash
# Installs the MSI of one architecture into a fresh Wine prefix with the platform's msiexec,
# with allowed sites and the certificate policy; checks the policy values, that the control
# answers a page (by class id and by program id), then uninstalls and checks that no class,
# program id, type library, interface, application id, policy value or file is left behind.
#   msi_test.sh ARCH BUILD_ROOT HOST.EXE
set -u
ARCH=$1 BUILD=$2 HOST=$3
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
HERE=$ROOT/tests/deploy
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pl5-msi.XXXXXX")
export WINEPREFIX=$WORK/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() { wineserver -k >/dev/null 2>&1; rm -rf "$WORK"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
case $ARCH in
    x64) WINE=/usr/lib/wine/wine64 VIEW=/reg:64 FOLDER="Program Files" ;;
    x86) WINE=wine VIEW=/reg:32 FOLDER="Program Files (x86)" ;;
esac
CLSID={7E2A99B8-B972-44DB-9201-9A443A38EFD5}
KEYS=("HKCR\\CLSID\\$CLSID" 'HKCR\Pelora5.PL5Ctrl' 'HKCR\Pelora5.PL5Ctrl.1'
      'HKCR\TypeLib\{798247F5-EA72-4E5E-89D3-97753CD4D50D}' 'HKCR\Interface\{DFCFBBD4-3016-4B60-8B78-C81788E7DA4C}'
      'HKCR\Interface\{E71559C4-DC0F-46F4-9BAF-1A1D89A3EDFB}' 'HKCR\TypeLib\{798247F5-EA72-4E5E-89D3-97753CD4D50D}\1.1'
      'HKCR\Interface\{4428CB79-B869-4EDC-BBD4-8393DCFFE615}' 'HKCR\AppID\{CD46D855-4114-450F-A30A-1533D5A99195}'
      'HKCR\AppID\Pelora5.DLL')
reg_query() {  # reg's lines end in CR LF
    local out
    out=$(wine reg query "$@" "$VIEW" 2>/dev/null) || return 1
    printf '%s\n' "${out//$'\r'/}"
}

/usr/bin/python3 "$ROOT/tools/package/package.py" --build "$BUILD" --dist "$WORK/dist" --arch "$ARCH" >/dev/null ||
    fail "package"
wineboot -i </dev/null >/dev/null 2>&1
msi=$(winepath -w "$WORK/dist/$ARCH/Pelora5.msi")

wine msiexec /i "$msi" /qn "ALLOWEDSITES=uploads.example.com *.example.org" VERIFYCERTIFICATES=1 ||
    fail "msiexec /i ended with $?"
[ -f "$WINEPREFIX/drive_c/$FOLDER/Pelora5/Pelora5.dll" ] || fail "no DLL under $FOLDER"
for key in "${KEYS[@]}"; do reg_query "$key" >/dev/null || fail "not registered: $key"; done
reg_query "HKCR\\CLSID\\$CLSID\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}" >/dev/null ||
    fail "not safe for scripting"
policy=$(reg_query 'HKLM\SOFTWARE\Policies\Pelora5')
grep -qE 'AllowedSites +REG_MULTI_SZ +uploads\.example\.com\\0\*\.example\.org$' <<<"$policy" ||
    { echo "$policy"; fail "AllowedSites is not the list of both sites"; }
grep -qE 'VerifyCertificates +REG_DWORD +0x1$' <<<"$policy" || { echo "$policy"; fail "VerifyCertificates"; }

# The installed policy is in force: a page of a listed site gets the control, any other page
# gets a control that refuses to be scripted.
page=$(winepath -w "$HERE/pages/installed.html")
out=$(timeout 120 "$WINE" "$HOST" --timeout 60 --url http://uploads.example.com/installed.html "$page" </dev/null 2>&1)
grep -q "installed control answers" <<<"$out" || { echo "$out"; fail "the installed control does not answer"; }
out=$(timeout 120 "$WINE" "$HOST" --timeout 60 --url http://elsewhere.example.com/installed.html "$page" </dev/null 2>&1)
grep -q "not safe for scripting" <<<"$out" || { echo "$out"; fail "the site list is not in force"; }

wine msiexec /x "$msi" /qn || fail "msiexec /x ended with $?"
for key in "${KEYS[@]}"; do reg_query "$key" >/dev/null && fail "left behind: $key"; done
reg_query 'HKLM\SOFTWARE\Policies\Pelora5' /v AllowedSites >/dev/null && fail "AllowedSites left behind"
reg_query 'HKLM\SOFTWARE\Policies\Pelora5' /v VerifyCertificates >/dev/null && fail "VerifyCertificates left behind"
[ -e "$WINEPREFIX/drive_c/$FOLDER/Pelora5/Pelora5.dll" ] && fail "the DLL is left behind"

# Without properties: no policy at all.
wine msiexec /i "$msi" /qn || fail "msiexec /i without properties ended with $?"
reg_query 'HKLM\SOFTWARE\Policies\Pelora5' >/dev/null && fail "a policy without ALLOWEDSITES or VERIFYCERTIFICATES"
wine msiexec /x "$msi" /qn || fail "the second msiexec /x ended with $?"
echo "msi $ARCH: installs, answers, uninstalls cleanly"
