#!/usr/bin/env bash
# Builds the packages of one architecture from the built DLL, signed with a certificate made
# here, and checks them: the cabinet holds the signed DLL and an INF naming the class and the
# version set in CMake; osslsigncode verifies DLL, cabinet and MSI; the MSI carries the same
# version and the allowed sites as its default; an unsigned run says so.
#   package_test.sh ARCH BUILD_ROOT VERSION
set -u
ARCH=$1 BUILD=$2 VERSION=$3
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pl5-package.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
PACKAGE=("/usr/bin/python3" "$ROOT/tools/package/package.py" --build "$BUILD" --arch "$ARCH")

# The class id as the type library declares it.
clsid=$(sed -n '/coclass PL5Ctrl/,$d; s/.*uuid(\([0-9A-Fa-f-]*\)).*/\1/p' "$ROOT/resources/Pelora5.idl" | tail -1)
[ -n "$clsid" ] || fail "no class id in Pelora5.idl"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Pelora5 test signer" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$WORK/key.pem" -out "$WORK/cert.pem" >/dev/null 2>&1 ||
    fail "openssl"
PL5_SIGN_CERT=$WORK/cert.pem PL5_SIGN_KEY=$WORK/key.pem "${PACKAGE[@]}" --dist "$WORK/signed" \
    --sites "uploads.example.com;*.example.org" >"$WORK/out" 2>&1 || { cat "$WORK/out"; fail "package"; }
grep -q "$ARCH $VERSION: .* signed$" "$WORK/out" || { cat "$WORK/out"; fail "the run does not say signed"; }
dist=$WORK/signed/$ARCH

for f in Pelora5.dll Pelora5.cab Pelora5.msi; do
    osslsigncode verify -CAfile "$WORK/cert.pem" -in "$dist/$f" >"$WORK/verify" 2>&1 ||
        { cat "$WORK/verify"; fail "osslsigncode does not verify $f"; }
done

listing=$(gcab -l "$dist/Pelora5.cab" | awk '{print $1}' | sort | tr '\n' ' ')
[ "$listing" = "Pelora5.dll Pelora5.inf " ] || fail "the cabinet holds: $listing"
mkdir "$WORK/cab" && gcab -x -C "$WORK/cab" "$dist/Pelora5.cab" || fail "gcab -x"
cmp -s "$WORK/cab/Pelora5.dll" "$dist/Pelora5.dll" || fail "the cabinet's DLL is not the signed DLL"
inf=$(tr -d '\r' <"$WORK/cab/Pelora5.inf")
case $ARCH in x64) platform=file-win32-x64 ;; x86) platform=file-win32-x86 ;; esac
for line in "Pelora5.dll=Pelora5.dll" "$platform=thiscab" "clsid={$clsid}" "FileVersion=${VERSION//./,}" \
            "RegisterServer=yes" \
            'HKLM,"SOFTWARE\Policies\Pelora5","AllowedSites",0x00010000,"uploads.example.com","*.example.org"'; do
    grep -qixF -- "$line" <<<"$inf" || { echo "$inf"; fail "the INF lacks: $line"; }
done
grep -q VerifyCertificates <<<"$inf" && fail "the INF writes a certificate policy nobody asked for"

props=$(msiinfo export "$dist/Pelora5.msi" Property | tr -d '\r')
grep -qP "^ProductVersion\t$VERSION$" <<<"$props" || fail "MSI version: $(grep ProductVersion <<<"$props")"
grep -qP "^ALLOWEDSITES\tuploads.example.com;\*.example.org$" <<<"$props" || fail "MSI sites default"

# Unsigned: said on the command's output; no policy in the INF without sites.
env -u PL5_SIGN_CERT -u PL5_SIGN_KEY "${PACKAGE[@]}" --dist "$WORK/plain" >"$WORK/out" 2>&1 &&
    grep -q "$ARCH $VERSION: .* UNSIGNED$" "$WORK/out" || { cat "$WORK/out"; fail "the unsigned run does not say so"; }
gcab -x -C "$WORK/plain" "$WORK/plain/$ARCH/Pelora5.cab" && ! grep -q Policies "$WORK/plain/Pelora5.inf" ||
    fail "the INF without sites writes a policy"

# The version set in CMake is the one the documents name.
for doc in README.md docs/reference.md; do
    grep -q "ersion $VERSION" "$ROOT/$doc" || fail "$doc does not name version $VERSION"
done
echo "package $ARCH $VERSION: signed and unsigned packages as expected"
