#!/usr/bin/env bash
# Checks what users install: the release TGZ and DEB for Linux on x86-64 and
# 64-bit ARM and the ZIP for Windows, as the release, release-aarch64 and
# windows workflows left them in build/dist; their checksums, notices, owners,
# modes and hardening, lintian's verdict on the DEBs, an install of the
# release build, and the manual page. Run from the source tree after those
# workflows and the default one.
set -euo pipefail
version=$(sed -n 's/^project(pidrecord VERSION \([0-9.]*\).*/\1/p' \
  CMakeLists.txt)
dist=build/dist
zip=$dist/pidrecord-$version-win64.zip
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

package_of() { # file: the Debian package that installed it
  dpkg -S "$(realpath -s "$1")" | sed 's/[:,].*//'
}

# Every package is listed in SHA256SUMS, and each matches it.
listed=$(awk '{ print $2 }' $dist/SHA256SUMS | tr '\n' ' ')
present=$(cd $dist && ls -- *.tar.gz *.deb *.zip | tr '\n' ' ')
[ "$listed" = "$present" ] || fail "SHA256SUMS lists '$listed', not '$present'"
(cd $dist && sha256sum -c --quiet SHA256SUMS) ||
  fail "SHA256SUMS does not verify"

lint=$(mandoc -T lint -W warning src/pidrecord.1 2>&1) || true
[ -z "$lint" ] || fail "mandoc: $lint"

# Linux: the program, its manual and README, and in the packages the
# changelog and the notices; the DEB's under /usr, compressed as Debian does.
linux="bin/pidrecord share/doc/pidrecord/README.md share/man/man1/pidrecord.1 "
doc=share/doc/pidrecord
cmake --install build/release --prefix "$work/prefix" >/dev/null
expect_files "cmake --install of build/release" \
  "$(cd "$work/prefix" && find . -type f | files)" "$linux"
cmp -s "$work/prefix/bin/pidrecord" build/release/pidrecord ||
  fail "cmake --install of build/release installed another program"

# Members owned 0/0 with modes 0755 and 0644, whoever packed them.
owners() { # listing lines "mode owner": the ones that are not as they must be
  grep -vE '^(drwxr-xr-x|-rwxr-xr-x|-rw-r--r--) 0/0$' || true
}

