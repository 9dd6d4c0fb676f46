#!/usr/bin/env bash
# Packs a staged install tree into the release archives so that they are the
# same bytes whoever packs them, wherever and whenever: times from
# SOURCE_DATE_EPOCH, owners 0/0, modes 0755 and 0644, members sorted. Then
# lists every archive in OUTDIR in SHA256SUMS.
# Usage: package.sh linux|windows STAGE OUTDIR NAME VERSION ARCH SOURCEDIR
#        LIB...
# LIB: the libraries linked into the program, whose notices go with it.
# Environment: SOURCE_DATE_EPOCH, MAINTAINER, DESCRIPTION.
set -euo pipefail
kind=$1 stage=$2 out=$3 name=$4 version=$5 arch=$6 src=$7
shift 7
export LC_ALL=C TZ=UTC
epoch=$SOURCE_DATE_EPOCH
mkdir -p "$out"

# A machine-readable copyright file: the project's own files, then the full
# copyright files of the Debian packages that the linked libraries came from.
copyright() { # pattern for the program's path in the packages, then LIB...
  local program=$1 lib pkg pkgs=() licenses=""
  shift
  for lib; do
    pkg=$(dpkg -S "$(realpath -s "$lib")" | sed 's/[:,].*//')
    [[ " ${pkgs[*]} " == *" $pkg "* ]] || pkgs+=("$pkg")
  done
  for pkg in "${pkgs[@]}"; do licenses+=" and $pkg-notices"; done
  cat <<END
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: pidrecord
Comment: The program is linked statically with code from these Debian
 packages, whose copyright files are quoted in full below: ${pkgs[*]}.

Files: *
Copyright: the pidrecord developers
License: none-chosen

Files: $program
Copyright: the pidrecord developers, and the holders named in the copyright
 files quoted below
License: none-chosen$licenses

License: none-chosen
 The owner of pidrecord has not chosen a license for its own files yet, so
 none is stated for them here.
END
  for pkg in "${pkgs[@]}"; do
    printf '\nLicense: %s-notices\n' "$pkg"
    printf ' /usr/share/doc/%s/copyright, version %s:\n .\n' "$pkg" \
      "$(dpkg-query -W -f='${Version}' "$pkg" | head -n1)"
    awk '/^[ \t]*$/ { print " ."; next } { print " " $0 }' \
      "/usr/share/doc/$pkg/copyright"
  done
}

normalise() { # tree, its executable: fixed modes and times
  find "$1" -type d -exec chmod 0755 {} +
  find "$1" -type f -exec chmod 0644 {} +
  chmod 0755 "$1/$2"
  find "$1" -exec touch -h -d "@$epoch" {} +
}

if [ "$kind" = windows ]; then
  copyright pidrecord.exe "$@" >"$stage/COPYRIGHT.txt"
  normalise "$stage" pidrecord.exe
  rm -f "$out/$name.zip"
  (cd "$stage" && find . -type f | sed 's|^\./||' | sort |
    zip -X -D -9 -q "$out/$name.zip" -@)
else
  doc=$stage/share/doc/pidrecord
  copyright '*bin/pidrecord' "$@" >"$doc/copyright"
  # The changelog's entries are signed by whoever the packager names.
  awk -v m="$MAINTAINER" '/^ -- / {
    $0 = " -- " m substr($0, index($0, ">") + 1) } 1' "$src/CHANGELOG" \
    >"$doc/changelog"
  normalise "$stage" bin/pidrecord
  tar --sort=name --format=gnu --mtime="@$epoch" --owner=0 --group=0 \
    --numeric-owner -C "$stage" -cf - bin share | gzip -9n >"$out/$name.tar.gz"

  case $arch in
  x86_64) debarch=amd64 ;;
  aarch64) debarch=arm64 ;;
  *) debarch=$arch ;;
  esac
  deb=$(mktemp -d)
  trap 'rm -rf "$deb"' EXIT
  mkdir -p "$deb/DEBIAN" "$deb/usr/share/lintian/overrides"
  cp -R "$stage/bin" "$stage/share" "$deb/usr"
  gzip -9n "$deb/usr/share/man/man1/pidrecord.1" \
    "$deb/usr/share/doc/pidrecord/changelog"
  cat >"$deb/usr/share/lintian/overrides/pidrecord" <<END
# A static PIE has the ELF type of a shared object, and no dependency, which
# lintian takes for a library that lacks them.
pidrecord: shared-library-lacks-prerequisites [usr/bin/pidrecord]
END
  cat >"$deb/DEBIAN/control" <<END
Package: pidrecord
Version: $version
Architecture: $debarch
Maintainer: $MAINTAINER
Installed-Size: $(du -sk --apparent-size "$deb/usr" | cut -f1)
Section: utils
Priority: optional
Description: $DESCRIPTION
 pidrecord handles the two steps of a checkpoint/restore scheme for a
 checkpoint directory. "pidrecord checkpoint DIR" writes a one-line pid
 record, the file DIR/pid; "pidrecord restore DIR" reads it back and checks
 that an integer can be read from it. The outcome is the exit status and at
 most one line on standard error.
END
  (cd "$deb" && find usr -type f | sort | xargs md5sum) >"$deb/DEBIAN/md5sums"
  normalise "$deb" usr/bin/pidrecord
  dpkg-deb --root-owner-group -Zgzip -z9 --build "$deb" \
    "$out/pidrecord_${version}_$debarch.deb" >/dev/null
fi

cd "$out"
find . -maxdepth 1 -type f \( -name '*.tar.gz' -o -name '*.deb' -o \
  -name '*.zip' \) | sed 's|^\./||' | sort | xargs sha256sum >SHA256SUMS
