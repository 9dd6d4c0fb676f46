#!/usr/bin/env bash
# Signing, proven with throwaway keys: packs the windows build again with a
# minisign key and a self-signed code-signing certificate, then checks that
# minisign accepts SHA256SUMS, which vouches for this version alone,
# osslsigncode accepts the exe in the ZIP, a second signing in another time
# zone gives the same bytes, that exe works under Wine, and without its
# signature it is the unsigned exe byte for byte. Run from the source tree,
# under Wine's test fixture (WINEPREFIX set).
# Usage: tests/signing_test.sh UNSIGNED.EXE (the windows build's)
set -euo pipefail
# shellcheck source=cmake/artifacts.sh
. cmake/artifacts.sh
unsigned=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
keys=$work/keys dist=$work/dist build=$work/windows
version=$(project_version)
mkdir "$keys"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

minisign -G -W -p "$keys/minisign.pub" -s "$keys/minisign.key" >/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=throwaway" \
  -addext extendedKeyUsage=codeSigning -keyout "$keys/code.key" \
  -out "$keys/code.pem" 2>/dev/null
# A package of another version left in the folder is none of this release's.
mkdir "$dist"
echo stale >"$dist/$(artifact zip 0.0.1)"
cmake --preset windows -B "$build" --no-warn-unused-cli -DBUILD_TESTING=OFF \
  -DPIDRECORD_DIST_DIR="$dist" \
  -DPIDRECORD_MINISIGN_KEY="$keys/minisign.key" \
  -DPIDRECORD_SIGNING_CERT="$keys/code.pem" \
  -DPIDRECORD_SIGNING_KEY="$keys/code.key" >/dev/null
cmake --build "$build" >/dev/null
(cd "$build" && cpack >/dev/null)

minisign -V -q -p "$keys/minisign.pub" -m "$dist/SHA256SUMS" ||
  fail "minisign does not accept SHA256SUMS"
[ "$(stat -c %a "$dist/SHA256SUMS.minisig")" = 644 ] ||
  fail "SHA256SUMS.minisig has mode $(stat -c %a "$dist/SHA256SUMS.minisig")"
(cd "$dist" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS"
! grep -F 0.0.1 "$dist/SHA256SUMS" || fail "SHA256SUMS vouches for 0.0.1"
# The same RSA key, without a timestamp server, signs to the same bytes,
# in whatever time zone it is packed.
zip=$dist/$(artifact zip "$version")
cp "$zip" "$work/first.zip"
(cd "$build" && TZ=JST-9 cpack >/dev/null)
cmp -s "$zip" "$work/first.zip" ||
  fail "signed again with the same key in another time zone, the ZIP differs"
unzip -q "$zip" pidrecord.exe -d "$work"
exe=$work/pidrecord.exe
osslsigncode verify -CAfile "$keys/code.pem" -in "$exe" >"$work/verify" 2>&1 ||
  fail "osslsigncode verify: $(tail -n 3 "$work/verify")"
{ osslsigncode remove-signature -in "$exe" -out "$work/unsigned.exe" \
  >/dev/null 2>&1 && cmp -s "$work/unsigned.exe" "$unsigned"; } ||
  fail "without its signature, the exe is not $unsigned"

# The signed program works.
wine=$(command -v /usr/lib/wine/wine64 wine64 | head -n1)
mkdir "$work/d"
{ "$wine" "$exe" checkpoint "$work/d" && "$wine" "$exe" restore "$work/d"; } ||
  fail "the signed exe: status $?"
[ "$(od -An -tx1 "$work/d/pid" | tr -d ' \n')" = 2d310d0a ] ||
  fail "the signed exe wrote another record"

echo "signing: $failures failures"
[ "$failures" -eq 0 ]
