#!/usr/bin/env bash
# What release.sh runs in a chroot, on the export at /in/pidrecord, beside
# which ../keys holds what this job alone is given: workflow PRESET, with
# ../keys/cmake's options, its .buildinfo and package check; sums, over
# ../dist, signed with ../keys/minisign if there; record PRESET, installing
# exactly the versions in ../records/PRESET, which release.sh read from a
# published .buildinfo by their grammar (any other shows in the rebuild's).
set -euo pipefail
cd "$(dirname "$0")/.."
. cmake/artifacts.sh
export SOURCE_DATE_EPOCH TZ=UTC
SOURCE_DATE_EPOCH=$(date -d "$(sed -n '0,/^ -- /s/^ -- .*>  //p' CHANGELOG)" +%s)
umask 022
case $1 in
workflow)
  arch=$(architectures preset debarch | awk -v p="$2" '$1 == p { print $2 }')
  if [ "$2" = windows ]; then
    # A published release's signatures, which the rebuild attaches.
    options=()
    [ ! -e ../keys/cmake ] || mapfile -t options <../keys/cmake
    unzip -p ../keys/published.zip pidrecord.exe >../keys/published.exe \
      2>/dev/null || :
    for kind in exe msi; do
      ! osslsigncode extract-signature -in ../keys/published.$kind \
        -out ../keys/$kind.sig >/dev/null 2>&1 ||
        options+=("-DPIDRECORD_${kind^^}_SIGNATURE=$PWD/../keys/$kind.sig")
    done
    cmake --preset windows "${options[@]}" >/dev/null
    arch=win64
  fi
  cmake --workflow --preset "$2"
  write_buildinfo build/dist "$arch"
  tests/packages_test.sh "$2" ;;
sums)
  [ ! -e ../keys/minisign ] || export MINISIGN_KEY=$PWD/../keys/minisign
  write_sums ../dist "$(project_version)" ;;
record)
  mapfile -t wanted <"../records/$2"
  sed -n 's/^[^:=]*:\([^=]*\)=.*/\1/p' "../records/$2" | sort -u |
    while read -r arch; do dpkg --add-architecture "$arch"; done
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --allow-downgrades \
    -- "${wanted[@]}" && exit 0
  # Which of them the archive does not serve, if any; else apt's own error.
  missing=$(for p in "${wanted[@]}"; do
    [ -n "$(apt-cache show -- "$p" 2>/dev/null)" ] || echo "$p"; done)
  [ -n "$missing" ] || { echo "release.sh: apt-get cannot install the" \
    "versions that built the release: its error is above" >&2; exit 1; }
  echo "release.sh: the mirror lacks ${missing//$'\n'/ }, which built the" \
    "release of $(date -u -d "@$SOURCE_DATE_EPOCH" +%F): name a snapshot of" \
    "Debian's archive from that date in PIDRECORD_MIRROR" >&2
  exit 1 ;;
esac
