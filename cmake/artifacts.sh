# shellcheck shell=bash
# Sourced by the scripts that name the release artifacts or list them.

# The version of the tree's newest CHANGELOG entry (run from the tree).
project_version() { sed -n '1s/^pidrecord (\([0-9.]*\)) .*/\1/p' CHANGELOG; }

# The one place that names the artifacts: of a kind, for a version and an
# architecture in that kind's terms, which may be a pattern.
artifact() { # tgz|deb|rpm|zip|msi|buildinfo, version, architecture
  case $1 in
  buildinfo) echo "pidrecord_$2_$3.buildinfo" ;;
  tgz) echo "pidrecord-$2-linux-$3.tar.gz" ;;
  deb) echo "pidrecord_$2_$3.deb" ;;
  rpm) echo "pidrecord-$2-1.$3.rpm" ;;
  zip) echo "pidrecord-$2-win64.zip" ;;
  msi) echo "pidrecord-$2-win64.msi" ;;
  esac
}

# write_sums DIR VERSION: DIR/SHA256SUMS over this version's packages, SBOMs
# and .buildinfo files alone, signed with MINISIGN_KEY if set. Fails on no
# package, a missing SBOM or an unreadable file; a failed signature leaves none.
write_sums() {
  local version=$2 f listed=() sig
  (
    set -o pipefail
    cd "$1" || exit
    for f in $(artifact tgz "$version" '*') $(artifact deb "$version" '*') \
      $(artifact rpm "$version" '*') $(artifact zip "$version") \
      $(artifact msi "$version") $(artifact buildinfo "$version" '*'); do
      [ ! -e "$f" ] || listed+=("$f")
      [[ ! -e $f || $f == *.buildinfo ]] || listed+=("$f.spdx.json")
    done
    rm -f SHA256SUMS SHA256SUMS.minisig
    [ ${#listed[@]} -gt 0 ] || { echo "no package of $version in $1" >&2; exit 1; }
    printf '%s\n' "${listed[@]}" | LC_ALL=C sort | xargs sha256sum -- \
      >SHA256SUMS.part || { rm -f SHA256SUMS.part; exit 1; }
    mv SHA256SUMS.part SHA256SUMS
    [ -n "${MINISIGN_KEY-}" ] || exit 0
    sig=$(mktemp)
    minisign -S -s "$MINISIGN_KEY" -m SHA256SUMS -x "$sig" \
      -t "pidrecord $version, SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH" \
      </dev/null >/dev/null || { rm -f "$sig"; exit 1; }
    chmod 644 "$sig"
    mv "$sig" SHA256SUMS.minisig
  )
}

# write_buildinfo DIR ARCH: DIR's .buildinfo (deb-buildinfo(5), Format 1.0)
# for this build of ARCH from the tree, with no field that two builds from
# the same package versions do not share.
write_buildinfo() {
  local version native f sum files=()
  version=$(project_version) native=$(dpkg --print-architecture)
  for f in "$1"/*; do
    [[ ${f##*/} == SHA256SUMS* || $f == *.buildinfo ]] || files+=("${f##*/}")
  done
  {
    printf '%s\n' "Format: 1.0" "Source: pidrecord" "Binary: pidrecord" \
      "Architecture: $2" "Version: $version"
    for sum in md5 sha1 sha256; do
      echo "Checksums-${sum^}:"
      for f in "${files[@]}"; do
        echo " $(${sum}sum <"$1/$f" | cut -d' ' -f1) $(stat -c %s "$1/$f") $f"
      done
    done
    printf '%s\n' "Build-Origin: $(dpkg-vendor --query Vendor)" \
      "Build-Architecture: $native" "Build-Path: $PWD"
    echo "Build-Suites: $(cat /etc/apt/sources.list /etc/apt/sources.list.d/* \
      2>/dev/null | awk '$1 == "deb" { print $3 }
        $1 == "Suites:" { for (i = 2; i <= NF; i++) print $i }' | paste -sd ' ')"
    echo "Installed-Build-Depends:"
    dpkg-query -W -f '${Package}:${Architecture} (= ${Version})\n' |
      sed "s/:\(all\|$native\) / /; s/^/ /; \$!s/$/,/"
    echo "Environment:"
    printf ' %s="%s"\n' LC_ALL "${LC_ALL-}" SOURCE_DATE_EPOCH \
      "${SOURCE_DATE_EPOCH-}" TZ "${TZ-}" umask "$(umask)"
  } >"$1/$(artifact buildinfo "$version" "$2")"
}
