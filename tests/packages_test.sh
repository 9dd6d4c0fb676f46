#!/usr/bin/env bash
# Checks what users install, for each PRESET named: a release preset's TGZ,
# DEB and RPM for Linux on its row of cmake/architectures, and windows's ZIP
# and, from Debian 13 on, MSI (tests/msi_test.sh), with their SBOMs, as
# those workflows left them in build/dist; their checksums, notices, owners,
# modes and hardening, lintian's and rpmlint's verdicts, the .buildinfo
# where a release's chroot wrote one; for release an
# install of the build, and for default its fortified functions. The manual
# page is checked every time.
# Usage: tests/packages_test.sh PRESET... (from the source tree, after those
# workflows)
set -euo pipefail
# shellcheck source=cmake/architectures.sh
. cmake/architectures.sh
# shellcheck source=cmake/artifacts.sh
. cmake/artifacts.sh
version=$(project_version)
dist=build/dist
zip=$dist/$(artifact zip "$version")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[ $# -gt 0 ] || { echo "usage: $0 PRESET..." >&2; exit 2; }
named() { [[ " $presets " == *" $1 "* ]]; }
presets=$*

files() { # an archive listing: the regular files, sorted
  grep -v '/$' | sed 's|^\./||' | sort | tr '\n' ' '
}
expect_files() { # what, got, expected
  [ "$2" = "$3" ] || fail "$1 holds '$2', expected '$3'"
}

package_of() { # file: the Debian package that installed it
  dpkg -S "$(realpath -s "$1")" | sed 's/[:,].*//'
}

# The MSI beside the ZIP, where wixl can make it: from Debian 13 on.
msi=
[[ $(debian_release) -lt 13 ]] || msi=$dist/$(artifact msi "$version")

# SHA256SUMS lists exactly the named presets' packages of this version and
# their SBOMs, and each matches it.
expected=
! named windows || expected="${zip##*/} ${msi##*/}"
while read -r cpu debarch rpmarch preset; do
  named "$preset" || continue
  expected+=" $(artifact tgz "$version" "$cpu") $(artifact deb "$version" "$debarch")"
  [ "$rpmarch" = - ] || expected+=" $(artifact rpm "$version" "$rpmarch")"
done <<<"$(architectures cpu debarch rpmarch preset)"
if [ -n "$expected" ]; then
  expected=$(for f in $expected; do echo "$f"; echo "$f.spdx.json"; done |
    LC_ALL=C sort | tr '\n' ' ')
  sums=$(awk '{ print $2 }' $dist/SHA256SUMS | tr '\n' ' ')
  [ "$sums" = "$expected" ] ||
    fail "SHA256SUMS lists '$sums', not '$expected'"
  (cd $dist && sha256sum -c --quiet SHA256SUMS) ||
    fail "SHA256SUMS does not verify"
fi
# Where a release's chroot recorded itself, its .buildinfo covers what it
# built and lists what it has installed.
! compgen -G "$dist/*.buildinfo" >/dev/null ||
  tests/buildinfo_test.sh $dist installed || fail "tests/buildinfo_test.sh"

# What an SBOM says must hold: it describes these bytes alone; the program
# links each component in; identifiers are valid and resolve; each
# component's license is NOASSERTION or as many terms as Debian's copyright
# file names licenses, with every LicenseRef defined.
sbom_check() { # SBOM, the file it describes, component...
  local doc=$1 file=$2 sha name qualified pkg got want lic
  shift 2
  sha=$(sha256sum <"$file" | cut -c1-64)
  jq -e --arg file "${file##*/}" --arg sha "$sha" '
    (.packages[] | select(.packageFileName == $file)) as $self
    | [.packages[] | select(.SPDXID != $self.SPDXID) | .SPDXID] as $parts
    | [.hasExtractedLicensingInfos[].licenseId] as $defined
    | .spdxVersion == "SPDX-2.3" and .name == $file
    and (.documentNamespace | test("^https://.*" + $sha + "$"))
    and ([.packages[].SPDXID] | all(test("^SPDXRef-[A-Za-z0-9.-]+$"))
      and length == (unique | length))
    and ([.relationships[] | select(.relationshipType == "STATIC_LINK")]
      | all(.spdxElementId == $self.SPDXID)
      and (map(.relatedSpdxElement) | sort) == ($parts | sort))
    and ([.packages[] | .licenseDeclared, .licenseConcluded
      | scan("LicenseRef-[A-Za-z0-9.-]+")]
      | all(. as $r | $defined | index($r)))
    ' "$doc" >/dev/null || fail "$doc does not describe $file truly"
  for name; do # "package[:arch]=licenses it must hold"
    qualified=${name%=*} pkg=${name%%[:=]*}
    got=$(jq -r --arg n "$pkg" '.packages[] | select(.name == $n)
      | "\(.versionInfo) \(.licenseDeclared)"' "$doc")
    want=$(dpkg-query -W -f='${Version}' "$qualified")
    [ "${got%% *}" = "$want" ] || fail "$doc: $pkg is '${got%% *}'"
    lic=${got#* }
    if ! head -n1 "/usr/share/doc/$pkg/copyright" | grep -q '^Format: '; then
      # Prose, as GCC's: the license named, and where it was read.
      if [ -n "${name#*=}" ]; then
        [ "$lic" = "${name#*=}" ] || fail "$doc: $pkg is '$lic'"
        jq -e --arg n "$pkg" '.packages[] | select(.name == $n)
          | .licenseComments // "" | contains("/copyright")' "$doc" \
          >/dev/null || fail "$doc: $pkg does not say where its license is read"
      fi
      continue
    fi
    [ "$lic" != NOASSERTION ] || continue
    got=$(grep -oE '[^ ()]+' <<<"$lic" | grep -vxE 'AND|OR' | sort -u | wc -l)
    want=$(awk '/^Files:/ { f = 1 } /^$/ { f = 0 }
      f && sub(/^License: */, "") { gsub(/ and | or /, "\n"); print }' \
      "/usr/share/doc/$pkg/copyright" | tr '[:upper:]' '[:lower:]' | sort -u |
      wc -l)
    [ "$got" -eq "$want" ] ||
      fail "$doc: $pkg is '$lic', $want licenses in its copyright file"
    for want in ${name#*=}; do
      [[ " $lic " == *" $want "* ]] || fail "$doc: $pkg lacks $want"
    done
  done
}
# Every component of a package has its license: all of them are known.
all_licensed() { # SBOM
  jq -e '[.packages[].licenseDeclared] | all(. != "NOASSERTION")' "$1" \
    >/dev/null || fail "$1 declares a license NOASSERTION"
}
gcc="GPL-3.0-or-later WITH GCC-exception-3.1"
# A name that no identifier may hold, in a document made as a package's is:
# any installed package with a "+" in its name.
read -r plus plusversion plusarch <<<"$(dpkg-query -W \
  -f='${Package} ${Version} ${Architecture}\n' | grep -F + | head -n1)"
echo test >"$work/plus.tar.gz"
cmake/sbom.sh "$work/plus.tar.gz" "$version" 0 "$plus" "$plusversion" \
  "$plusarch" >"$work/plus.spdx.json"
sbom_check "$work/plus.spdx.json" "$work/plus.tar.gz" "$plus:$plusarch="
lint=$(mandoc -T lint -W warning src/pidrecord.1 2>&1) || true
[ -z "$lint" ] || fail "mandoc: $lint"

# Linux: the program, its manual and README, the changelog and the notices,
# as a release build installs them; the DEB's under /usr, compressed as
# Debian does.
doc=share/doc/pidrecord
linux="bin/pidrecord $doc/README.md $doc/changelog $doc/copyright \
share/man/man1/pidrecord.1 "
if named release; then
  cmake --install build/release-x86_64 --prefix "$work/prefix" >/dev/null
  expect_files "cmake --install of build/release-x86_64" \
    "$(cd "$work/prefix" && find . -type f | files)" "$linux"
  cmp -s "$work/prefix/bin/pidrecord" build/release-x86_64/pidrecord ||
    fail "cmake --install of build/release-x86_64 installed another program"
fi

# Members owned 0/0 with modes 0755 and 0644, whoever packed them.
owners() { # listing lines "mode owner": the ones that are not as they must be
  grep -vE '^(drwxr-xr-x|-rwxr-xr-x|-rw-r--r--) 0/0$' || true
}

# What a release build for one architecture shipped, and how it was built.
linux_release() { # cpu debarch rpmarch triplet qemu marker max
  local arch=$1 debarch=$2 rpmarch=$3 triplet=$4 run=$5 marker=$6 limit=$7
  local build=build/release-$1
  [ "$run" != - ] || run=
  local cxx=$triplet-g++ objdump=$triplet-objdump nm=$triplet-nm
  local tgz deb
  tgz=$dist/$(artifact tgz "$version" "$arch")
  deb=$dist/$(artifact deb "$version" "$debarch")
  local exe=$work/$arch/usr/bin/pidrecord size headers record pkg
  expect_files "$tgz" "$(tar tzf "$tgz" | files)" "$linux"
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
  [ "$(readelf -S "$exe" | grep -cE '\.symtab|\.debug|\.comment')" -eq 0 ] ||
    fail "$exe is not stripped"
  local packed=("$tgz" "$deb")
  # The RPM, where RPM distributions build one: the same program and
  # documents, the notices as its license file, no dependencies, nothing
  # from rpmlint but what its rc explains.
  local rpm
  rpm=$dist/$(artifact rpm "$version" "$rpmarch")
  if [ "$rpmarch" != - ]; then
    expect_files "$rpm" "$(rpm -qlp "$rpm" 2>/dev/null | grep -v /$ | files)" \
      "/usr/bin/pidrecord /usr/$doc /usr/$doc/README.md /usr/$doc/changelog \
/usr/share/licenses/pidrecord /usr/share/licenses/pidrecord/copyright \
/usr/share/man/man1/pidrecord.1.bz2 "
    [ "$(rpm -qp --requires "$rpm" 2>/dev/null | grep -vc '^rpmlib(')" -eq 0 ] ||
      fail "$rpm has dependencies"
    # rpmlint exits 0 on warnings, so every E or W line fails; it reports a
    # filter in the rc that matches nothing as one. rpmlint 2.4 (Debian 12)
    # looks for a manual page named for the section, not for the program;
    # pidrecord.1 is there.
    cp cmake/pidrecord.rpmlintrc "$work/rpmlintrc"
    [[ $(rpmlint --version) != 2.4.* ]] ||
      echo 'addFilter("no-manual-page-for-binary pidrecord")' >>"$work/rpmlintrc"
    rpmlint -r "$work/rpmlintrc" "$rpm" >"$work/rpmlint" 2>&1 || true
    ! grep -E ': [EW]: ' "$work/rpmlint" || fail "rpmlint $rpm"
    packed+=("$rpm")
  fi
  for f in "${packed[@]}"; do
    sbom_check "$f.spdx.json" "$f" \
      "musl-dev:$debarch=MIT BSD-2-Clause BSD-3-Clause ISC" \
      "$(package_of "$($cxx -print-libgcc-file-name)")=$gcc"
    all_licensed "$f.spdx.json"
  done

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
  # (grep -q would stop reading early, and pipefail take that as failure.)
  local core=$build/libpidrecord_core.a
  [ "$marker" = - ] || [ "$($objdump -d "$core" | grep -c "$marker")" -gt 0 ] ||
    fail "$core has no $marker"
  [ "$($nm "$core" | grep -c 'U __stack_chk_fail')" -gt 0 ] ||
    fail "$core has no stack protector"
}
while read -r preset row; do
  read -ra row <<<"$row"
  ! named "$preset" || linux_release "${row[@]}"
done <<<"$(architectures preset cpu debarch rpmarch triplet qemu marker max)"

# The x86-64 RPM installs into a scratch root, and works from there.
if named release; then
  root=$work/rpmroot
  rpm --root "$root" --initdb
  rpm=$(artifact rpm "$version" x86_64)
  rpm --root "$root" --nodeps -i "$dist/$rpm" 2>/dev/null ||
    fail "rpm -i $rpm"
  mkdir "$root/ckpt"
  { "$root/usr/bin/pidrecord" checkpoint "$root/ckpt" &&
    "$root/usr/bin/pidrecord" restore "$root/ckpt"; } ||
    fail "the RPM's program: status $?"
  [ "$(od -An -tx1 "$root/ckpt/pid" | tr -d ' \n')" = 2d310a ] ||
    fail "the RPM's program wrote another record"
fi

# The glibc build honours _FORTIFY_SOURCE: its checked functions are linked.
! named default || [ "$(nm build/default/pidrecord | grep -c __snprintf_chk)" -gt 0 ] ||
  fail "build/default/pidrecord is not fortified"

# Windows: the program, its manual, README and notices side by side; the
# program stripped, with its version, its manifest and its hardening.
if named windows; then
  expect_files "$zip" "$(unzip -Z1 "$zip" | files)" \
    "COPYRIGHT.txt README.txt pidrecord.exe pidrecord.html "
  bad=$(zipinfo "$zip" | awk '/^-/ { print $1 }' |
    grep -vxE -- '-rw-r--r--|-rwxr-xr-x' || true)
  [ -z "$bad" ] || fail "$zip has members with modes $bad"
  mingw=x86_64-w64-mingw32-g++-posix
  for f in "$zip" ${msi:+"$msi"}; do
    sbom_check "$f.spdx.json" "$f" "mingw-w64-x86-64-dev=ZPL-2.1 MIT" \
      "$(package_of "$($mingw -print-libgcc-file-name)")=$gcc"
    all_licensed "$f.spdx.json"
  done
  unzip -q "$zip" -d "$work/zip"
  exe=$work/zip/pidrecord.exe
  # A signed exe is the build's with a signature, as the build was given a
  # certificate (and then the MSI is signed with it) or a published
  # signature to attach (release.sh --verify, where one that does not fit
  # leaves it unsigned).
  unsigned=$exe
  cert=$(sed -n 's/^PIDRECORD_SIGNING_CERT:FILEPATH=//p' \
    build/windows/CMakeCache.txt)
  if osslsigncode extract-signature -in "$exe" -out "$work/signature" \
    >/dev/null 2>&1; then
    unsigned=$work/unsigned.exe
    osslsigncode remove-signature -in "$exe" -out "$unsigned" >/dev/null 2>&1 ||
      fail "the signature of $zip's exe cannot be removed"
  elif [ -n "$cert" ]; then
    fail "$zip holds an exe without a signature"
  fi
  [ -z "$cert" ] || [ -z "$msi" ] || osslsigncode verify -CAfile "$cert" \
    -in "$msi" >/dev/null 2>&1 || fail "$msi is not signed with $cert"
  cmp -s "$unsigned" build/windows/pidrecord.exe ||
    fail "$zip holds another exe"
  # The manual as mandoc renders it, with a stylesheet of its own.
  unstyled() { sed '/^  <style>$/,/^  <\/style>$/d'; }
  mandoc -T html "-Ios=pidrecord $version" src/pidrecord.1 | unstyled \
    >"$work/manual.html"
  unstyled <"$work/zip/pidrecord.html" | cmp -s - "$work/manual.html" ||
    fail "$zip holds another manual"
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
  [ "$(x86_64-w64-mingw32-objdump -h "$exe" | grep -c '\.debug')" -eq 0 ] ||
    fail "$exe has debugging sections"
  [ -z "$(x86_64-w64-mingw32-nm "$exe" 2>/dev/null)" ] ||
    fail "$exe has symbols"
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
  [ -z "$msi" ] || tests/msi_test.sh || fail "tests/msi_test.sh"
fi

echo "packages: $failures failures"
[ "$failures" -eq 0 ]
