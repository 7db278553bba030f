#!/usr/bin/env bash
# Runs a command with the control's policy key written, and removes the key afterwards however
# the command ends:
#   with_policy.sh SITES VERIFY command...
# SITES: site patterns separated by "|", or "-" for no AllowedSites value; VERIFY: the
# VerifyCertificates number, or "-" for none. The key goes under HKEY_LOCAL_MACHINE (64-bit view).
set -u
ROOT='HKLM\SOFTWARE\Policies\Pelora5'
SITES=$1 VERIFY=$2
shift 2
REG=(/usr/lib/wine/wine64 reg)

cleanup() { "${REG[@]}" delete "$ROOT" /f /reg:64 >/dev/null 2>&1; }
trap cleanup EXIT
trap 'exit 130' INT TERM

cleanup
"${REG[@]}" add "$ROOT" /f /reg:64 >/dev/null 2>&1 || { echo "with_policy: cannot write $ROOT" >&2; exit 1; }
if [ "$SITES" != - ]; then
    "${REG[@]}" add "$ROOT" /v AllowedSites /t REG_MULTI_SZ /d "${SITES//|/\\0}" /f /reg:64 >/dev/null 2>&1 ||
        { echo "with_policy: cannot write AllowedSites" >&2; exit 1; }
fi
if [ "$VERIFY" != - ]; then
    "${REG[@]}" add "$ROOT" /v VerifyCertificates /t REG_DWORD /d "$VERIFY" /f /reg:64 >/dev/null 2>&1 ||
        { echo "with_policy: cannot write VerifyCertificates" >&2; exit 1; }
fi
"$@"
