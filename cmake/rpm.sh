#!/usr/bin/env bash
# The RPM, from the staged tree, as package.sh calls it. The program is
# static, so it has no dependencies to find, and no build-id links.
# Usage: rpm.sh STAGE OUTFILE VERSION RPMARCH EPOCH CHANGELOG
# Environment: MAINTAINER, DESCRIPTION, LONG_DESCRIPTION.
set -euo pipefail
stage=$1 outfile=$2 version=$3 arch=$4 epoch=$5 changelog=$6
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$tmp/rpmroot
mkdir -p "$root/usr/share/licenses/pidrecord"
cp -R "$stage/bin" "$stage/share" "$root/usr"
# Compressed as rpmlint expects; man reads either.
bzip2 -9 "$root/usr/share/man/man1/pidrecord.1"
mv "$root/usr/share/doc/pidrecord/copyright" "$root/usr/share/licenses/pidrecord"
"$(dirname "$0")/normalise.sh" "$root" usr/bin/pidrecord "$epoch"
# rpmbuild expands macros everywhere in its input, so each % of the texts
# pasted in is doubled to stand for itself.
escape() { sed 's/%/%%/g'; }
# Every CHANGELOG entry, signed by the packager as in the DEB.
entries() {
  awk -v m="$MAINTAINER" '
    /^[^ ]/ { v = $2; gsub(/[()]/, "", v); n = 0; next }
    /^  \* / { sub(/^  \* /, "- "); body[++n] = $0; next }
    /^    / { sub(/^    /, "  "); body[++n] = $0; next }
    /^ -- / { split(substr($0, index($0, ">") + 3), d, /[ ,]+/)
      printf "* %s %s %s %s %s - %s-1\n", d[1], d[3], d[2], d[4], m, v
      for (i = 1; i <= n; i++) print body[i]
      print "" }' "$changelog"
}
cat >"$tmp/pidrecord.rpmbuild" <<END
Name: pidrecord
Version: $version
Release: 1
Summary: $(escape <<<"${DESCRIPTION^}")
License: LicenseRef-none-chosen
Group: Applications/System
Packager: $(escape <<<"$MAINTAINER")
AutoReqProv: no

%description
$(escape <<<"$LONG_DESCRIPTION")

%install
cp -pR "$root/." "%{buildroot}"

%files
/usr/bin/pidrecord
/usr/share/man/man1/pidrecord.1.bz2
%dir /usr/share/doc/pidrecord
%doc /usr/share/doc/pidrecord/README.md
%doc /usr/share/doc/pidrecord/changelog
%dir /usr/share/licenses/pidrecord
%license /usr/share/licenses/pidrecord/copyright

%changelog
$(entries | escape)
END
SOURCE_DATE_EPOCH=$epoch rpmbuild -bb --quiet --target "$arch-linux" \
  --define "_topdir $tmp/rpm" \
  --define "_rpmfilename pidrecord.rpm" \
  --define "_buildhost reproducible" \
  --define "use_source_date_epoch_as_buildtime 1" \
  --define "_binary_payload w9.gzdio" \
  --define "_build_id_links none" \
  --define "debug_package %{nil}" \
  --define "__os_install_post %{nil}" \
  "$tmp/pidrecord.rpmbuild" >/dev/null
cp "$tmp/rpm/RPMS/pidrecord.rpm" "$outfile"
