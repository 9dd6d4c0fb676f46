#!/usr/bin/env bash
# release.sh as a user with files of their own runs it, watched through a
# stand-in mmdebstrap that builds nothing. The stand-in logs each call,
# splits each special hook's words as mmdebstrap does (Perl's shellwords)
# and fails unless the paths they name exist; a chroot that it makes is an
# empty tarball, and what a job copies out files named as the job's would
# be; a call whose arguments hold FAIL_AT fails. The tree, as it stands,
# is committed in a scratch repository whose path holds a blank, a quote
# and a leading dash, as do TMPDIR, the tarball cache and the keys'.
# Usage: tests/release_test.sh (from the source tree)
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
odd="$work/it's a -dir"
repo=$odd/-pidrecord keys=$odd/-keys cache=$odd/chroots log=$work/calls
mkdir -p "$odd/tmp" "$odd/bin" "$repo" "$keys"
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$repo"
git() { command git -C "$repo" -c user.name=t -c user.email=t@example.org "$@"; }
git init -q && git add -A && git commit -qm tree
# shellcheck source=cmake/artifacts.sh
. "$repo/cmake/artifacts.sh"
# shellcheck source=cmake/architectures.sh
. "$repo/cmake/architectures.sh"
version=$(cd "$repo" && project_version)
rows=$(architectures preset | wc -l)
read -r cpu last <<<"$(architectures cpu preset | tail -n1)"

