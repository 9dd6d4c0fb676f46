#!/usr/bin/env bash
# Makes the whole release of one commit in build/release/: each row of
# cmake/architectures, and Windows, by its workflow and package check in a
# fresh chroot of the newest Debian release that carries it; then
# SHA256SUMS over exactly that version's artifacts, signed where a minisign
# key is set. As root, or as a user with subordinate ids (unshare mode).
# Usage: ./release.sh [COMMIT] (HEAD by default)
# Environment, optional: the presets' signing settings PIDRECORD_MINISIGN_KEY,
# PIDRECORD_SIGNING_CERT, PIDRECORD_SIGNING_KEY, PIDRECORD_TIMESTAMP_URL,
# checked first; PIDRECORD_CHROOTS, a directory that keeps the chroots'
# tarballs for later runs (by default made anew in build/release/chroots).
set -euo pipefail
cd "$(dirname "$0")"
# shellcheck source=cmake/architectures.sh
. cmake/architectures.sh
commit=$(git rev-parse --verify "${1:-HEAD}^{commit}")
minisign=${PIDRECORD_MINISIGN_KEY-} cert=${PIDRECORD_SIGNING_CERT-}
key=${PIDRECORD_SIGNING_KEY-} url=${PIDRECORD_TIMESTAMP_URL-}
bash cmake/keys.sh "$minisign" "$cert" "$key"
out=build/release
chroots=${PIDRECORD_CHROOTS:-$out/chroots}
[ -n "${PIDRECORD_CHROOTS-}" ] || rm -rf "$chroots"
mkdir -p "$out/logs" "$chroots"
find "$out" -maxdepth 1 -type f -delete
chroots=$(realpath "$chroots") out=$(realpath "$out")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What goes into every chroot, as /in: the export, and the jobs that a chroot
# runs: workflow PRESET, the preset's workflow and package check; sums, the
# SHA256SUMS over /in/dist, signed. The keys, under fixed names, go into
# /in/keys of the one chroot that uses them: the certificate and its key the
# windows workflow's, the minisign key the sums'.
mkdir -p "$work/in/dist" "$work/dist" "$work/keys/workflow-windows/keys" \
  "$work/keys/sums-release/keys"
git archive --prefix=pidrecord/ "$commit" | tar -x -C "$work/in"
[ -z "$cert" ] || cp "$cert" "$work/keys/workflow-windows/keys/cert"
[ -z "$key" ] || cp "$key" "$work/keys/workflow-windows/keys/key"
[ -z "$minisign" ] || cp "$minisign" "$work/keys/sums-release/keys/minisign"
signing=()
[ -z "$cert" ] || signing+=(-DPIDRECORD_SIGNING_CERT=/in/keys/cert
  -DPIDRECORD_SIGNING_KEY=/in/keys/key)
[ -z "$url" ] || signing+=("-DPIDRECORD_TIMESTAMP_URL=$url")
{
  echo 'set -euo pipefail; cd /in/pidrecord'
  declare -p signing
  cat <<'END'
[ "$1" != windows ] || cmake --preset windows "${signing[@]}" >/dev/null
cmake --workflow --preset "$1"
tests/packages_test.sh "$1"
END
} >"$work/in/workflow"
cat >"$work/in/sums" <<'END'
set -euo pipefail; cd /in/pidrecord
. cmake/artifacts.sh
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l CHANGELOG -S Timestamp)
[ ! -e /in/keys/minisign ] || export MINISIGN_KEY=/in/keys/minisign
write_sums /in/dist "$(dpkg-parsechangelog -l CHANGELOG -S Version)"
END

# chroot_for SUITE PRESET: the tarball of a chroot with what PRESET's
# workflow and package check need, by the tree's own prerequisites.sh,
# unless the cache has it. It holds no /dev: an unshared root cannot make
# device nodes, and mmdebstrap mounts them where it finds the directory.
chroot_for() {
  local tarball=$chroots/$1-$2.tar log=$out/logs/chroot-$1-$2.log
  [ -e "$tarball" ] ||
    mmdebstrap --quiet --variant=apt --skip=output/dev \
      --customize-hook="copy-in $work/in /" \
      --customize-hook="chroot \"\$1\" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        /in/pidrecord/prerequisites.sh $2 packages" \
      --customize-hook="rm -rf \"\$1/in\"" \
      "$1" "${tarball%.tar}.part.tar" >"$log" 2>&1 ||
    { tail -n 20 "$log" >&2; echo "FAIL: a $1 chroot for $2 (log: $log)" >&2
      return 1; }
  [ -e "$tarball" ] || mv "${tarball%.tar}.part.tar" "$tarball"
  echo "$tarball"
}
# in_chroot SUITE PRESET JOB HOOK...: the job /in/JOB PRESET, under env -i,
# in a fresh chroot from PRESET's tarball; the hooks after it copy out what
# it made.
in_chroot() {
  local suite=$1 preset=$2 job=$3 tarball log=$out/logs/$3-$2.log
  shift 3
  tarball=$(chroot_for "$suite" "$preset")
  mkdir -p "$work/keys/$job-$preset/keys"
  mmdebstrap --quiet --variant=custom --skip=update \
    --setup-hook="tar-in $tarball /" --setup-hook="mkdir -p \"\$1/dev\"" \
    --customize-hook="copy-in $work/in /" \
    --customize-hook="copy-in $work/keys/$job-$preset/keys /in" \
    --customize-hook="chroot \"\$1\" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
      HOME=/root LC_ALL=C.UTF-8 bash /in/$job $preset" \
    "${@/#/--customize-hook=}" "$suite" /dev/null >"$log" 2>&1 ||
    { tail -n 40 "$log" >&2; echo "FAIL: $job $preset in $suite (log: $log)" >&2
      return 1; }
}
make_artifacts() { # suite preset
  in_chroot "$1" "$2" workflow "sync-out /in/pidrecord/build/dist $work/dist" &&
    echo "$2: built, tested, packed and checked in Debian $1"
}

# Each row in the newest Debian release that carries it; Windows, and the
# sums, in the newest that the table names. As many at once as there are
# processors, as much of a chroot's time is unpacking.
newest=$(codename "$(architectures releases | tr , '\n' | sort -n | tail -n1)")
export -f chroot_for in_chroot make_artifacts
export work out chroots
{
  echo "$newest windows"
  while read -r preset releases; do
    echo "$(codename "${releases##*,}") $preset"
  done <<<"$(architectures preset releases)"
} | xargs -P "$(nproc)" -L 1 bash -c 'make_artifacts "$@"' _ ||
  { echo "FAIL: the release is not whole" >&2; exit 1; }

# SHA256SUMS once, over exactly this version's artifacts, and signed.
rm -f "$work/dist"/SHA256SUMS*
cp "$work/dist"/* "$work/in/dist"
cp "$work/dist"/* "$out"
sums=("download /in/dist/SHA256SUMS $out/SHA256SUMS")
[ -z "$minisign" ] ||
  sums+=("download /in/dist/SHA256SUMS.minisig $out/SHA256SUMS.minisig")
in_chroot "$newest" release sums "${sums[@]}"
echo "release: $(wc -l <"$out/SHA256SUMS") files in SHA256SUMS, in $out"
