#!/usr/bin/env bash
# Signs Windows files (.exe, .msi) in place with Authenticode, with osslsigncode,
# when the environment names a code-signing certificate:
#
#   TRB_SIGN_PKCS12=cert.p12 [TRB_SIGN_PASSWORD=...]     a PKCS#12 file (certificate,
#                                                       chain and key), or
#   TRB_SIGN_CERT=cert.pem TRB_SIGN_KEY=key.pem          a certificate (chain) and its
#       [TRB_SIGN_PASSWORD=...]                          key, the key's password if any
#   TRB_SIGN_TIMESTAMP_URL=https://...                   optional: an RFC 3161 time-stamp
#                                                       server, so that the signature
#                                                       outlives the certificate
#
#   sign-windows.sh FILE...      signs each FILE; without a certificate leaves them as
#                                they are
#   sign-windows.sh --identity   prints one line: what signs, or that nothing does
#                                (the build shows it and rebuilds when it changes)
#
# A certificate named but unusable (a file missing, a certificate without its key,
# a wrong password) fails with status 2 or osslsigncode's status: a release must
# not come out unsigned because of a typing mistake. The password never goes on
# a command line.
set -euo pipefail

description="TRB-Kelo7 Firmware Updater"

pkcs12="${TRB_SIGN_PKCS12:-}"
cert="${TRB_SIGN_CERT:-}"
key="${TRB_SIGN_KEY:-}"
timestamp_url="${TRB_SIGN_TIMESTAMP_URL:-}"

fail() { echo "sign-windows.sh: $*" >&2; exit 2; }

credentials=()
if [ -n "$pkcs12" ]; then
    [ -z "$cert$key" ] || fail "TRB_SIGN_PKCS12 and TRB_SIGN_CERT/TRB_SIGN_KEY are both set; name one certificate"
    [ -r "$pkcs12" ] || fail "TRB_SIGN_PKCS12 names no readable file: $pkcs12"
    credentials=(-pkcs12 "$pkcs12")
elif [ -n "$cert$key" ]; then
    [ -n "$cert" ] && [ -n "$key" ] || fail "TRB_SIGN_CERT and TRB_SIGN_KEY go together"
    [ -r "$cert" ] || fail "TRB_SIGN_CERT names no readable file: $cert"
    [ -r "$key" ] || fail "TRB_SIGN_KEY names no readable file: $key"
    credentials=(-certs "$cert" -key "$key")
fi

if [ "${1:-}" = --identity ]; then
    if [ ${#credentials[@]} -eq 0 ]; then
        echo "windows: no code-signing certificate (TRB_SIGN_PKCS12, or TRB_SIGN_CERT and TRB_SIGN_KEY): the .exe files and the installer are unsigned"
    else
        # The files' digests, so that a renewed certificate at the same path signs again.
        digest="$(cat "${pkcs12:-$cert}" ${key:+"$key"} | sha256sum | cut -c1-16)"
        echo "windows: signing the .exe files and the installer with ${pkcs12:-$cert} ($digest)${timestamp_url:+, time-stamped by $timestamp_url}"
    fi
    exit 0
fi

[ ${#credentials[@]} -gt 0 ] || exit 0

options=(-h sha256 -n "$description")
[ -n "$timestamp_url" ] && options+=(-ts "$timestamp_url")

# osslsigncode replaces a signature the file already has. The password reaches it
# in a file only this user may read, removed at the end.
password_options=()
if [ -n "${TRB_SIGN_PASSWORD:-}" ]; then
    password_file="$(mktemp)"
    trap 'rm -f "$password_file"' EXIT
    printf '%s' "$TRB_SIGN_PASSWORD" >"$password_file"
    password_options=(-readpass "$password_file")
fi

sign_copy() # FILE SIGNED
{
    osslsigncode sign "${credentials[@]}" "${password_options[@]}" "${options[@]}" -in "$1" -out "$2" </dev/null
}

for file in "$@"; do
    signed="$file.signing"
    rm -f "$signed"
    if ! sign_copy "$file" "$signed" >/dev/null; then
        rm -f "$signed"
        echo "sign-windows.sh: could not sign $file" >&2
        exit 1
    fi
    # The signed copy keeps the file's mode (osslsigncode writes a plain file).
    chmod --reference="$file" "$signed"
    mv -f "$signed" "$file"
done
