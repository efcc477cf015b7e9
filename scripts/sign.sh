#!/usr/bin/env bash
# Authenticode signatures of what ships (Registry.dll, ksconfig.exe, the .msi packages), made with
# osslsigncode. The certificate comes from the environment:
#   KS_SIGN_PKCS12=<file.p12|.pfx>              certificate, its chain and key in one file, or
#   KS_SIGN_CERT=<cert.pem> KS_SIGN_KEY=<key.pem>  certificate (with its chain) and key as PEM files;
#   KS_SIGN_PASSWORD                            the PKCS#12 file's or the key's password, if any;
#   KS_SIGN_TIMESTAMP=<url>                     an RFC 3161 time-stamping server (real releases);
#   KS_SIGN_CA=<bundle.pem>                     what a signature is verified against (default: the
#                                               system's CA bundle).
# Without KS_SIGN_PKCS12 or KS_SIGN_CERT, a throwaway test certificate is made once per build folder
# and says so in its subject: every build signs and verifies the same way a release does.
#
# Usage: sign.sh identity DIR        the certificate that signs now: DIR/cert.pem, DIR/ca.pem (what
#                                    verifies it) and DIR/identity, rewritten only when it changes
#        sign.sh sign DIR TEXT IN OUT  signs IN (PE or .msi) into OUT, TEXT its description
#        sign.sh verify DIR FILE...   verifies each FILE against DIR/ca.pem and checks that DIR/cert.pem
#                                    signed it
set -euo pipefail
mode=$1 dir=$2
shift 2
test_subject='/O=Stellwick/CN=Keystrel TEST signing certificate - not for release'

case $mode in
identity)
  mkdir -p "$dir"
  new=$(mktemp "$dir/.cert.XXXXXX")
  trap 'rm -f "$new"' EXIT
  if [ -n "${KS_SIGN_PKCS12:-}" ]; then
    # OpenSSL 3 reads older PKCS#12 files (RC2, 3DES) only with its legacy provider.
    export KS_SIGN_PASSWORD=${KS_SIGN_PASSWORD:-}
    for legacy in "" -legacy; do
      openssl pkcs12 $legacy -in "$KS_SIGN_PKCS12" -nokeys -clcerts -passin env:KS_SIGN_PASSWORD 2>/dev/null |
        openssl x509 -out "$new" 2>/dev/null && break
    done
    [ -s "$new" ] || { echo "sign.sh: cannot read the certificate from $KS_SIGN_PKCS12 (KS_SIGN_PASSWORD?)" >&2; exit 1; }
    ca=${KS_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}
  elif [ -n "${KS_SIGN_CERT:-}" ]; then
    [ -n "${KS_SIGN_KEY:-}" ] || { echo "sign.sh: KS_SIGN_CERT needs KS_SIGN_KEY" >&2; exit 1; }
    openssl x509 -in "$KS_SIGN_CERT" -out "$new"
    ca=${KS_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}
  else
    if [ ! -s "$dir/test/cert.pem" ]; then
      mkdir -p "$dir/test"
      openssl req -x509 -newkey rsa:3072 -nodes -days 3650 -subj "$test_subject" \
        -addext basicConstraints=critical,CA:FALSE -addext keyUsage=critical,digitalSignature \
        -addext extendedKeyUsage=codeSigning \
        -keyout "$dir/test/key.pem" -out "$dir/test/cert.pem" 2>/dev/null
    fi
    cp "$dir/test/cert.pem" "$new"
    ca=$dir/test/cert.pem
  fi
  chmod 644 "$new"
  cmp -s "$new" "$dir/cert.pem" || mv "$new" "$dir/cert.pem"
  cmp -s "$ca" "$dir/ca.pem" || cp "$ca" "$dir/ca.pem"
  # What the signed files depend on: the certificate and whether a time stamp is asked for.
  { openssl x509 -in "$dir/cert.pem" -noout -fingerprint -sha256; echo "timestamp ${KS_SIGN_TIMESTAMP:-none}"; } >"$new"
  cmp -s "$new" "$dir/identity" || mv "$new" "$dir/identity"
  ;;
sign)
  text=$1 in=$2 out=$3
  if [ -n "${KS_SIGN_PKCS12:-}" ]; then
    key=(-pkcs12 "$KS_SIGN_PKCS12")
  elif [ -n "${KS_SIGN_CERT:-}" ]; then
    key=(-certs "$KS_SIGN_CERT" -key "$KS_SIGN_KEY")
  else
    key=(-certs "$dir/test/cert.pem" -key "$dir/test/key.pem")
  fi
  # The password goes through a file only this user can read (mktemp's), never onto a command
  # line; osslsigncode cannot read it from a pipe.
  if [ -n "${KS_SIGN_PASSWORD:-}" ]; then
    pass=$(mktemp)
    trap 'rm -f "$pass"' EXIT
    printf %s "$KS_SIGN_PASSWORD" >"$pass"
    key+=(-readpass "$pass")
  fi
  stamp=()
  [ -z "${KS_SIGN_TIMESTAMP:-}" ] || stamp=(-ts "$KS_SIGN_TIMESTAMP")
  rm -f "$out" "$out.tmp"
  osslsigncode sign "${key[@]}" "${stamp[@]}" -h sha256 -n "$text" -in "$in" -out "$out.tmp" >"$out.log" 2>&1 ||
    { cat "$out.log" >&2; rm -f "$out.tmp"; exit 1; }
  chmod --reference="$in" "$out.tmp"
  mv "$out.tmp" "$out"
  rm -f "$out.log"
  ;;
verify)
  status=0
  serial=$(openssl x509 -in "$dir/cert.pem" -noout -serial | sed 's/^serial=//')
  for file in "$@"; do
    if ! out=$(osslsigncode verify -in "$file" -CAfile "$dir/ca.pem" 2>&1); then
      echo "$(basename "$file"): the signature does not verify against $dir/ca.pem:"
      grep -iE 'error|fail|no signature|invalid|mismatch' <<<"$out" | head -n 5 | sed 's/^/  /'
      status=1
    elif ! grep -qiE "^\s*Serial\s*:\s*$serial\$" <<<"$out"; then
      echo "$(basename "$file"): signed, but not by $(openssl x509 -in "$dir/cert.pem" -noout -subject)"
      status=1
    fi
  done
  exit $status
  ;;
*)
  echo "usage: sign.sh identity|sign|verify DIR ..." >&2
  exit 2
  ;;
esac
