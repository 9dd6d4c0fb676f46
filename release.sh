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
if [ "${1-}" = --verify ]; then
  [[ -n ${2-} && -d $2 ]] || stop "--verify takes a release's folder: $usage"
  verify=$(path "$2") && shift 2
fi
if [ $# -gt 1 ] || [[ ${1-} == -* ]]; then stop "$usage"; fi
for tool in git mmdebstrap; do
  command -v $tool >/dev/null || stop "$tool not found: install it"
done
minisign=$(path "${PIDRECORD_MINISIGN_KEY-}") pub=$(path "${PIDRECORD_MINISIGN_PUB-}")
cert=$(path "${PIDRECORD_SIGNING_CERT-}") key=$(path "${PIDRECORD_SIGNING_KEY-}")
url=${PIDRECORD_TIMESTAMP_URL-} cache=$(path "${PIDRECORD_CHROOTS-}")
[ -z "$verify" ] || minisign='' cert='' key='' url='' cache=''
# A signed release is verified with the owner's key or not at all.
[[ -z $verify || -n $pub || ! ( -e $verify/SHA256SUMS.minisig ||
  -L $verify/SHA256SUMS.minisig ) ]] || stop "$verify is signed: name the" \
  "owner's public key in PIDRECORD_MINISIGN_PUB to verify it"
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
# recorded INFO ARCH: the packages that the published .buildinfo INFO of
# ARCH records, as NAME[:ARCH]=VERSION lines, each checked by Debian's
# grammar: a package name as policy allows, an architecture of the table,
# an exact version. Anything else stops the run, naming the line and why.
recorded() {
  awk -v file="${1##*/}" -v arch="$2" -v version="$version" \
    -v archs=" $(architectures debarch | paste -sd ' ') " '
    function refuse(why) {
      printf "release.sh: %s, line %d: %s\n", file, FNR, why >"/dev/stderr"
      failed = 1; exit 1
    }
    /^Architecture:/ && $0 != "Architecture: " arch {
      refuse("not \"Architecture: " arch "\", as its name says") }
    /^Version:/ && $0 != "Version: " version {
      refuse("not \"Version: " version "\", COMMIT'"'"'s version") }
    /^[^ ]/ { inside = $0 == "Installed-Build-Depends:"; next }
    !inside { next }
    !/^ [a-z0-9][a-z0-9+.-]+(:[a-z0-9]+)? \(= [^ ()]+\),?$/ {
      refuse("not \" NAME[:ARCH] (= VERSION),\", NAME a package name") }
    { name = $1; v = $3; sub(/\),?$/, "", v) }
    name ~ /:/ && !index(archs, " " substr(name, index(name, ":") + 1) " ") {
      refuse("the architecture of " name " is no row'"'"'s") }
    v !~ /^([0-9]+:)?[0-9][A-Za-z0-9.+~]*(-[A-Za-z0-9.+~]+)*$/ {
      refuse("the version " v " is not by Debian'"'"'s grammar") }
    { print name "=" v; n++ }
    END { if (!failed && !n) refuse("no package in Installed-Build-Depends") }
  ' "$1"
}
if [ -n "$verify" ]; then
  # A published release is a stranger's until its signature and its names
  # say otherwise. Copied first, and only what its SHA256SUMS lists: each a
  # regular file, of a name of a release of COMMIT's version, no larger than
  # a release makes one. From then on only the copies are read.
  published=$work/published
  mkdir "$published"
  take() { # name: copied from DIR, or the run stops
    { [[ -f $verify/$1 && ! -L $verify/$1 ]] &&
      dd if="$verify/$1" of="$published/$1" iflag=nofollow,nonblock,count_bytes \
        count=$((largest + 1)) status=none; } ||
      stop "$verify has no $(printf %q "$1") that is a regular file"
    [ "$(stat -c %s "$published/$1")" -le $largest ] ||
      stop "$verify/$1 is over $largest bytes, more than any file of a release"
  }
  take SHA256SUMS
  [ -z "$pub" ] || { take SHA256SUMS.minisig &&
    minisign -V -q -p "$pub" -m "$published/SHA256SUMS"; } ||
    stop "$verify/SHA256SUMS.minisig is not a signature by $pub"
  names=$(release_files "$version")
  while IFS= read -r line; do
    { [[ $line =~ ^[0-9a-f]{64}\ \ (.+)$ && ${BASH_REMATCH[1]} != SHA256SUMS* ]] &&
      grep -qxF -- "${BASH_REMATCH[1]}" <<<"$names"; } ||
      stop "$verify/SHA256SUMS: $(printf %q "$line") is no checksum of a" \
        "file of a release of $version, COMMIT's version"
    take "${BASH_REMATCH[1]}"
  done <"$published/SHA256SUMS"
  (cd "$published" && sha256sum -c --quiet --strict SHA256SUMS) ||
    stop "$verify/SHA256SUMS does not hold for the files there"
  foreign=$(shopt -s nullglob dotglob; for f in "$verify"/*; do
    [ -e "$published/${f##*/}" ] ||
      printf '%q: not part of the release\n' "${f##*/}"; done)
  [ -z "$foreign" ] || { echo "$foreign"
    stop "$verify holds files that are not of the release: take them away"; }
  # One .buildinfo for each row and one for Windows, read by their grammar.
  while read -r preset arch; do
    info=$published/$(artifact buildinfo "$version" "$arch")
    [ -f "$info" ] || stop "the release in $verify lacks ${info##*/}"
    recorded "$info" "$arch" >"$work/in/records/$preset" || exit 1
  done <<<"$(architectures preset debarch && echo windows win64)"
  bash "$tree/tests/buildinfo_test.sh" "$published" >&2 ||
    stop "$verify: its .buildinfo files do not cover the release"
  for f in zip msi; do
    [ ! -e "$published/$(artifact $f "$version")" ] ||
      cp -- "$published/$(artifact $f "$version")" "$win/published.$f"
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

patterns=$(release_files '*')
ours() { # name: whether a release writes files of it, of any version
  local f
  while read -r f; do
    # shellcheck disable=SC2053 # a pattern
    [[ $1 != $f ]] || return 0
  done <<<"$patterns"
  return 1
}
if [ -n "$verify" ]; then
  # Each published file against its rebuild, a signature taken as published.
  differs=0
  for f in "$published"/*; do
    name=${f##*/} how=
    [[ $name != *.@(zip|msi|minisig) ]] || how=" (the published signature taken)"
    [[ $name != *.minisig ]] || ! cmp -s "$published/SHA256SUMS" \
      "$work/release/SHA256SUMS" || cp -- "$f" "$work/release"
    if cmp -s "$f" "$work/release/$name"; then echo "$name: same$how"
    else echo "$name: differs$how" && differs=1; fi
  done
  [ -n "$pub" ] || echo "unsigned: \"same\" shows that these bytes rebuild" \
    "from $commit, not who made them"
  exit $differs
fi

# The new release replaces the files of the names that a release writes.
for f in "$out"/*; do
  [ -L "$f" ] || [ ! -f "$f" ] || ! ours "${f##*/}" || rm -f -- "$f"
done
mv -- "$work/release"/* "$out"
echo "release: $(wc -l <"$out/SHA256SUMS") files in SHA256SUMS, in $out"
