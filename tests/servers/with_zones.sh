#!/usr/bin/env bash
# Runs a command with host names mapped to security zones in the prefix, as an administrator maps
# them, and removes the mappings afterwards:  with_zones.sh NAME=intranet|trusted ... -- command...
# A NAME is a host name or an IP literal, or $VARIABLE for the one an environment variable holds
# (an address another wrapper chose); an address no name maps is in the Internet zone.
set -u
DOMAINS='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains'
NAMES=()
cleanup() { for name in "${NAMES[@]}"; do /usr/lib/wine/wine64 reg delete "$DOMAINS\\$name" /f >/dev/null 2>&1; done; }
trap cleanup EXIT
trap 'exit 130' INT TERM
while [ "${1:---}" != -- ]; do
    case ${1#*=} in intranet) zone=1 ;; trusted) zone=2 ;; *) echo "with_zones: bad mapping '$1'" >&2; exit 2 ;; esac
    name=${1%%=*}
    if [ "${name:0:1}" = '$' ]; then name=${name:1}; name=${!name:-}; fi
    [ -n "$name" ] || { echo "with_zones: nothing to map in '$1'" >&2; exit 2; }
    NAMES+=("$name")
    /usr/lib/wine/wine64 reg add "$DOMAINS\\$name" /v '*' /t REG_DWORD /d $zone /f >/dev/null 2>&1 ||
        { echo "with_zones: cannot map $name" >&2; exit 1; }
    shift
done
shift
"$@"
