#!/usr/bin/env bash
# What configuring the packing takes from the tree and the owner's keys, in a
# scratch copy of this tree: CHANGELOG's version and date, or a stop that
# names it, also when it changes after configure; signing keys whole and
# without a password, or a stop; the RPM's changelog as it was written, every
# entry. Run from the source tree. Every date and version it needs it takes
# from the CHANGELOG it is given.
set -euo pipefail
# shellcheck source=cmake/artifacts.sh
. cmake/artifacts.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
src=$work/src keys=$work/keys
mkdir "$src" "$keys"
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$src"
cp "$src/CHANGELOG" "$work/CHANGELOG"

minisign -G -W -p "$keys/open.pub" -s "$keys/open.key" >/dev/null
printf 'pw\npw\n' |
  minisign -G -p "$keys/locked.pub" -s "$keys/locked.key" >/dev/null 2>&1
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=throwaway" \
  -keyout "$keys/code.key" -out "$keys/code.pem" 2>/dev/null
openssl pkey -in "$keys/code.key" -aes256 -passout pass:pw \
  -out "$keys/locked.pem"
openssl genpkey -algorithm ed25519 -out "$keys/other.key"
# A PATH without dpkg-parsechangelog; CMake also looks in /usr/bin itself,
# unless told not to.
mkdir "$work/bin"
for f in /usr/bin/*; do
  [ "${f##*/}" = dpkg-parsechangelog ] || ln -s "$f" "$work/bin"
done

configure() { # extra cmake arguments: configures a fresh release build
  rm -rf "$src/build"
  (cd "$src" && cmake --preset release -DBUILD_TESTING=OFF "$@") \
    >"$work/out" 2>&1
}

# A date a day before the oldest entry's, as a trailer gives it and as one
# that dpkg cannot read.
version=$(project_version)
oldest=$(date -d "$(sed -n 's/^ -- .*>  //p' CHANGELOG | tail -n1)" +%s)
older=$((oldest - 86400))
date=$(date -u -R -d "@$older")
bad_date=$(date -u -d "@$older" '+%A, %-d %b %Y %T %z')
entry="\\n\\npidrecord (0.0.1) unstable; urgency=medium\\n\\n  * Older.\\n\\n --"

# Each case: what is wrong, the CHANGELOG's sed edit or -, the PATH, the
# cmake arguments (@ for the keys' folder, ~ for a blank); the stop must
# name what to mend.
while IFS='|' read -r what edit path args named; do
  cp "$work/CHANGELOG" "$src/CHANGELOG"
  [ "$edit" = - ] || sed -i "$edit" "$src/CHANGELOG"
  read -ra args <<<"${args//@/$keys/}"
  args=("${args[@]//\~/ }")
  if PATH=$path configure "${args[@]}"; then
    fail "configure accepted $what"
  elif ! tr -s ' \n' '  ' <"$work/out" | grep -q -- "$named"; then
    fail "configure refused $what without naming $named: $(tail -5 "$work/out")"
  fi
done <<END
no trailer|/^ -- /d|$PATH||CHANGELOG
a bad date|0,/^\( -- .*  [A-Za-z]*, \)[0-9]*/s//\139/|$PATH||CHANGELOG
no dpkg-parsechangelog|-|$work/bin|-DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF|dpkg-dev
a certificate alone|-|$PATH|-DPIDRECORD_SIGNING_CERT=@code.pem|PIDRECORD_SIGNING_KEY
a key alone|-|$PATH|-DPIDRECORD_SIGNING_KEY=@code.key|PIDRECORD_SIGNING_CERT
a missing minisign key|-|$PATH|-DPIDRECORD_MINISIGN_KEY=@none.key|none.key
a missing signing key|-|$PATH|-DPIDRECORD_SIGNING_CERT=@code.pem -DPIDRECORD_SIGNING_KEY=@none.key|none.key
a minisign key with a password|-|$PATH|-DPIDRECORD_MINISIGN_KEY=@locked.key|locked.key
a signing key with a password|-|$PATH|-DPIDRECORD_SIGNING_CERT=@code.pem -DPIDRECORD_SIGNING_KEY=@locked.pem|locked.pem
a certificate of another key|-|$PATH|-DPIDRECORD_SIGNING_CERT=@code.pem -DPIDRECORD_SIGNING_KEY=@other.key|code.pem.*other.key
a Maintainer with a ;|-|$PATH|-DPIDRECORD_MAINTAINER=Jo;Requires:~evil;#~<jo@example.org>|PIDRECORD_MAINTAINER
a Maintainer without an address|-|$PATH|-DPIDRECORD_MAINTAINER=nobody|PIDRECORD_MAINTAINER
a signer with a backslash|0,/^ -- [^<]*/s// -- Jo\\\\n Doe /|$PATH||entry $version is signed
a signer with a control character|0,/^ -- [^<]*/s// -- Jo\tDoe /|$PATH||entry $version is signed
a signer with a > in the name|0,/^ -- [^<]*/s// -- Jo > Doe /|$PATH||entry $version is signed
an older entry with a bad date|\$s/\$/$entry Jo <jo@example.org>  $bad_date/|$PATH||CHANGELOG
an older entry signed with a ;|\$s/\$/$entry Jo;x <jo@example.org>  $date/|$PATH||entry 0.0.1 is signed
END

# A CHANGELOG that changes after configure is read again by the build.
cp "$work/CHANGELOG" "$src/CHANGELOG"
configure -DPIDRECORD_MINISIGN_KEY="$keys/open.key" ||
  fail "configure with good keys: $(tail -5 "$work/out")"
sed -i '/^ -- /d' "$src/CHANGELOG"
! cmake --build "$src/build/release-x86_64" >/dev/null 2>&1 ||
  fail "the build went on with a CHANGELOG that has no trailer"

# The RPM's changelog: every entry, one older than all added, and text that
# rpmbuild would expand shipped as written.
cp "$work/CHANGELOG" "$src/CHANGELOG"
sed -i '0,/^  \* /s//  * Uses 100%{?_libdir} of %(echo hi).\n&/' "$src/CHANGELOG"
entries=$(($(grep -c '^pidrecord ' "$src/CHANGELOG") + 1))
printf '\n%s\n\n%s\n\n%s\n' 'pidrecord (0.0.1) unstable; urgency=medium' \
  '  * An older entry.' " -- someone <someone@example.org>  $date" \
  >>"$src/CHANGELOG"
if configure && cmake --build "$src/build/release-x86_64" >/dev/null &&
  (cd "$src" && cpack --preset release >/dev/null); then
  log=$(rpm -qp --changelog \
    "$src/build/dist/$(artifact rpm "$version" x86_64)" 2>/dev/null)
  grep -qxF -- '- Uses 100%{?_libdir} of %(echo hi).' <<<"$log" ||
    fail "the RPM's changelog reads: $log"
  [ "$(grep -c '^\* ' <<<"$log")" -eq "$entries" ] ||
    fail "the RPM's changelog has not all $entries entries: $log"
  grep -q "^\* $(date -u -d "@$older" '+%a %b %d %Y') .* - 0\.0\.1-1$" \
    <<<"$log" || fail "the RPM's changelog lacks the older entry: $log"
else
  fail "packing the changed CHANGELOG: $(tail -5 "$work/out")"
fi

echo "packaging: $failures failures"
[ "$failures" -eq 0 ]
