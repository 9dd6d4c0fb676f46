#!/usr/bin/env bash
# The DEB, from the staged tree, as package.sh calls it.
# Usage: deb.sh STAGE OUTFILE VERSION DEBIANARCH EPOCH
# Environment: MAINTAINER, DESCRIPTION, LONG_DESCRIPTION.
set -euo pipefail
stage=$1 outfile=$2 version=$3 debarch=$4 epoch=$5
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
deb=$tmp/deb
mkdir -p "$deb/DEBIAN" "$deb/usr/share/lintian/overrides"
cp -R "$stage/bin" "$stage/share" "$deb/usr"
gzip -9n "$deb/usr/share/man/man1/pidrecord.1" \
  "$deb/usr/share/doc/pidrecord/changelog"
cat >"$deb/usr/share/lintian/overrides/pidrecord" <<END
# A static PIE has the ELF type of a shared object, and no dependency, which
# lintian takes for a library that lacks them.
pidrecord: shared-library-lacks-prerequisites [usr/bin/pidrecord]
# The notices quote Debian's copyright files of what is linked in word for
# word, the FSF's former address in the GCC runtime's among them.
pidrecord: old-fsf-address-in-copyright-file
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
 ${LONG_DESCRIPTION//$'\n'/$'\n' }
END
(cd "$deb" && find usr -type f | sort | xargs md5sum) >"$deb/DEBIAN/md5sums"
"$(dirname "$0")/normalise.sh" "$deb" usr/bin/pidrecord "$epoch"
dpkg-deb --root-owner-group -Zgzip -z9 --build "$deb" "$outfile" >/dev/null
