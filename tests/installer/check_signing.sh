#!/bin/bash
# Signing: the package script signs the programs and the package with a certificate made here
# for the test, and each signature is whole: Authenticode, SHA-256, by that certificate.
#   check_signing.sh <build-package.sh> <version> <programs folder>
set -uo pipefail
script=${1:?} version=${2:?} programs=${3:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=Lumivane test signer" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" \
    >/dev/null 2>&1 || { echo "FAIL: openssl cannot make a certificate"; exit 1; }
printf 'throwaway\n' >"$work/password"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.pfx" \
    -passout file:"$work/password" >/dev/null 2>&1 || { echo "FAIL: no .pfx"; exit 1; }

bash "$script" --sign "$work/cert.pfx" --password-file "$work/password" "$version" "$programs" \
    "$work/signed.msi" || { echo "FAIL: signed build failed"; exit 1; }

# The signed programs are taken out of the package again to be checked as installed.
msiextract -C "$work/extracted" "$work/signed.msi" >/dev/null 2>&1 || fail "the package does not open"
installed="$work/extracted/Program Files/ZAVIK/Lumivane"
verify() { # <file>
    osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify" 2>&1 ||
        { fail "$(basename "$1"): $(grep -i -m1 -E "fail|error" "$work/verify")"; return; }
    grep -q "Signature verification: ok" "$work/verify" || fail "$(basename "$1") not verified"
    grep -qi "sha256" "$work/verify" || fail "$(basename "$1") not SHA-256"
    grep -q "Lumivane test signer" "$work/verify" || fail "$(basename "$1") other signer"
}
for name in Lumivane.exe Tessel.dll Stagehand.exe PanelCheck.exe; do
    [ -f "$installed/$name" ] || { fail "$name not in the package"; continue; }
    verify "$installed/$name"
done
verify "$work/signed.msi"
# The unsigned programs beside the build stay as they were.
osslsigncode verify -in "$programs/Stagehand.exe" >/dev/null 2>&1 &&
    fail "the build's own program was signed in place"

echo "$failures failures"
[ $failures -eq 0 ]
