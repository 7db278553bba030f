#!/usr/bin/env bash
# Runs a command with host names mapped to security zones in the prefix's Internet Settings, as
# an administrator maps them, and removes the mappings afterwards however the command ends:
#   with_zones.sh NAME=ZONE... -- command...
# NAME: a host name or an IP literal, mapped for every scheme; ZONE: intranet, trusted or
# restricted. An address no name maps stays in the Internet zone (loopback included).
set -u
DOMAINS='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains'
REG=(/usr/lib/wine/wine64 reg)
NAMES=()
declare -A ZONE_NUMBERS=([intranet]=1 [trusted]=2 [restricted]=4)

cleanup() { for name in "${NAMES[@]}"; do "${REG[@]}" delete "$DOMAINS\\$name" /f >/dev/null 2>&1; done; }
trap cleanup EXIT
trap 'exit 130' INT TERM

while [ $# -gt 0 ] && [ "$1" != -- ]; do
    name=${1%%=*} zone=${ZONE_NUMBERS[${1#*=}]:-}
    [ -n "$zone" ] || { echo "with_zones: '$1' is not NAME=intranet|trusted|restricted" >&2; exit 2; }
    NAMES+=("$name")
    "${REG[@]}" add "$DOMAINS\\$name" /v '*' /t REG_DWORD /d "$zone" /f >/dev/null 2>&1 ||
        { echo "with_zones: cannot map $name" >&2; exit 1; }
    shift
done
[ "${1:-}" = -- ] && shift
"$@"
