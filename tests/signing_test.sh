#!/usr/bin/env bash
# Signing, proven with throwaway keys: packs the release and windows builds
# again with a minisign key and a self-signed code-signing certificate, then
# checks that minisign accepts SHA256SUMS, which vouches for this version
# alone, osslsigncode accepts the exe in the ZIP, a second signing in another
# time zone gives the same bytes, that exe works under Wine, and without its
# signature it is the unsigned exe byte for byte. Run from the source tree
# after the windows workflow.
set -euo pipefail
# shellcheck source=cmake/artifacts.sh
. cmake/artifacts.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
keys=$work/keys dist=$work/dist
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
echo stale >"$dist/$(artifact deb 0.9.0 amd64)"
for preset in release windows; do
  cmake --preset $preset -B "$work/$preset" --no-warn-unused-cli -DBUILD_TESTING=OFF \
    -DPIDRECORD_DIST_DIR="$dist" \
    -DPIDRECORD_MINISIGN_KEY="$keys/minisign.key" \
    -DPIDRECORD_SIGNING_CERT="$keys/code.pem" \
    -DPIDRECORD_SIGNING_KEY="$keys/code.key" >/dev/null
  cmake --build "$work/$preset" >/dev/null
  (cd "$work/$preset" && cpack >/dev/null)
done

minisign -V -q -p "$keys/minisign.pub" -m "$dist/SHA256SUMS" ||
  fail "minisign does not accept SHA256SUMS"
(cd "$dist" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS"
! grep -F 0.9.0 "$dist/SHA256SUMS" || fail "SHA256SUMS vouches for 0.9.0"
# The same RSA key, without a timestamp server, signs to the same bytes,
# in whatever time zone it is packed.
cp "$dist/$(artifact zip "$version")" "$work/first.zip"
(cd "$work/windows" && TZ=JST-9 cpack >/dev/null)
cmp -s "$dist/$(artifact zip "$version")" "$work/first.zip" ||
  fail "signed again with the same key in another time zone, the ZIP differs"
unzip -q "$dist/$(artifact zip "$version")" pidrecord.exe -d "$work"
exe=$work/pidrecord.exe
osslsigncode verify -CAfile "$keys/code.pem" -in "$exe" >"$work/verify" 2>&1 ||
  fail "osslsigncode verify: $(tail -n 3 "$work/verify")"
{ osslsigncode remove-signature -in "$exe" -out "$work/unsigned.exe" \
  >/dev/null 2>&1 && cmp -s "$work/unsigned.exe" build/windows/pidrecord.exe; } ||
  fail "without its signature, the exe is not the unsigned one"

# The signed program works.
wine=$(command -v /usr/lib/wine/wine64 wine64 | head -n1)
export WINEPREFIX=$work/wine WINEDEBUG=-all
"$wine" wineboot >/dev/null 2>&1
mkdir "$work/d"
{ "$wine" "$exe" checkpoint "$work/d" && "$wine" "$exe" restore "$work/d"; } ||
  fail "the signed exe: status $?"
[ "$(od -An -tx1 "$work/d/pid" | tr -d ' \n')" = 2d310d0a ] ||
  fail "the signed exe wrote another record"

echo "signing: $failures failures"
[ "$failures" -eq 0 ]
