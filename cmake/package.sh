#!/usr/bin/env bash
# Packs a staged install tree into the release packages so that they are the
# same bytes whoever packs them, wherever and whenever: times from
# SOURCE_DATE_EPOCH, owners 0/0, modes 0755 and 0644, members sorted. Beside
# each package goes its SBOM; then SHA256SUMS lists the packages and SBOMs
# of this version in OUTDIR, signed when a minisign key is named
# (artifacts.sh).
# Usage: package.sh linux|windows STAGE OUTDIR VERSION CPU SOURCEDIR LIB...
# CPU: a row of cmake/architectures, for linux. LIB: the libraries linked
# into the program, whose notices go with it.
# Environment: SOURCE_DATE_EPOCH, MAINTAINER, DESCRIPTION; optional:
# MINISIGN_KEY (secret key file without a password), SIGNING_CERT and
# SIGNING_KEY (PEM files: Authenticode for the exe), TIMESTAMP_URL.
set -euo pipefail
kind=$1 stage=$2 out=$3 version=$4 cpu=$5 src=$6
shift 6
export LC_ALL=C TZ=UTC
epoch=$SOURCE_DATE_EPOCH
here=$(dirname "$0")
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# shellcheck source=cmake/architectures.sh
. "$here/architectures.sh"
# shellcheck source=cmake/artifacts.sh
. "$here/artifacts.sh"

# The Debian packages that the linked libraries came from, and their
# versions: what the notices quote and the SBOMs name.
pkgs=() components=()
for lib; do
  # "name" or, where several architectures are installed, "name:arch"
  qualified=$(dpkg -S "$(realpath -s "$lib")" | sed 's/[,]* .*//; s/:$//')
  [[ " ${pkgs[*]} " == *" ${qualified%:*} "* ]] && continue
  pkgs+=("${qualified%:*}")
  components+=("${qualified%:*}"
    "$(dpkg-query -W -f='${Version}' "$qualified")"
    "$(dpkg-query -W -f='${Architecture}' "$qualified")")
done

# A machine-readable copyright file: the project's own files, then the full
# copyright files of those packages.
copyright() { # pattern for the program's path in the packages
  local licenses="" i
  for i in "${!pkgs[@]}"; do licenses+=" and ${pkgs[i]}-notices"; done
  cat <<END
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: pidrecord
Comment: The program is linked statically with code from these Debian
 packages, whose copyright files are quoted in full below: ${pkgs[*]}.

Files: *
Copyright: the pidrecord developers
License: none-chosen

Files: $1
Copyright: the pidrecord developers, and the holders named in the copyright
 files quoted below
License: none-chosen$licenses

License: none-chosen
 The owner of pidrecord has not chosen a license for its own files yet, so
 none is stated for them here.
END
  for i in "${!pkgs[@]}"; do
    printf '\nLicense: %s-notices\n' "${pkgs[i]}"
    printf ' /usr/share/doc/%s/copyright, version %s:\n .\n' "${pkgs[i]}" \
      "${components[3 * i + 1]}"
    awk '/^[ \t]*$/ { print " ."; next } { print " " $0 }' \
      "/usr/share/doc/${pkgs[i]}/copyright"
  done
}

export LONG_DESCRIPTION='pidrecord handles the two steps of a checkpoint/restore scheme for a
checkpoint directory. "pidrecord checkpoint DIR" writes a one-line pid
record, the file DIR/pid; "pidrecord restore DIR" reads it back and checks
that an integer can be read from it. The outcome is the exit status and at
most one line on standard error.'

made=()
if [ "$kind" = windows ]; then
  copyright pidrecord.exe >"$stage/COPYRIGHT.txt"
  if [ -n "${SIGNING_CERT-}" ]; then
    # Signed at the packing time, so that an RSA key without a timestamp
    # server gives the same bytes. Configure refuses a key with a password;
    # should one come all the same, fail rather than ask on the terminal,
    # which setsid takes away.
    setsid -w osslsigncode sign -certs "$SIGNING_CERT" -key "$SIGNING_KEY" \
      -h sha256 -time "$epoch" ${TIMESTAMP_URL:+-t "$TIMESTAMP_URL"} \
      -in "$stage/pidrecord.exe" -out "$tmp/signed.exe" >/dev/null
    mv "$tmp/signed.exe" "$stage/pidrecord.exe"
  fi
  "$here/normalise.sh" "$stage" pidrecord.exe "$epoch"
  zip=$(artifact zip "$version")
  rm -f "$out/$zip"
  (cd "$stage" && find . -type f | sed 's|^\./||' | sort |
    zip -X -D -9 -q "$out/$zip" -@)
  made+=("$zip")
else
  doc=$stage/share/doc/pidrecord
  copyright '*bin/pidrecord' >"$doc/copyright"
  # The changelog's entries are signed by whoever the packager names.
  awk -v m="$MAINTAINER" '/^ -- / {
    $0 = " -- " m substr($0, index($0, ">") + 1) } 1' "$src/CHANGELOG" \
    >"$doc/changelog"
  "$here/normalise.sh" "$stage" bin/pidrecord "$epoch"
  tgz=$(artifact tgz "$version" "$cpu")
  tar --sort=name --format=gnu --mtime="@$epoch" --owner=0 --group=0 \
    --numeric-owner -C "$stage" -cf - bin share | gzip -9n >"$out/$tgz"
  # Debian's and RPM's names for the CPU; RPMs only for what RPM
  # distributions build.
  read -r debarch rpmarch <<<"$(architectures cpu debian rpm |
    awk -v cpu="$cpu" '$1 == cpu { print $2, $3 }')"
  deb=$(artifact deb "$version" "$debarch")
  "$here/deb.sh" "$stage" "$out/$deb" "$version" "$debarch" "$epoch"
  made+=("$tgz" "$deb")
  if [ "$rpmarch" != - ]; then
    rpm=$(artifact rpm "$version" "$rpmarch")
    "$here/rpm.sh" "$stage" "$out/$rpm" "$version" "$rpmarch" "$epoch" \
      "$src/CHANGELOG"
    made+=("$rpm")
  fi
fi
for f in "${made[@]}"; do
  "$here/sbom.sh" "$out/$f" "$version" "$epoch" "${components[@]}" \
    >"$out/$f.spdx.json"
done

write_sums "$out" "$version"