cat >"$odd/bin/mmdebstrap" <<'END'
#!/usr/bin/env bash
set -euo pipefail
echo "$*" >>"$CALLS"
[[ -z ${FAIL_AT-} || $* != *"$FAIL_AT"* ]] || exit 1
cd "$TREE" && . cmake/artifacts.sh && . cmake/architectures.sh
plain=() job=() in= keys=
for a; do
  case $a in
  --*-hook=*) hook=${a#*=} ;;
  --*) continue ;;
  *) plain+=("$a"); continue ;;
  esac
  [[ ! $hook =~ release_job\.sh\ ([a-z]+)\ ([^ ]+)$ ]] ||
    job=("${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}")
  mapfile -t w <<<"$(perl -MText::ParseWords -e \
    'print "$_\n" for shellwords($ARGV[0])' "$hook")"
  [ -n "${w[0]}" ] || { echo "stand-in: cannot split: $hook" >&2; exit 1; }
  case ${w[0]} in
  copy-in | tar-in) for p in "${w[@]:1:${#w[@]}-2}"; do
      [ -e "$p" ] || { echo "stand-in: no $p in: $hook" >&2; exit 1; }
    done
    [ "${w[-1]}" != / ] || in=${w[1]}
    [ "${w[-1]}" != /in ] || keys=${w[1]} ;;
  sync-out) # what a workflow job makes, and its .buildinfo
    made=$(mktemp -d)
    if [ "${job[1]}" = windows ]; then names="zip - msi -" arch=win64; else
      read -r cpu arch rpm <<<"$(architectures preset cpu debarch rpmarch |
        awk -v p="${job[1]}" '$1 == p { print $2, $3, $4 }')"
      names="tgz $cpu deb $arch"
      [ "$rpm" = - ] || names+=" rpm $rpm"
    fi
    set -- $names
    while [ $# -gt 0 ]; do
      f=$made/$(artifact "$1" "$VERSION" "$2")
      echo "${job[1]}" >"$f" && echo "${job[1]}" >"$f.spdx.json"
      shift 2
    done
    write_buildinfo "$made" "$arch"
    cp "$made"/* "${w[2]}" && rm -rf "$made" ;;
  download) # what the sums job makes
    [ -e "$in/dist/SHA256SUMS" ] || SOURCE_DATE_EPOCH=0 \
      MINISIGN_KEY=$(ls "$keys"/minisign 2>/dev/null) write_sums "$in/dist" "$VERSION"
    cp "$in/${w[1]#/in/}" "${w[2]}" ;;
  esac
done
[ "${plain[1]}" = /dev/null ] || tar -cf "${plain[1]}" -T /dev/null
END
chmod +x "$odd/bin/mmdebstrap"
minisign -G -W -p "$keys/open.pub" -s "$keys/-k" >/dev/null
printf 'pw\npw\n' | minisign -G -p "$keys/locked.pub" -s "$keys/-c" \
  >/dev/null 2>&1
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=throwaway" \
  -keyout "$keys/code.key" -out "$keys/code.pem" 2>/dev/null
openssl genpkey -algorithm ed25519 -out "$keys/-other" 2>/dev/null

# A run from the keys' folder, which names them as the caller sees them;
# sets status, told (standard output) and said (standard error).
release() { # env settings... -- release.sh arguments...
  local settings=()
  while [ "$1" != -- ]; do settings+=("$1"); shift; done
  shift
  : >"$log"
  status=0
  (cd "$keys" && env PATH="$odd/bin:$PATH" TMPDIR="$odd/tmp" CALLS="$log" \
    TREE="$repo" VERSION="$version" PIDRECORD_CHROOTS="$cache" \
    "${settings[@]}" "$repo/release.sh" "$@" >"$work/told" 2>"$work/said") ||
    status=$?
  told=$(cat "$work/told") said=$(cat "$work/said")
}
calls() { grep -c -- "$1" "$log" || true; } # calls whose arguments match
state() { (cd "$repo/build/release" && find . -printf '%p %s\n' | sort) }
# The user's files in the output, beside an earlier release.
mkdir -p "$repo/build/release/mine"
old=$repo/build/release/$(artifact deb 0.0.1 amd64)
echo old >"$old" && echo old >"$old.spdx.json" && echo old >"${old%/*}/SHA256SUMS"
echo mine >"$repo/build/release/notes.txt"

# Refused before any chroot, in one line that names the setting.
while IFS='|' read -r what settings argument named; do
  read -ra settings <<<"$settings"
  release "${settings[@]}" -- ${argument:+"$argument"}
  if [ "$status" -eq 0 ] || [ "$(wc -l <<<"$said")" -ne 1 ] ||
    ! grep -q -- "$named" <<<"$said" || [ -s "$log" ]; then
    fail "$what: status $status, said: $said; $(wc -l <"$log") calls"
  fi
done <<END
a bad commit||no-such-commit|no-such-commit
an option||--frobnicate|usage
a key with a password|PIDRECORD_MINISIGN_KEY=-c||-c
a certificate of another key|PIDRECORD_SIGNING_CERT=code.pem PIDRECORD_SIGNING_KEY=-other||code.pem.*-other
a cache in the output|PIDRECORD_CHROOTS=../-pidrecord/build/release/chroots||PIDRECORD_CHROOTS
END

# A run that fails leaves the output as it was.
before=$(state)
release FAIL_AT="workflow $last" PIDRECORD_MINISIGN_KEY=-k --
[ "$status" -ne 0 ] || fail "a run that failed had status 0"
[ "$(state)" = "$before" ] || fail "a failed run changed build/release"
grep -q 'the logs are in' <<<"$said" || fail "a failed run hid its logs: $said"

# One that succeeds replaces the earlier release, and nothing else; each
# row and Windows, each chroot from the cache where it is there, by the
# same prerequisites.sh.
release PIDRECORD_MINISIGN_KEY=-k --
[ "$status" -eq 0 ] || fail "the release: status $status, said: $said"
if [ -e "$old" ] || [ -e "$old.spdx.json" ]; then
  fail "the earlier release stayed beside the new one"
fi
if [ ! -e "$repo/build/release/notes.txt" ] || [ ! -d "$repo/build/release/mine" ]; then
  fail "the release removed the user's files"
fi
for f in SHA256SUMS SHA256SUMS.minisig "$(artifact zip "$version")"; do
  [ -e "$repo/build/release/$f" ] || fail "the release lacks $f"
done
[ "$(calls 'release_job.sh workflow ')" -eq $((rows + 1)) ] ||
  fail "$(calls 'release_job.sh workflow ') workflows for $rows rows and Windows"
release PIDRECORD_MINISIGN_KEY=-k --
[ "$(calls variant=apt)" -eq 0 ] || fail "cached chroots were made again"

# A verification rebuilds the release and finds each file the same, with
# the owner's key; a fault planted in a copy it finds, or refuses it before
# any chroot. (The stand-in rebuilds what it built.)
published=$repo/build/release
release PIDRECORD_MINISIGN_PUB=open.pub -- --verify "$published"
if [ "$status" -ne 0 ] || [ "$(grep -c ': same' <<<"$told")" -ne \
  "$(($(wc -l <"$published/SHA256SUMS") + 2))" ]; then
  fail "the verification: status $status, told: $told, said: $said"
fi
plant() { # a command, run in a copy of the release, which it sets
  copy=$(mktemp -d -p "$work") && cp -a "$published/." "$copy"
  (cd "$copy" && eval "$1")
}
deb=$(artifact deb "$version" amd64)
plant "mkdir amd64 && mv ./*_amd64.* ./*x86_64* amd64 && echo x >>amd64/$deb &&
  rm amd64/*.buildinfo && (cd \"\$repo\" && write_buildinfo \"\$copy/amd64\" amd64) &&
  mv amd64/* . && write_sums . $version"
release -- --verify "$copy"
if [ "$status" -eq 0 ] || ! grep -qx "$deb: differs" <<<"$told"; then
  fail "a package changed, with its sums: status $status, told: $told"
fi
while IFS='|' read -r what settings edit named; do
  read -ra settings <<<"$settings"
  plant "$edit"
  release "${settings[@]}" -- --verify "$copy"
  if [ "$status" -eq 0 ] || ! grep -q -- "$named" <<<"$said" || [ -s "$log" ]; then
    fail "verified $what: status $status, said: $said; $(wc -l <"$log") calls"
  fi
done <<END
a package changed|X=|echo x >>$deb|SHA256SUMS
a .buildinfo left out|X=|rm ./*_amd64.buildinfo && write_sums . $version|cover
a signature by another key|PIDRECORD_MINISIGN_PUB=locked.pub|:|signature
END
echo '# changed' >>"$repo/prerequisites.sh" && git commit -qam changed
release --
[ "$(calls variant=apt)" -eq $((rows + 1)) ] ||
  fail "$(calls variant=apt) chroots made by a changed prerequisites.sh"
# The rows are the commit's, not the working tree's.
sed -i "/^$cpu /{p;s/^$cpu /zz /;s/ $last\$/ release-zz/}" "$repo/cmake/architectures"
release --
[ "$(calls 'release_job.sh workflow ')" -eq $((rows + 1)) ] ||
  fail "a row added but not committed was released"

# write_sums vouches for nothing that is not there, whoever calls it.
while IFS='|' read -r what names; do
  sums=$(mktemp -d -p "$work")
  for f in $names; do
    if [[ $f == */ ]]; then mkdir "$sums/$f"; else echo x >"$sums/$f"; fi
  done
  ! (write_sums "$sums" "$version") 2>/dev/null || fail "write_sums took $what"
  [ ! -e "$sums/SHA256SUMS" ] || fail "write_sums left SHA256SUMS for $what"
done <<END
no package|
a package without its SBOM|$(artifact deb "$version" amd64)
a package that cannot be read|$(artifact zip "$version")/ $(artifact zip "$version").spdx.json
END

echo "release: $failures failures"
[ "$failures" -eq 0 ]
