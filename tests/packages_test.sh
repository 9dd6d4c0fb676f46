#!/usr/bin/env bash
# Checks what users install: the release TGZ and DEB for Linux and the ZIP
# for Windows, as the release and windows workflows left them, an install of
# the default build, and the manual page they carry. Run from the source tree
# after those three workflows.
set -euo pipefail
version=$(sed -n 's/^project(pidrecord VERSION \([0-9.]*\).*/\1/p' \
  CMakeLists.txt)
tgz=build/release/pidrecord-$version-linux-x86_64.tar.gz
deb=build/release/pidrecord_${version}_amd64.deb
zip=build/windows/pidrecord-$version-win64.zip
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

files() { # an archive listing: the regular files, sorted
  grep -v '/$' | sed 's|^\./||' | sort | tr '\n' ' '
}
expect_files() { # what, got, expected
  [ "$2" = "$3" ] || fail "$1 holds '$2', expected '$3'"
}

lint=$(mandoc -T lint -W warning src/pidrecord.1 2>&1) || true
[ -z "$lint" ] || fail "mandoc: $lint"

# Linux: the same three files in both packages, the DEB's under /usr.
linux="bin/pidrecord share/doc/pidrecord/README.md share/man/man1/pidrecord.1 "
expect_files "$tgz" "$(tar tzf "$tgz" | files)" "$linux"
expect_files "$deb" "$(dpkg-deb -c "$deb" | awk '{ print $NF }' | files)" \
  "$(printf 'usr/%s\n' $linux | tr '\n' ' ')"
cmake --install build/default --prefix "$work/prefix" >/dev/null
expect_files "cmake --install of build/default" \
  "$(cd "$work/prefix" && find . -type f | files)" "$linux"
for field in Package:pidrecord Section:utils Architecture:amd64 \
  "Version:$version" Depends:; do
  got=$(dpkg-deb -f "$deb" "${field%%:*}")
  [ "$got" = "${field#*:}" ] || fail "$deb: ${field%%:*} is '$got'"
done

# The extracted binary: a stripped static PIE of at most 64 KiB that works.
dpkg-deb -x "$deb" "$work/deb"
exe=$work/deb/usr/bin/pidrecord
size=$(stat -c %s "$exe")
[ "$size" -le 65536 ] || fail "$exe is $size bytes"
headers=$(readelf -lh "$exe")
grep -q 'DYN (Position-Independent Executable' <<<"$headers" ||
  fail "$exe is not a PIE"
! grep -q INTERP <<<"$headers" || fail "$exe needs a dynamic loader"
[ -z "$(readelf -S "$exe" | grep -E '\.symtab|\.debug')" ] ||
  fail "$exe is not stripped"
mkdir "$work/ckpt"
"$exe" checkpoint "$work/ckpt" || fail "checkpoint with $exe: status $?"
"$exe" restore "$work/ckpt" || fail "restore with $exe: status $?"
record=$(od -An -tx1 "$work/ckpt/pid" | tr -d ' \n')
[ "$record" = 2d310a ] || fail "the record holds $record"

# Windows: the program and README side by side, stripped, with its version
# and its manifest.
expect_files "$zip" "$(unzip -Z1 "$zip" | files)" "README.md pidrecord.exe "
unzip -q "$zip" -d "$work/zip"
exe=$work/zip/pidrecord.exe
size=$(stat -c %s "$exe")
[ "$size" -le 65536 ] || fail "$exe is $size bytes"
[ -z "$(x86_64-w64-mingw32-objdump -h "$exe" | grep -E '\.debug')" ] &&
  [ -z "$(x86_64-w64-mingw32-nm "$exe" 2>/dev/null)" ] ||
  fail "$exe is not stripped"
strings=$(strings -el "$exe" | tr '\n' '|')
for pair in "FileVersion|$version" "ProductVersion|$version" \
  "ProductName|pidrecord" "InternalName|pidrecord" \
  "OriginalFilename|pidrecord.exe" "FileDescription|"; do
  [[ $strings == *"|$pair"* ]] || fail "$exe lacks the version string $pair"
done
manifest=$(strings "$exe")
for setting in '<activeCodePage [^>]*>UTF-8<' '<longPathAware [^>]*>true<'; do
  grep -q "$setting" <<<"$manifest" || fail "$exe's manifest lacks $setting"
done

echo "packages: $failures failures"
[ "$failures" -eq 0 ]
