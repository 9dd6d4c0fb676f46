#!/usr/bin/env bash
# The release of COMMIT (HEAD by default) into build/release/, once all of
# it has succeeded: each artifact built, tested and recorded in a .buildinfo
# in a fresh Debian chroot, then SHA256SUMS, signed; or, with --verify, one
# rebuilt from the versions its .buildinfo files record, each file said to be
# the same or not. As root or with subordinate ids. Settings (RELEASING.md,
# README.md) are environment variables, paths taken from the caller's folder.
set -euo pipefail
stop() { echo "release.sh: $*" >&2; exit 1; }
path() { [ -z "$1" ] || realpath -m -- "$1"; }
usage="usage: ./release.sh [COMMIT] | ./release.sh --verify DIR [COMMIT]"
verify=
[ "${1-}" != --verify ] || [ $# -lt 2 ] || { verify=$(path "$2") && shift 2; }
if [ $# -gt 1 ] || [[ ${1-} == -* ]]; then stop "$usage"; fi
for tool in git mmdebstrap; do
  command -v $tool >/dev/null || stop "$tool not found: install it"
done
minisign=$(path "${PIDRECORD_MINISIGN_KEY-}") pub=$(path "${PIDRECORD_MINISIGN_PUB-}")
cert=$(path "${PIDRECORD_SIGNING_CERT-}") key=$(path "${PIDRECORD_SIGNING_KEY-}")
url=${PIDRECORD_TIMESTAMP_URL-} cache=$(path "${PIDRECORD_CHROOTS-}")
[ -z "$verify" ] || minisign='' cert='' key='' url='' cache=''
cd -- "$(dirname -- "$0")"
commit=$(git rev-parse -q --verify "${1:-HEAD}^{commit}") ||
  stop "COMMIT ${1:-HEAD} is no commit of $PWD: name one, a tag or a branch"
if [ -z "$verify" ]; then
  [ ! -L build/release ] ||
    stop "build/release is a symbolic link: it must be a folder of its own"
  mkdir -p build/release
  out=$(realpath build/release)
  [[ -z $cache || $cache/ != "$out"/* ]] ||
    stop "PIDRECORD_CHROOTS $cache lies in $out, which a release replaces"
fi
work=$(mktemp -d) logs=$(mktemp -d)
finish() {
  local status=$? && rm -rf "$work"
  if [ $status -eq 0 ] || rmdir "$logs" 2>/dev/null; then rm -rf "$logs"
  else echo "release.sh: the logs are in $logs" >&2; fi
}
trap finish EXIT

# Into every chroot, as /in: the export, whose cmake/release_job.sh runs
# there; into /in/keys, only the keys and published files of its own job.
tree=$work/in/pidrecord win=$work/keys/workflow-windows/keys
mkdir -p "$work/in/dist" "$work/in/records" "$work/dist" "$work/release" \
  "$win" "$work/keys/sums-release/keys"
git archive --prefix=pidrecord/ "$commit" | tar -x -C "$work/in"
# shellcheck source=cmake/architectures.sh
. "$tree/cmake/architectures.sh"
# shellcheck source=cmake/artifacts.sh
. "$tree/cmake/artifacts.sh"
version=$(cd "$tree" && project_version)
bash "$tree/cmake/keys.sh" "$minisign" "$cert" "$key"
[ -z "$minisign" ] || cp -- "$minisign" "$work/keys/sums-release/keys/minisign"
[ -z "$cert" ] || { cp -- "$cert" "$win/cert" && cp -- "$key" "$win/key" &&
  printf '%s\n' -DPIDRECORD_SIGNING_{CERT=/in/keys/cert,KEY=/in/keys/key} \
    >"$win/cmake"; }
[ -z "$url" ] || echo "-DPIDRECORD_TIMESTAMP_URL=$url" >>"$win/cmake"
if [ -n "$verify" ]; then
  # Whole, the owner's, of COMMIT's version, each covered by a .buildinfo.
  (cd "$verify" && sha256sum -c --quiet SHA256SUMS) ||
    stop "$verify/SHA256SUMS does not hold for the files there"
  [ -z "$pub" ] || minisign -V -q -p "$pub" -m "$verify/SHA256SUMS" ||
    stop "$verify/SHA256SUMS.minisig is not a signature by $pub"
  [ "$(sed -n 's/^Version: //p' "$verify"/*.buildinfo | sort -u)" = "$version" ] ||
    stop "$verify holds no release of $version, COMMIT's version"
  bash "$tree/tests/buildinfo_test.sh" "$verify" >&2 ||
    stop "$verify: its .buildinfo files do not cover the release"
  for info in "$verify"/*.buildinfo; do
    preset=$(architectures debarch preset | awk -v a="$(sed -n \
      's/^Architecture: //p' "$info")" '$1 == a { print $2 }')
    sed -n '/^Installed-Build-Depends:/,/^[^ ]/s/^ \(.*\) (= \(.*\)),*$/\1=\2/p' \
      "$info" >"$work/in/records/${preset:-windows}"
  done
  for f in zip msi; do
    [ ! -e "$verify/$(artifact $f "$version")" ] ||
      cp -- "$verify/$(artifact $f "$version")" "$win/published.$f"
  done
fi

# A path quoted as mmdebstrap splits a special hook (Perl's shellwords).
q() { local s=${1//\\/\\\\}; printf '"%s"' "${s//\"/\\\"}"; }
# chroot_for SUITE PRESET: a tarball of a chroot with what PRESET needs (with
# --verify, its record's), kept under the stamp of what makes it. No /dev: an
# unshared root cannot make device nodes, which mmdebstrap mounts if there.
stamp=$(cat "$tree/prerequisites.sh" "$tree"/cmake/architectures* |
  sha256sum | cut -c1-16)
chroots=${cache:-$work/chroots}
mkdir -p -- "$chroots"
chroot_for() {
  local tarball=$chroots/$1-$2-$stamp.tar log=$logs/chroot-$1-$2.log main sec
  local part=${tarball%.tar}.part.tar
  local sources=("$1" "$part") install="/in/pidrecord/prerequisites.sh $2 packages"
  [ -z "$verify" ] || install="bash /in/pidrecord/cmake/release_job.sh record $2"
  if [ -n "${PIDRECORD_MIRROR-}" ]; then
    read -r main sec <<<"$PIDRECORD_MIRROR"
    sources=(--aptopt='Acquire::Check-Valid-Until "false"' "${sources[@]}"
      "deb $main $1 main" "deb $main $1-updates main")
    [ -z "$sec" ] || sources+=("deb $sec $1-security main")
  fi
  if [ ! -e "$tarball" ]; then
    # shellcheck disable=SC2016 # $1 is the chroot's, in mmdebstrap's hook
    mmdebstrap --quiet --variant=apt --skip=output/dev \
      --customize-hook="copy-in $(q "$work/in") /" \
      --customize-hook='chroot "$1" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        '"$install" \
      --customize-hook='rm -rf "$1/in"' "${sources[@]}" >"$log" 2>&1 ||
      { rm -f -- "$part"; tail -n 20 "$log" >&2
        echo "FAIL: a $1 chroot for $2 (log: $log)" >&2; return 1; }
    mv -- "$part" "$tarball"
  fi
  echo "$tarball"
}
# in_chroot SUITE PRESET JOB HOOK...: the job JOB PRESET, under env -i, in a
# fresh chroot from PRESET's tarball; the hooks copy out what it made.
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
      HOME=/root LC_ALL=C.UTF-8 bash /in/pidrecord/cmake/release_job.sh '"$job $preset" \
    "${@/#/--customize-hook=}" "$suite" /dev/null >"$log" 2>&1 ||
    { tail -n 40 "$log" >&2; echo "FAIL: $job $preset in $suite (log: $log)" >&2
      return 1; }
  echo "$job $preset: done in Debian $suite" >&2
}

# Each row in the newest Debian release that carries it, Windows and the sums
# in the newest the table names. Every chroot first, so that a record the
# mirror cannot serve stops before any build; as many at once as processors.
newest=$(codename "$(architectures releases | tr , '\n' | sort -n | tail -n1)")
jobs="$newest windows"
while read -r preset releases; do
  jobs+=$'\n'"$(codename "${releases##*,}") $preset"
done <<<"$(architectures preset releases)"
export -f q chroot_for in_chroot
export work logs chroots stamp verify
xargs -P "$(nproc)" -L 1 bash -c 'chroot_for "$@" >/dev/null || exit 255' _ \
  <<<"$jobs" || stop "a chroot could not be made: see the failures above"
# shellcheck disable=SC2016 # bash -c's own: the hook, then suite and preset
xargs -P "$(nproc)" -L 1 bash -c 'in_chroot "$2" "$3" workflow "$1"' _ \
  "sync-out /in/pidrecord/build/dist $(q "$work/dist")" <<<"$jobs" ||
  stop "the release is not whole: see the failures above"

# SHA256SUMS once, over exactly this version's artifacts, signed.
rm -f "$work/dist"/SHA256SUMS*
cp "$work/dist"/* "$work/in/dist"
cp "$work/dist"/* "$work/release"
sums=("download /in/dist/SHA256SUMS $(q "$work/release/SHA256SUMS")")
[ -z "$minisign" ] || sums+=("download /in/dist/SHA256SUMS.minisig \
$(q "$work/release/SHA256SUMS.minisig")")
in_chroot "$newest" release sums "${sums[@]}"

ours() { # name: whether a release writes files of it
  local kind
  for kind in tgz deb rpm zip msi buildinfo; do
    # shellcheck disable=SC2053 # a pattern
    [[ ${1%.spdx.json} != $(artifact $kind '*' '*') ]] || return 0
  done
  [[ $1 == SHA256SUMS?(.minisig) ]]
}
if [ -n "$verify" ]; then
  # Each published file against its rebuild, a signature taken as published.
  differs=0
  for f in "$verify"/*; do
    name=${f##*/} how=
    ours "$name" || continue
    [[ $name != *.@(zip|msi|minisig) ]] || how=" (the published signature taken)"
    [[ $name != *.minisig ]] || ! cmp -s "$verify/SHA256SUMS" \
      "$work/release/SHA256SUMS" || cp -- "$f" "$work/release"
    if cmp -s "$f" "$work/release/$name"; then echo "$name: same$how"
    else echo "$name: differs$how" && differs=1; fi
  done
  exit $differs
fi

# The new release replaces the files of the names that a release writes.
for f in "$out"/*; do
  [ -L "$f" ] || [ ! -f "$f" ] || ! ours "${f##*/}" || rm -f -- "$f"
done
mv -- "$work/release"/* "$out"
echo "release: $(wc -l <"$out/SHA256SUMS") files in SHA256SUMS, in $out"
