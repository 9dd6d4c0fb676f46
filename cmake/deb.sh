# Sourced by package.sh: the DEB, from the staged tree.
case $arch in
x86_64) debarch=amd64 ;;
aarch64) debarch=arm64 ;;
*) debarch=$arch ;;
esac
deb=$tmp/deb
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
$(sed 's/^/ /' <<<"$long_description")
END
(cd "$deb" && find usr -type f | sort | xargs md5sum) >"$deb/DEBIAN/md5sums"
normalise "$deb" usr/bin/pidrecord
dpkg-deb --root-owner-group -Zgzip -z9 --build "$deb" \
  "$out/pidrecord_${version}_$debarch.deb" >/dev/null
made+=("pidrecord_${version}_$debarch.deb")
