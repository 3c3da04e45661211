#!/usr/bin/env bash
# Checks the Authenticode signing of the Windows build with a throwaway
# self-signed code-signing certificate made here: the packages made by the
# build's own Pack.cmake hold the signed .exe (the stage, the zip and the
# installer alike) and the installer is signed; a certificate and key pair signs
# as a PKCS#12 file does; osslsigncode accepts each signature against that
# certificate, and refuses it once one byte of the file has changed. Without a
# certificate nothing is signed and one line says so. Prints the signed sizes.
#
#   test_signing.sh PACK PACK_SETTINGS PROGRAM_EXE SIGN_SCRIPT MSI
set -euo pipefail

pack="$1" settings="$2" program_exe="$3" sign="$4" msi="$5"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
unset TRB_SIGN_PKCS12 TRB_SIGN_PASSWORD TRB_SIGN_CERT TRB_SIGN_KEY TRB_SIGN_TIMESTAMP_URL

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=TRB throwaway code signing" \
    -addext "keyUsage=digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:throwaway -out "$work/cert.p12"

verifies() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >/dev/null 2>&1; }
# A byte the signature covers: in the middle of an .exe (the signature is at its
# end), in the installer's string table for an .msi (its container's free space
# is not covered).
changed_copy() # FILE COPY
{
    local offset
    if [[ "$1" == *.msi ]]; then
        offset="$(grep -obUaF "A newer version" "$1" | head -1 | cut -d: -f1)"
    else
        offset=$(($(stat -c %s "$1") / 2))
    fi
    cp "$1" "$2"
    # shellcheck disable=SC2059
    printf "\\x$(printf %02x $(($(od -An -tu1 -j "$offset" -N1 "$1") ^ 1)))" \
        | dd of="$2" bs=1 seek="$offset" conv=notrunc status=none
}
expect_signed() # FILE WHAT
{
    verifies "$1" || fail "$2 is not signed by the certificate: $1"
    changed_copy "$1" "$work/changed"
    if cmp -s "$1" "$work/changed" || verifies "$work/changed"; then
        fail "$2 still verifies after a byte changed"
    fi
}

# Without a certificate: one line says so, and the file stays as it was.
cp "$program_exe" "$work/unsigned.exe"
identity="$("$sign" --identity)"
[ "$(wc -l <<<"$identity")" -eq 1 ] && [[ "$identity" == *unsigned* ]] || fail "without a certificate it says: $identity"
"$sign" "$work/unsigned.exe"
cmp -s "$program_exe" "$work/unsigned.exe" || fail "a file changed without a certificate"

# The packages, signed by a PKCS#12 file through the build's own packing.
TRB_SIGN_PKCS12="$work/cert.p12" TRB_SIGN_PASSWORD=throwaway cmake -DSETTINGS="$settings" \
    -DPROGRAM="$program_exe" -DVERSION=1.0.0 -DSTAGE="$work/stage" -DZIP="$work/p.zip" -DMSI="$work/p.msi" -P "$pack"
exe="$(find "$work/stage" -maxdepth 1 -name '*.exe')"
unzip -p "$work/p.zip" "$(basename "$exe")" >"$work/from-zip.exe"
msiextract -C "$work/from-msi" "$work/p.msi" >/dev/null
expect_signed "$exe" "the packed .exe"
expect_signed "$work/p.msi" "the installer"
cmp -s "$exe" "$work/from-zip.exe" || fail "the zip holds another .exe than the signed one"
cmp -s "$exe" "$(find "$work/from-msi" -name "$(basename "$exe")")" || fail "the installer holds another .exe than the signed one"

# A certificate and key pair signs copies of the build's own files.
cp "$program_exe" "$work/pair.exe"
cp "$msi" "$work/pair.msi"
TRB_SIGN_CERT="$work/cert.pem" TRB_SIGN_KEY="$work/key.pem" "$sign" "$work/pair.exe" "$work/pair.msi"
expect_signed "$work/pair.exe" "the .exe signed by a certificate and key"
expect_signed "$work/pair.msi" "the installer signed by a certificate and key"

# A half-named certificate is an error, never an unsigned success.
if TRB_SIGN_CERT="$work/cert.pem" "$sign" "$work/pair.exe" 2>/dev/null; then
    fail "a certificate without its key was taken"
fi

echo "signed sizes: packed .exe $(stat -c %s "$exe") bytes, installer $(stat -c %s "$work/p.msi") bytes"
[ "$failures" -eq 0 ] && echo "signing: all checks passed"
exit $((failures > 0))
