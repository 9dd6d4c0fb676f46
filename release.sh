#!/usr/bin/env bash
# Makes the whole release of one commit in build/release/: each row of
# cmake/architectures, and Windows, by its workflow and package check in a
# fresh chroot of the newest Debian release that carries it; then
# SHA256SUMS over exactly that version's artifacts, signed where a minisign
# key is set. What it runs and reads comes from COMMIT's export. It builds
# in a folder of its own, and replaces the release in build/release/ only
# once the whole of it has succeeded. As root, or as a user with
# subordinate ids (unshare mode).
# Usage: ./release.sh [COMMIT] (HEAD by default)
# Environment, optional, paths taken from where the caller stands: the
# presets' signing settings PIDRECORD_MINISIGN_KEY, PIDRECORD_SIGNING_CERT,
# PIDRECORD_SIGNING_KEY, PIDRECORD_TIMESTAMP_URL, checked first;
# PIDRECORD_CHROOTS, a folder that keeps the chroots' tarballs for later
# runs (by default they are made anew).
set -euo pipefail
stop() { echo "release.sh: $*" >&2; exit 1; }
if [ $# -gt 1 ] || [[ ${1-} == -* ]]; then stop "usage: ./release.sh [COMMIT]"; fi
for tool in git mmdebstrap; do
  command -v $tool >/dev/null || stop "$tool not found: install it"
done
path() { [ -z "$1" ] || realpath -m -- "$1"; }
minisign=$(path "${PIDRECORD_MINISIGN_KEY-}")
cert=$(path "${PIDRECORD_SIGNING_CERT-}") key=$(path "${PIDRECORD_SIGNING_KEY-}")
url=${PIDRECORD_TIMESTAMP_URL-} cache=$(path "${PIDRECORD_CHROOTS-}")
cd -- "$(dirname -- "$0")"
commit=$(git rev-parse -q --verify "${1:-HEAD}^{commit}") ||
  stop "COMMIT ${1:-HEAD} is no commit of $PWD: name one, a tag or a branch"
[ ! -L build/release ] ||
  stop "build/release is a symbolic link: it must be a folder of its own"
mkdir -p build/release
out=$(realpath build/release)
[[ -z $cache || $cache/ != "$out"/* ]] ||
  stop "PIDRECORD_CHROOTS $cache lies in $out, which a release replaces"
work=$(mktemp -d) logs=$(mktemp -d)
finish() {
  local status=$?
  rm -rf "$work"
  if [ $status -eq 0 ] || rmdir "$logs" 2>/dev/null; then rm -rf "$logs"
  else echo "release.sh: the logs are in $logs" >&2; fi
}
trap finish EXIT

# What goes into every chroot, as /in: the export, and the jobs that a chroot
# runs: workflow PRESET, the preset's workflow and package check; sums, the
# SHA256SUMS over /in/dist, signed. The keys, under fixed names, go into
# /in/keys of the one chroot that uses them: the certificate and its key the
# windows workflow's, the minisign key the sums'.
tree=$work/in/pidrecord
mkdir -p "$work/in/dist" "$work/dist" "$work/release" \
  "$work/keys/workflow-windows/keys" "$work/keys/sums-release/keys"
git archive --prefix=pidrecord/ "$commit" | tar -x -C "$work/in"
# shellcheck source=cmake/architectures.sh
. "$tree/cmake/architectures.sh"
# shellcheck source=cmake/artifacts.sh
. "$tree/cmake/artifacts.sh"
bash "$tree/cmake/keys.sh" "$minisign" "$cert" "$key"
[ -z "$cert" ] || cp -- "$cert" "$work/keys/workflow-windows/keys/cert"
[ -z "$key" ] || cp -- "$key" "$work/keys/workflow-windows/keys/key"
[ -z "$minisign" ] || cp -- "$minisign" "$work/keys/sums-release/keys/minisign"
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

# A path as mmdebstrap splits the words of a special hook (Perl's
# shellwords): in double quotes, with \ and " escaped.
q() { local s=${1//\\/\\\\}; printf '"%s"' "${s//\"/\\\"}"; }
# chroot_for SUITE PRESET: the tarball of a chroot with what PRESET's
# workflow and package check need, by the export's prerequisites.sh, unless
# the cache has one by the same prerequisites. It holds no /dev: an unshared
# root cannot make device nodes, and mmdebstrap mounts them where it finds
# the directory.
stamp=$(cat "$tree/prerequisites.sh" "$tree"/cmake/architectures* |
  sha256sum | cut -c1-16)
chroots=${cache:-$work/chroots}
mkdir -p -- "$chroots"
chroot_for() {
  local tarball=$chroots/$1-$2-$stamp.tar log=$logs/chroot-$1-$2.log
  local part=$chroots/$1-$2-$stamp.part.tar
  if [ ! -e "$tarball" ]; then
    # shellcheck disable=SC2016 # $1 is the chroot's, in mmdebstrap's hook
    mmdebstrap --quiet --variant=apt --skip=output/dev \
      --customize-hook="copy-in $(q "$work/in") /" \
      --customize-hook='chroot "$1" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        /in/pidrecord/prerequisites.sh '"$2"' packages' \
      --customize-hook='rm -rf "$1/in"' "$1" "$part" >"$log" 2>&1 ||
      { rm -f -- "$part"; tail -n 20 "$log" >&2
        echo "FAIL: a $1 chroot for $2 (log: $log)" >&2; return 1; }
    mv -- "$part" "$tarball"
  fi
  echo "$tarball"
}
# in_chroot SUITE PRESET JOB HOOK...: the job /in/JOB PRESET, under env -i,
# in a fresh chroot from PRESET's tarball; the hooks after it copy out what
# it made.
in_chroot() {
  local suite=$1 preset=$2 job=$3 tarball log=$logs/$3-$2.log
  shift 3
  tarball=$(chroot_for "$suite" "$preset")
  mkdir -p "$work/keys/$job-$preset/keys"
  # shellcheck disable=SC2016 # $1 is the chroot's, in mmdebstrap's hook
  mmdebstrap --quiet --variant=custom --skip=update \
    --setup-hook="tar-in $(q "$tarball") /" --setup-hook='mkdir -p "$1/dev"' \
    --customize-hook="copy-in $(q "$work/in") /" \
    --customize-hook="copy-in $(q "$work/keys/$job-$preset/keys") /in" \
    --customize-hook='chroot "$1" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
      HOME=/root LC_ALL=C.UTF-8 bash /in/'"$job $preset" \
    "${@/#/--customize-hook=}" "$suite" /dev/null >"$log" 2>&1 ||
    { tail -n 40 "$log" >&2; echo "FAIL: $job $preset in $suite (log: $log)" >&2
      return 1; }
}
make_artifacts() { # suite preset
  in_chroot "$1" "$2" workflow \
    "sync-out /in/pidrecord/build/dist $(q "$work/dist")" &&
    echo "$2: built, tested, packed and checked in Debian $1"
}

# Each row in the newest Debian release that carries it; Windows, and the
# sums, in the newest that the table names. As many at once as there are
# processors, as much of a chroot's time is unpacking.
newest=$(codename "$(architectures releases | tr , '\n' | sort -n | tail -n1)")
jobs="$newest windows"
while read -r preset releases; do
  jobs+=$'\n'"$(codename "${releases##*,}") $preset"
done <<<"$(architectures preset releases)"
export -f q chroot_for in_chroot make_artifacts
export work logs chroots stamp
xargs -P "$(nproc)" -L 1 bash -c 'make_artifacts "$@"' _ <<<"$jobs" ||
  stop "the release is not whole: see the failures above"

# SHA256SUMS once, over exactly this version's artifacts, and signed.
rm -f "$work/dist"/SHA256SUMS*
cp "$work/dist"/* "$work/in/dist"
cp "$work/dist"/* "$work/release"
sums=("download /in/dist/SHA256SUMS $(q "$work/release/SHA256SUMS")")
[ -z "$minisign" ] ||
  sums+=("download /in/dist/SHA256SUMS.minisig $(q "$work/release/SHA256SUMS.minisig")")
in_chroot "$newest" release sums "${sums[@]}"

# The new release replaces the old: the files of the names that a release
# writes go, and nothing else.
ours() { # name
  local kind
  for kind in tgz deb rpm zip msi; do
    # shellcheck disable=SC2053 # a pattern
    [[ ${1%.spdx.json} != $(artifact $kind '*' '*') ]] || return 0
  done
  [[ $1 == SHA256SUMS || $1 == SHA256SUMS.minisig ]]
}
for f in "$out"/*; do
  [ -L "$f" ] || [ ! -f "$f" ] || ! ours "${f##*/}" || rm -f -- "$f"
done
mv -- "$work/release"/* "$out"
echo "release: $(wc -l <"$out/SHA256SUMS") files in SHA256SUMS, in $out"
