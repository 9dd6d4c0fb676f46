#!/usr/bin/env bash
# What release.sh runs in a chroot, on the export at /in/pidrecord: workflow
# PRESET, with /in/keys/cmake's options, its .buildinfo and package check;
# sums, over /in/dist, signed with /in/keys/minisign if there; record PRESET,
# the versions of PRESET's published .buildinfo (any other shows in its own).
set -euo pipefail
cd /in/pidrecord
. cmake/artifacts.sh
. cmake/architectures.sh
export SOURCE_DATE_EPOCH TZ=UTC
SOURCE_DATE_EPOCH=$(date -d "$(sed -n '0,/^ -- /s/^ -- .*>  //p' CHANGELOG)" +%s)
umask 022
case $1 in
workflow)
  arch=$(architectures preset debarch | awk -v p="$2" '$1 == p { print $2 }')
  if [ "$2" = windows ]; then
    # A published release's signatures, which the rebuild attaches.
    options=()
    [ ! -e /in/keys/cmake ] || mapfile -t options </in/keys/cmake
    unzip -p /in/keys/published.zip pidrecord.exe >/in/keys/published.exe \
      2>/dev/null || :
    for kind in exe msi; do
      ! osslsigncode extract-signature -in /in/keys/published.$kind \
        -out /in/keys/$kind.sig >/dev/null 2>&1 ||
        options+=("-DPIDRECORD_${kind^^}_SIGNATURE=/in/keys/$kind.sig")
    done
    cmake --preset windows "${options[@]}" >/dev/null
    arch=win64
  fi
  cmake --workflow --preset "$2"
  write_buildinfo build/dist "$arch"
  tests/packages_test.sh "$2" ;;
sums)
  [ ! -e /in/keys/minisign ] || export MINISIGN_KEY=/in/keys/minisign
  write_sums /in/dist "$(project_version)" ;;
record)
  sed -n 's/^[^=]*:\([^=]*\)=.*/\1/p' "/in/records/$2" | sort -u |
    xargs -rn1 dpkg --add-architecture
  apt-get update -qq
  xargs env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --allow-downgrades <"/in/records/$2" || { echo "release.sh: the mirror" \
    "lacks the version above, which built the release of" \
    "$(date -u -d "@$SOURCE_DATE_EPOCH" +%F): name a snapshot of Debian's" \
    "archive from that date in PIDRECORD_MIRROR" >&2; exit 1; } ;;
esac
