# shellcheck shell=bash
# Sourced by the scripts that name the release artifacts or list them.

# The version of the tree's newest CHANGELOG entry (run from the tree).
project_version() { sed -n '1s/^pidrecord (\([0-9.]*\)) .*/\1/p' CHANGELOG; }

# The one place that names the artifacts: of a kind, for a version and an
# architecture in that kind's terms, which may be a pattern.
artifact() { # tgz|deb|rpm|zip|msi, version, architecture
  case $1 in
  tgz) echo "pidrecord-$2-linux-$3.tar.gz" ;;
  deb) echo "pidrecord_$2_$3.deb" ;;
  rpm) echo "pidrecord-$2-1.$3.rpm" ;;
  zip) echo "pidrecord-$2-win64.zip" ;;
  msi) echo "pidrecord-$2-win64.msi" ;;
  esac
}

# write_sums DIR VERSION: DIR/SHA256SUMS vouches for this version's packages
# and their SBOMs alone, whatever else the folder holds, signed with
# MINISIGN_KEY (a secret key file without a password) where one is named.
# Fails on no package, a package without its SBOM, or a file that cannot be
# summed; a signature that fails leaves none beside it.
write_sums() {
  local version=$2 f listed=() sig
  (
    set -o pipefail
    cd "$1" || exit
    for f in $(artifact tgz "$version" '*') $(artifact deb "$version" '*') \
      $(artifact rpm "$version" '*') $(artifact zip "$version") \
      $(artifact msi "$version"); do
      [ ! -e "$f" ] || listed+=("$f" "$f.spdx.json")
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
