#!/usr/bin/env bash
# The signatures of what ships: each signed binary and package verifies against the certificate
# that signed it (scripts/sign.sh verify), each package holds the signed binaries, not the
# unsigned ones, and the signed binaries' PE checksums are valid. The same verification must refuse
# an unsigned file, a signed file changed afterwards, and files signed with another certificate,
# trusted or not.
# Usage: signature_test.sh OBJDUMP SIGNING_DIR UNSIGNED.dll SIGNED_FILE...
#   SIGNING_DIR is the build's package/signing (cert.pem, ca.pem); UNSIGNED.dll is a stripped
#   binary before signing.
set -u -o pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
objdump=$1 signing=$2 unsigned=$3
shift 3
sign=$root/scripts/sign.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
verify() { "$sign" verify "$signing" "$@"; }

# What ships.
for file in "$@"; do
  verify "$file" || fail "$(basename "$file") is not signed by $(openssl x509 -in "$signing/cert.pem" -noout -subject)"
  case $file in
    *.msi)
      # The package's files are the signed binaries.
      rm -rf "$work/msi" && mkdir -p "$work/msi"
      (cd "$work/msi" && msiextract "$file" >/dev/null) || fail "msiextract $(basename "$file")"
      found=0
      while IFS= read -r -d '' binary; do
        found=$((found + 1))
        verify "$binary" >/dev/null || fail "$(basename "$file") holds an unsigned or wrongly signed $(basename "$binary")"
      done < <(find "$work/msi" -type f \( -name '*.dll' -o -name '*.exe' \) -print0)
      [ $found -eq 2 ] || fail "$(basename "$file") holds $found binaries, not Registry.dll and ksconfig.exe"
      ;;
    *)
      "$root/scripts/check_dll.sh" --checksum "$objdump" "$file" >/dev/null ||
        fail "$(basename "$file"): $("$root/scripts/check_dll.sh" --checksum "$objdump" "$file" | grep -i checksum)"
      ;;
  esac
done
# Without a release certificate, the build's own says that it is a test certificate.
if [ -z "${KS_SIGN_PKCS12:-}${KS_SIGN_CERT:-}" ]; then
  openssl x509 -in "$signing/cert.pem" -noout -subject | grep -q 'TEST signing certificate - not for release' ||
    fail "the test certificate does not say so: $(openssl x509 -in "$signing/cert.pem" -noout -subject)"
fi

# What the verification must refuse.
first=$1
refused() {  # file, what it is
  verify "$1" >/dev/null && fail "the verification accepted $2"
}
refused "$unsigned" "an unsigned binary"
cp "$first" "$work/changed"
size=$(stat -c %s "$work/changed")
printf '\x5a' | dd of="$work/changed" bs=1 seek=$((size / 3)) conv=notrunc 2>/dev/null
cmp -s "$first" "$work/changed" && printf '\xa5' | dd of="$work/changed" bs=1 seek=$((size / 3)) conv=notrunc 2>/dev/null
refused "$work/changed" "a signed file changed after signing"
# Another throwaway certificate: neither trusted nor the one that signs here.
mkdir -p "$work/other"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj '/CN=another certificate' \
  -addext extendedKeyUsage=codeSigning -keyout "$work/other/key.pem" -out "$work/other/cert.pem" 2>/dev/null
osslsigncode sign -certs "$work/other/cert.pem" -key "$work/other/key.pem" -h sha256 \
  -in "$unsigned" -out "$work/other.dll" >/dev/null || fail "signing with another certificate"
refused "$work/other.dll" "a binary signed with an untrusted certificate"
# Trusted as well, but still not the certificate that signs this build.
mkdir -p "$work/trusting"
cp "$signing/cert.pem" "$work/trusting/cert.pem"
cat "$signing/ca.pem" "$work/other/cert.pem" >"$work/trusting/ca.pem"
"$sign" verify "$work/trusting" "$work/other.dll" >/dev/null &&
  fail "the verification accepted a binary signed with a trusted certificate other than the build's"
"$sign" verify "$work/trusting" "$first" >/dev/null || fail "adding a trusted certificate refused the build's own signature"

[ $failures -eq 0 ] && echo "signatures: $# files signed by $(openssl x509 -in "$signing/cert.pem" -noout -subject | sed 's/^subject=//'), and the verification refuses the four wrong ones"
exit $((failures > 0))
