#!/usr/bin/env bash
# What a release's .buildinfo files say must hold: each is in Debian's
# format (deb-buildinfo(5), Format 1.0) with every field that it requires,
# every file that SHA256SUMS lists but them is covered by exactly one of
# them, with its SHA-256 and size there, and none covers a file that is not
# there, nor names a path; each is listed in SHA256SUMS. With "installed",
# in the chroot that has just written it, the one .buildinfo in DIR lists
# exactly the packages installed on this machine, at their versions.
# Usage: tests/buildinfo_test.sh DIR [installed]
set -euo pipefail
dir=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
shopt -s nullglob
infos=("$dir"/*.buildinfo)
[ ${#infos[@]} -gt 0 ] || { echo "FAIL: no .buildinfo in $dir"; exit 1; }
# A multiline field's lines.
field() { # file, field
  sed -n "/^$2:/,/^[^ ]/{/^ /s/^ //p}" "$1"
}
for info in "${infos[@]}"; do
  for f in Format Source Binary Architecture Version Checksums-Md5 \
    Checksums-Sha1 Checksums-Sha256 Build-Origin Build-Architecture \
    Build-Path Build-Suites Installed-Build-Depends Environment; do
    grep -q "^$f:" "$info" || fail "${info##*/} has no $f field"
  done
  grep -qx 'Format: 1.0' "$info" || fail "${info##*/} is not Format 1.0"
  [ -n "$(field "$info" Installed-Build-Depends)" ] ||
    fail "${info##*/} lists no installed package"
  [ "${2-}" = installed ] || grep -qxE "[0-9a-f]{64}  ${info##*/}" "$dir/SHA256SUMS" ||
    fail "${info##*/} is not listed in SHA256SUMS"
  while read -r sha size name; do
    [[ $name != */* ]] || { fail "${info##*/} covers $name, a path"; continue; }
    [ -e "$dir/$name" ] || { fail "${info##*/} covers $name, which is not there"; continue; }
    [ "$sha $size" = "$(sha256sum <"$dir/$name" | cut -d' ' -f1) $(stat -c %s "$dir/$name")" ] ||
      fail "${info##*/} gives $name another SHA-256 or size"
  done <<<"$(field "$info" Checksums-Sha256)"
done
covered=$(for info in "${infos[@]}"; do field "$info" Checksums-Sha256; done |
  awk '{ print $3 }')
while read -r _ name; do
  [[ $name != *.buildinfo ]] || continue
  n=$(grep -cxF -- "$name" <<<"$covered" || true)
  [ "$n" -eq 1 ] || fail "$name is covered by $n .buildinfo files"
done <"$dir/SHA256SUMS"
if [ "${2-}" = installed ]; then
  native=$(dpkg --print-architecture)
  got=$(field "${infos[0]}" Installed-Build-Depends | sed 's/,$//')
  want=$(dpkg-query -W -f '${Package}:${Architecture} (= ${Version})\n' |
    sed "s/:\(all\|$native\) / /")
  if [ ${#infos[@]} -ne 1 ] || [ "$got" != "$want" ]; then
    fail "${infos[0]##*/} lists other packages than are installed:" \
      "$(echo "$want" >"$work/want" && echo "$got" >"$work/got" &&
        comm -3 "$work/want" "$work/got" | head -n 5 | tr '\n\t' '  ')"
  fi
fi
echo "buildinfo: $failures failures"
[ "$failures" -eq 0 ]
