#!/usr/bin/env bash
# Release build of the Windows files: Veltrano.dll and veltrano.exe, stripped
# and signed (BUILD_DIR/release; their debug information stays beside them in
# BUILD_DIR/Veltrano-debug and is not installed),
# the sparse package Veltrano.msix, signed with the same certificate, then the
# installer made of them, signed too (Authenticode, osslsigncode).
#
#   installer/release.sh [BUILD_DIR]        (default: build-win)
#
# The certificate and key never come from the repository. Either files:
#   VELTRANO_SIGN_CERT=cert.pem VELTRANO_SIGN_KEY=key.pem
# or a PKCS#12 file with its password:
#   VELTRANO_SIGN_PKCS12=code-signing.p12 VELTRANO_SIGN_PASSWORD=...
# or the PEM texts themselves in VELTRANO_SIGN_CERT_PEM and
# VELTRANO_SIGN_KEY_PEM. VELTRANO_SIGN_TIMESTAMP_URL adds a timestamp.
# Without any of them the files are built unsigned, and the script says so.
# Each signature is checked with `osslsigncode verify` (against the signing
# certificate itself, which is what a self-signed CI certificate needs).
#
# The package's Publisher must be the signing certificate's subject exactly,
# and veltrano.exe's manifest names the same publisher: the build is
# configured with the subject of the certificate given (VELTRANO_PUBLISHER),
# and the signed package is checked to carry it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-win}"
jobs="${JOBS:-2}"

secrets="$(mktemp -d)"
trap 'rm -rf "$secrets"' EXIT
sign_args=()
verify_args=()
if [ -n "${VELTRANO_SIGN_CERT_PEM:-}" ] && [ -n "${VELTRANO_SIGN_KEY_PEM:-}" ]; then
  printf '%s\n' "$VELTRANO_SIGN_CERT_PEM" >"$secrets/cert.pem"
  (umask 077 && printf '%s\n' "$VELTRANO_SIGN_KEY_PEM" >"$secrets/key.pem")
  VELTRANO_SIGN_CERT="$secrets/cert.pem" VELTRANO_SIGN_KEY="$secrets/key.pem"
fi
signer=""  # the signing certificate alone, PEM
if [ -n "${VELTRANO_SIGN_CERT:-}" ] && [ -n "${VELTRANO_SIGN_KEY:-}" ]; then
  sign_args=(-certs "$VELTRANO_SIGN_CERT" -key "$VELTRANO_SIGN_KEY")
  verify_args=(-CAfile "$VELTRANO_SIGN_CERT")
  openssl x509 -in "$VELTRANO_SIGN_CERT" -out "$secrets/signer.pem"
  signer="$secrets/signer.pem"
elif [ -n "${VELTRANO_SIGN_PKCS12:-}" ]; then
  sign_args=(-pkcs12 "$VELTRANO_SIGN_PKCS12" -pass "${VELTRANO_SIGN_PASSWORD:-}")
  VELTRANO_SIGN_PASSWORD="${VELTRANO_SIGN_PASSWORD:-}" openssl pkcs12 -in "$VELTRANO_SIGN_PKCS12" \
    -passin env:VELTRANO_SIGN_PASSWORD -nokeys -out "$secrets/chain.pem"
  VELTRANO_SIGN_PASSWORD="${VELTRANO_SIGN_PASSWORD:-}" openssl pkcs12 -in "$VELTRANO_SIGN_PKCS12" \
    -passin env:VELTRANO_SIGN_PASSWORD -nokeys -clcerts | openssl x509 -out "$secrets/signer.pem"
  verify_args=(-CAfile "$secrets/chain.pem")
  signer="$secrets/signer.pem"
fi
if [ -n "${VELTRANO_SIGN_TIMESTAMP_URL:-}" ]; then sign_args+=(-ts "$VELTRANO_SIGN_TIMESTAMP_URL"); fi

sign() {
  local file=$1
  if [ ${#sign_args[@]} -eq 0 ]; then return; fi
  osslsigncode sign "${sign_args[@]}" -h sha256 -n "Veltrano" -in "$file" -out "$file.signed" >/dev/null
  mv "$file.signed" "$file"
  if ! osslsigncode verify "${verify_args[@]}" -in "$file" >"$secrets/verify.log" 2>&1; then
    cat "$secrets/verify.log" >&2
    echo "release: the signature of $file does not verify" >&2
    exit 1
  fi
  echo "release: signed and verified $file"
}

configure_args=()
if [ -n "$signer" ]; then
  publisher=$("$root/installer/package/certificate_publisher.sh" "$signer")
  configure_args=(-DVELTRANO_PUBLISHER="$publisher")
  echo "release: package publisher $publisher (the signing certificate's subject)"
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" "${configure_args[@]}"
elif [ ${#configure_args[@]} -gt 0 ]; then
  cmake -S "$root" -B "$build" "${configure_args[@]}" >/dev/null
fi
cmake --build "$build" -j"$jobs" --target installer_files package

sign "$build/release/Veltrano.dll"
sign "$build/release/veltrano.exe"
sign "$build/Veltrano.msix"
if [ -n "$signer" ]; then
  # The package names its signer as its publisher, or Windows refuses it.
  unzip -p "$build/Veltrano.msix" AppxSignature.p7x | tail -c +5 >"$secrets/signature.p7"
  openssl pkcs7 -inform DER -in "$secrets/signature.p7" -print_certs -out "$secrets/signature-certs.pem"
  fingerprint=$(openssl x509 -in "$signer" -noout -fingerprint -sha256)
  awk -v dir="$secrets" '/-----BEGIN CERTIFICATE-----/ { n++ } n { print > (dir "/embedded" n ".pem") }' \
    "$secrets/signature-certs.pem"
  found=no
  for embedded in "$secrets"/embedded*.pem; do
    [ "$(openssl x509 -in "$embedded" -noout -fingerprint -sha256)" = "$fingerprint" ] && found=yes
  done
  manifest_publisher=$(unzip -p "$build/Veltrano.msix" AppxManifest.xml |
    xmllint --xpath 'string(/*[local-name()="Package"]/*[local-name()="Identity"]/@Publisher)' -)
  if [ "$found" != yes ] || [ "$manifest_publisher" != "$publisher" ]; then
    echo "release: the package's publisher [$manifest_publisher] is not its signer's subject [$publisher]" >&2
    exit 1
  fi
  echo "release: the package's publisher is its signer's subject"
fi
# The installer packs the two files as they are now, signed or not.
cmake --build "$build" -j"$jobs" --target installer
sign "$build/Veltrano-Setup-x64.exe"
if [ ${#sign_args[@]} -eq 0 ]; then
  echo "release: UNSIGNED build: no certificate given (set VELTRANO_SIGN_CERT and VELTRANO_SIGN_KEY," \
       "or VELTRANO_SIGN_PKCS12)" >&2
fi
echo "release: $build/Veltrano-Setup-x64.exe"
echo "release: debug information (not installed) in $build/Veltrano-debug"
