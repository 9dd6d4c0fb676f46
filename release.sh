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

# The export and the step that each chroot runs go into it as /build; the
# keys, under fixed names, into /build/keys of the chroot that uses them:
# the certificate and its key Windows's, the minisign key that of the sums.
mkdir -p "$work/build/dist" "$work/dist" "$work/keys/windows/keys" \
  "$work/keys/sums/keys"
git archive --prefix=pidrecord/ "$commit" | tar -x -C "$work/build"
[ -z "$cert" ] || cp "$cert" "$work/keys/windows/keys/cert"
[ -z "$key" ] || cp "$key" "$work/keys/windows/keys/key"
[ -z "$minisign" ] || cp "$minisign" "$work/keys/sums/keys/minisign"
signing=()
[ -z "$cert" ] || signing+=(-DPIDRECORD_SIGNING_CERT=/build/keys/cert
  -DPIDRECORD_SIGNING_KEY=/build/keys/key)
[ -z "$url" ] || signing+=("-DPIDRECORD_TIMESTAMP_URL=$url")
{
  echo 'set -euo pipefail; cd /build/pidrecord'
  declare -p signing
  cat <<'END'
# step PRESET: its workflow and package check, the owner's certificate
# given to Windows; step sums: SHA256SUMS over /build/dist, signed.
if [ "$1" = sums ]; then
  . cmake/artifacts.sh
  SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l CHANGELOG -S Timestamp)
  [ ! -e /build/keys/minisign ] || export MINISIGN_KEY=/build/keys/minisign
  write_sums /build/dist "$(dpkg-parsechangelog -l CHANGELOG -S Version)"
  exit
fi
[ "$1" != windows ] || cmake --preset windows "${signing[@]}" >/dev/null
cmake --workflow --preset "$1"
tests/packages_test.sh "$1"
END
} >"$work/build/step"

# chroot_for SUITE PRESET: the tarball of a chroot with what PRESET's
# workflow and package check need, by the tree's own prerequisites.sh,
# unless the cache has it. It holds no /dev: an unshared root cannot make
# device nodes, and mmdebstrap mounts them where it finds the directory.
chroot_for() {
  local tarball=$chroots/$1-$2.tar log=$out/logs/chroot-$1-$2.log
  [ -e "$tarball" ] ||
    mmdebstrap --quiet --variant=apt --skip=output/dev \
      --customize-hook="copy-in $work/build /" \
      --customize-hook="chroot \"\$1\" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        /build/pidrecord/prerequisites.sh $2 packages" \
      --customize-hook="rm -rf \"\$1/build\"" \
      "$1" "${tarball%.tar}.part.tar" >"$log" 2>&1 ||
    { tail -n 20 "$log" >&2; echo "FAIL: a $1 chroot for $2 (log: $log)" >&2
      return 1; }
  [ -e "$tarball" ] || mv "${tarball%.tar}.part.tar" "$tarball"
  echo "$tarball"
}
# in_chroot SUITE PRESET|sums HOOK...: the step, under env -i, in a fresh
# chroot from PRESET's tarball (the release row's for sums); the hooks after
# it copy out what it made.
in_chroot() {
  local suite=$1 step=$2 tarball log=$out/logs/$2.log
  shift 2
  tarball=$(chroot_for "$suite" "${step/#sums/release}")
  mkdir -p "$work/keys/$step/keys"
  mmdebstrap --quiet --variant=custom --skip=update \
    --setup-hook="tar-in $tarball /" --setup-hook="mkdir -p \"\$1/dev\"" \
    --customize-hook="copy-in $work/build /" \
    --customize-hook="copy-in $work/keys/$step/keys /build" \
    --customize-hook="chroot \"\$1\" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
      HOME=/root LC_ALL=C.UTF-8 bash /build/step $step" \
    "${@/#/--customize-hook=}" "$suite" /dev/null >"$log" 2>&1 ||
    { tail -n 40 "$log" >&2; echo "FAIL: $step in $suite (log: $log)" >&2
      return 1; }
}
build() { # suite preset
  in_chroot "$1" "$2" "sync-out /build/pidrecord/build/dist $work/dist" &&
    echo "$2: built, tested, packed and checked in Debian $1"
}

# Windows in Debian 13, each row in the newest release that carries it; as
# many at once as there are processors, as much of a chroot's time is
# unpacking.
declare -A suite=([12]=bookworm [13]=trixie)
export -f chroot_for in_chroot build
export work out chroots
{
  echo trixie windows
  while read -r preset debians; do
    echo "${suite[${debians##*,}]} $preset"
  done <<<"$(architectures preset debians)"
} | xargs -P "$(nproc)" -L 1 bash -c 'build "$@"' _ ||
  { echo "FAIL: the release is not whole" >&2; exit 1; }

# SHA256SUMS once, over exactly this version's artifacts, and signed.
rm -f "$work/dist"/SHA256SUMS*
cp "$work/dist"/* "$work/build/dist"
cp "$work/dist"/* "$out"
sums=("download /build/dist/SHA256SUMS $out/SHA256SUMS")
[ -z "$minisign" ] ||
  sums+=("download /build/dist/SHA256SUMS.minisig $out/SHA256SUMS.minisig")
in_chroot trixie sums "${sums[@]}"
echo "release: $(wc -l <"$out/SHA256SUMS") files in SHA256SUMS, in $out"
