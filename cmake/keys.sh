#!/usr/bin/env bash
# Checks the owner's signing settings before anything is built, so that a
# release is signed whole or not at all, and never waits for a password.
# Usage: keys.sh MINISIGN_KEY SIGNING_CERT SIGNING_KEY (an empty one: unset)
set -euo pipefail
minisign=$1 cert=$2 key=$3
stop() { echo "$*" >&2; exit 1; }
[[ -z $cert && -z $key || -n $cert && -n $key ]] ||
  stop "set both PIDRECORD_SIGNING_CERT and PIDRECORD_SIGNING_KEY, or neither"
for pair in "PIDRECORD_MINISIGN_KEY=$minisign" \
  "PIDRECORD_SIGNING_CERT=$cert" "PIDRECORD_SIGNING_KEY=$key"; do
  file=${pair#*=}
  [ -z "$file" ] || [ -f "$file" ] || stop "${pair%%=*}: no file $file"
  [ -z "$file" ] || [ -r "$file" ] || stop "${pair%%=*}: cannot read $file"
done
# Read through redirections, so that no name is taken for an option. A
# minisign secret key begins "Ed", then its KDF, none ("\0\0") for a key
# made with -W and "Sc" for one with a password, then "B2".
if [ -n "$minisign" ]; then
  line=$(sed -n 2p <"$minisign")
  [[ $line != RWRTY0Iy* ]] || stop "$minisign has a password: remove it with minisign -C"
  [[ $line == RWQAAEIy* ]] || stop "PIDRECORD_MINISIGN_KEY $minisign is not a minisign secret key"
fi
[ -z "$key" ] || ! grep -q ENCRYPTED <"$key" ||
  stop "$key has a password: remove it with openssl pkey"
[ -n "$cert" ] || exit 0
command -v openssl >/dev/null ||
  stop "openssl not found: it checks that $cert is the certificate of $key"
public=$(openssl x509 -noout -pubkey <"$cert" 2>/dev/null || echo none)
[ "$public" = "$(openssl pkey -pubout -passin pass: <"$key" 2>/dev/null)" ] ||
  stop "PIDRECORD_SIGNING_CERT $cert is not the certificate of" \
    "PIDRECORD_SIGNING_KEY $key: give a certificate and its own key"