# What a release build for one architecture shipped, and how it was built.
linux_release() { # arch, Debian arch, build dir, compiler, objdump, runner,
  # size limit in bytes
  local arch=$1 debarch=$2 build=$3 cxx=$4 objdump=$5 run=$6 limit=$7
  local tgz=$dist/pidrecord-$version-linux-$arch.tar.gz
  local deb=$dist/pidrecord_${version}_$debarch.deb
  local exe=$work/$arch/usr/bin/pidrecord size headers record pkg
  expect_files "$tgz" "$(tar tzf "$tgz" | files)" "bin/pidrecord \
$doc/README.md $doc/changelog $doc/copyright share/man/man1/pidrecord.1 "
  expect_files "$deb" "$(dpkg-deb -c "$deb" | awk '{ print $NF }' | files)" \
    "usr/bin/pidrecord usr/$doc/README.md usr/$doc/changelog.gz \
usr/$doc/copyright usr/share/lintian/overrides/pidrecord \
usr/share/man/man1/pidrecord.1.gz "
  for field in Package:pidrecord Section:utils "Architecture:$debarch" \
    "Version:$version" Depends:; do
    got=$(dpkg-deb -f "$deb" "${field%%:*}")
    [ "$got" = "${field#*:}" ] || fail "$deb: ${field%%:*} is '$got'"
  done
  bad=$(tar tvzf "$tgz" --numeric-owner | awk '{ print $1, $2 }' | owners)
  [ -z "$bad" ] || fail "$tgz has members with $bad"
  bad=$(dpkg-deb --fsys-tarfile "$deb" | tar tvf - --numeric-owner |
    awk '{ print $1, $2 }' | owners)
  [ -z "$bad" ] || fail "$deb has members with $bad"
  # The placeholder Maintainer address is the packager's to replace.
  lintian --fail-on error,warning \
    --suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog \
    "$deb" 2>/dev/null || fail "lintian $deb"
  dpkg-deb -x "$deb" "$work/$arch"
  cmp -s "$exe" "$build/pidrecord" || fail "$deb holds another $build/pidrecord"
  # The notices of what is linked in: musl and the GCC runtime.
  for pkg in musl-dev "$(package_of "$($cxx -print-libgcc-file-name)")"; do
    grep -q "^License: $pkg-notices" "$work/$arch/usr/$doc/copyright" ||
      fail "$deb lacks the notices of $pkg"
  done

  # A stripped static PIE within its size limit that works.
  size=$(stat -c %s "$exe")
  [ "$size" -le "$limit" ] || fail "$exe is $size bytes"
  headers=$(readelf -lhdW "$exe")
  grep -q 'DYN (Position-Independent Executable' <<<"$headers" ||
    fail "$exe is not a PIE"
  ! grep -q INTERP <<<"$headers" || fail "$exe needs a dynamic loader"
  [ -z "$(readelf -S "$exe" | grep -E '\.symtab|\.debug|\.comment')" ] ||
    fail "$exe is not stripped"
  mkdir "$work/ckpt-$arch"
  $run "$exe" checkpoint "$work/ckpt-$arch" || fail "checkpoint with $exe: $?"
  $run "$exe" restore "$work/ckpt-$arch" || fail "restore with $exe: $?"
  record=$(od -An -tx1 "$work/ckpt-$arch/pid" | tr -d ' \n')
  [ "$record" = 2d310a ] || fail "the record holds $record"

  # Hardening: what the binary shows, then what the compiler put into our own
  # code, read in its objects: a stripped static binary names no function,
  # and GCC's start files carry control-flow markers of their own.
  grep -q GNU_RELRO <<<"$headers" || fail "$exe has no RELRO segment"
  grep -q 'FLAGS.*BIND_NOW' <<<"$headers" || fail "$exe is not BIND_NOW"
  grep -E 'GNU_STACK.* RW ' <<<"$headers" >/dev/null ||
    fail "$exe has an executable stack"
  local marker=endbr64
  [ "$arch" != aarch64 ] || marker=paciasp
  # (grep -q would stop reading early, and pipefail take that as failure.)
  local core=$build/libpidrecord_core.a
  [ "$($objdump -d "$core" | grep -c "$marker")" -gt 0 ] ||
    fail "$core has no $marker"
  [ "$(nm "$core" | grep -c 'U __stack_chk_fail')" -gt 0 ] ||
    fail "$core has no stack protector"
}
linux_release x86_64 amd64 build/release g++ objdump "" 65536
# 64-bit ARM: the linker's default page size, 64 KiB, makes it larger.
linux_release aarch64 arm64 build/release-aarch64 aarch64-linux-gnu-g++ \
  aarch64-linux-gnu-objdump qemu-aarch64 98304

# The glibc build honours _FORTIFY_SOURCE: its checked functions are linked.
[ "$(nm build/default/pidrecord | grep -c __snprintf_chk)" -gt 0 ] ||
  fail "build/default/pidrecord is not fortified"

# Windows: the program, its manual, README and notices side by side; the
# program stripped, with its version, its manifest and its hardening.
expect_files "$zip" "$(unzip -Z1 "$zip" | files)" \
  "COPYRIGHT.txt README.md pidrecord.exe pidrecord.html "
bad=$(zipinfo "$zip" | awk '/^-/ { print $1 }' |
  grep -vxE -- '-rw-r--r--|-rwxr-xr-x' || true)
[ -z "$bad" ] || fail "$zip has members with modes $bad"
unzip -q "$zip" -d "$work/zip"
exe=$work/zip/pidrecord.exe
cmp -s "$exe" build/windows/pidrecord.exe || fail "$zip holds another exe"
mandoc -T html "-Ios=pidrecord $version" src/pidrecord.1 |
  cmp -s - "$work/zip/pidrecord.html" || fail "$zip holds another manual"
mingw=x86_64-w64-mingw32-g++-posix
for lib in "$($mingw -print-file-name=libmingwex.a)" \
  "$($mingw -print-libgcc-file-name)"; do
  pkg=$(package_of "$lib")
  grep -q "^License: $pkg-notices" "$work/zip/COPYRIGHT.txt" ||
    fail "$zip lacks the notices of $pkg"
done
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
  grep -qw $flag <<<"$headers" || fail "$exe lacks $flag"
done
# The stack protector in our own code, with a guard seeded by rand_s.
core=$(x86_64-w64-mingw32-nm build/windows/libpidrecord_core.a)
[ "$(grep -c 'U __stack_chk_fail' <<<"$core")" -gt 0 ] ||
  fail "build/windows/libpidrecord_core.a has no stack protector"
[ "$(grep -c 'U __imp_rand_s' <<<"$core")" -gt 0 ] ||
  fail "build/windows/libpidrecord_core.a does not seed the guard"
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
