#!/usr/bin/env bash
# release.sh as a user with files of their own runs it, watched through a
# stand-in mmdebstrap that builds nothing. The stand-in logs each call,
# splits each special hook's words as mmdebstrap does (Perl's shellwords)
# and fails unless the paths they name exist; a chroot that it makes is an
# empty tarball, and what a job copies out files named as the job's would
# be; a call whose arguments hold FAIL_AT fails. The record job it runs on
# this machine, with stand-ins for dpkg and apt-get, which reads options as
# apt-get does and runs a DPkg::Pre-Invoke command as apt does. The tree,
# as it stands, is committed in a scratch repository whose path holds a
# blank, a quote and a leading dash, as do TMPDIR, the tarball cache and
# the keys'.
# Usage: tests/release_test.sh (from the source tree)
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
odd="$work/it's a -dir"
repo=$odd/-pidrecord keys=$odd/-keys cache=$odd/chroots log=$work/calls
mkdir -p "$odd/tmp" "$odd/bin" "$odd/stubs" "$repo" "$keys"
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$repo"
git() { command git -C "$repo" -c user.name=t -c user.email=t@example.org "$@"; }
git init -q && git add -A && git commit -qm tree
# shellcheck source=cmake/artifacts.sh
. "$repo/cmake/artifacts.sh"
version=$(cd "$repo" && project_version)
rows=$(architectures preset | wc -l)
read -r cpu last <<<"$(architectures cpu preset | tail -n1)"

cat >"$odd/bin/mmdebstrap" <<'END'
#!/usr/bin/env bash
set -euo pipefail
echo "$*" >>"$CALLS"
[[ -z ${FAIL_AT-} || $* != *"$FAIL_AT"* ]] || exit 1
cd "$TREE" && . cmake/artifacts.sh
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
    while read -r f; do
      [[ $f == *.buildinfo ]] && arch=${f%.buildinfo} && continue
      echo "${job[1]}" >"$made/$f" && echo "${job[1]}" >"$made/$f.spdx.json"
    done <<<"$(made_by "${job[1]}" "$VERSION")"
    write_buildinfo "$made" "${arch##*_}"
    cp "$made"/* "${w[2]}" && rm -rf "$made" ;;
  download) # what the sums job makes
    [ -e "$in/dist/SHA256SUMS" ] || SOURCE_DATE_EPOCH=0 \
      MINISIGN_KEY=$(ls "$keys"/minisign 2>/dev/null) write_sums "$in/dist" "$VERSION"
    cp "$in/${w[1]#/in/}" "${w[2]}" ;;
  esac
done
[ "${job[0]-}" != record ] ||
  PATH="$STUBS:$PATH" bash "$in/pidrecord/cmake/release_job.sh" record "${job[1]}"
[ "${plain[1]}" = /dev/null ] || tar -cf "${plain[1]}" -T /dev/null
END
cat >"$odd/stubs/apt-get" <<'END'
#!/usr/bin/env bash
for a; do
  [ "$a" != -- ] || break
  [[ $a != -oDPkg::Pre-Invoke::=* ]] || sh -c "${a#*=}"
done
END
printf '#!/bin/sh\n' >"$odd/stubs/dpkg"
chmod +x "$odd/bin/mmdebstrap" "$odd/stubs/"*
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
    STUBS="$odd/stubs" "${settings[@]}" timeout 120 "$repo/release.sh" "$@" \
    >"$work/told" 2>"$work/said") || status=$?
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
# any chroot. (The stand-in rebuilds what it built.) The release as it is
# published: without the user's files beside it in build/release.
published=$work/published
mkdir "$published" && rm -r "$repo/build/release/mine" "$repo/build/release/notes.txt"
cp -a "$repo/build/release/." "$published"
release PIDRECORD_MINISIGN_PUB=open.pub -- --verify "$published"
if [ "$status" -ne 0 ] || [ "$(grep -c ': same' <<<"$told")" -ne \
  "$(($(wc -l <"$published/SHA256SUMS") + 2))" ]; then
  fail "the verification: status $status, told: $told, said: $said"
fi
info=$(artifact buildinfo "$version" amd64) deb=$(artifact deb "$version" amd64)
plant() { # a command, run in a copy of the release, which it sets
  copy=$(mktemp -d -p "$work") && cp -a "$published/." "$copy"
  (cd "$copy" && eval "$1")
}
resum() { write_sums . "$version"; } # the copy's sums anew, unsigned
ins() { # an entry put first into the copy's amd64 .buildinfo's packages
  awk -v e="$1" '{ print } /^Installed-Build-Depends:$/ { print e }' \
    "$info" >"$info.new" && mv "$info.new" "$info"
}
# Unsigned, "same" is said with what it does not show.
plant "rm SHA256SUMS.minisig"
release -- --verify "$copy"
if [ "$status" -ne 0 ] || [[ $(tail -n1 <<<"$told") != unsigned:*"not who made them" ]]; then
  fail "an unsigned release: status $status, told: $told, said: $said"
fi
plant "mkdir amd64 && mv ./*_amd64.* ./*x86_64* amd64 && echo x >>amd64/$deb &&
  rm amd64/*.buildinfo && (cd \"\$repo\" && write_buildinfo \"\$copy/amd64\" amd64) &&
  mv amd64/* . && rmdir amd64 && resum"
release -- --verify "$copy"
if [ "$status" -eq 0 ] || ! grep -qx "$deb: differs" <<<"$told"; then
  fail "a package changed, with its sums: status $status, told: $told"
fi
# Hostile releases: each refused before any chroot, in the line named
# (grep -E, in what it printed), printing no control character, and with
# the canary file, if any, that the planted text would make if it ran,
# never made. @ is the copy, with the edit done in it.
echo mine >"$work/secret" && chmod 600 "$work/secret"
while IFS='|' read -r what settings dir edit named canary; do
  read -ra settings <<<"$settings"
  plant "$edit" || { fail "$what: the edit failed"; continue; }
  release "${settings[@]}" -- --verify "${dir//@/$copy}"
  out="$told$said"
  if [ "$status" -eq 0 ] || ! grep -qE -- "$named" <<<"$out" || [ -s "$log" ] ||
    [ -e "$canary" ] || grep -q '[[:cntrl:]]' <<<"${out//[$'\n\t']/}"; then
    fail "verified $what: status $status, told: $told, said: $said;" \
      "$(wc -l <"$log") calls$([ ! -e "$canary" ] || echo ", $canary made")"
  fi
done <<END
a package changed|PIDRECORD_MINISIGN_PUB=open.pub|@|echo x >>$deb|SHA256SUMS does not hold|-
a .buildinfo left out||@|rm $info && resum|lacks $info|-
a signature by another key|PIDRECORD_MINISIGN_PUB=locked.pub|@|:|not a signature by|-
a fake signature, without the key||@|echo 'untrusted comment: not a signature at all' >SHA256SUMS.minisig|is signed: name|-
an empty DIR|||:|--verify takes|-
a DIR that is not there||$work/none|:|--verify takes|-
a name that begins with -||@|ins ' -oDPkg::Pre-Invoke::=touch\${IFS}$work/canary-1;# (= 1),' && resum|line [0-9]+: not " NAME|$work/canary-1
a blank in a version||@|ins ' cmake (= 1 -oDPkg::Pre-Invoke::=touch\${IFS}$work/canary-2;),' && resum|line [0-9]+: not " NAME|$work/canary-2
xargs' quotes in a version||@|ins " cmake (= 1 '-oDPkg::Pre-Invoke::=touch $work/canary-3')," && resum|line [0-9]+: not " NAME|$work/canary-3
a quote in a version||@|ins " cmake (= 1')," && resum|version 1' is not by Debian|-
an architecture that is an option||@|ins ' musl-dev:--force-all (= 1),' && resum|line [0-9]+: not " NAME|-
entries of another shape||@|sed -i 's/ (= / (>= /' $info && resum|line [0-9]+: not " NAME|-
a mismatched Architecture||@|sed -i 's/^Architecture: amd64\$/& all/' $info && resum|not "Architecture: amd64"|-
an extra .buildinfo, not listed||@|cp $info zz.buildinfo && resum|^zz.buildinfo: not part of the release|-
files that are not the release's||@|touch install.sh $deb.asc && resum|^$deb.asc: not part of the release|-
a name that moves the cursor||@|touch "\$(printf '\\033[2K\\r')x" && resum|not part of the release|-
a symlinked MSI|PIDRECORD_MINISIGN_PUB=open.pub|@|ln -sf $work/secret $(artifact msi "$version")|no $(artifact msi "$version") that is a regular file|-
a .buildinfo that is a device|PIDRECORD_MINISIGN_PUB=open.pub|@|ln -sf /dev/zero $info|no $info that is a regular file|-
a checksum line with ../||@|sed -i '/^Checksums-Sha256:/a\ 0 0 ../../../../dev/zero' $info && resum|a path|-
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

# write_sums and write_buildinfo vouch for nothing that is not there,
# whoever calls them: each named refuses the files (a trailing / a folder, @
# a dangling symbolic link) and writes nothing.
while IFS='|' read -r what names refusers; do
  sums=$(mktemp -d -p "$work")
  for f in $names; do
    case $f in
    */) mkdir "$sums/$f" ;;
    *@) ln -s "$work/none" "$sums/${f%@}" ;;
    *) echo x >"$sums/$f" ;;
    esac
  done
  for refuser in $refusers; do
    if [ "$refuser" = write_sums ]; then (write_sums "$sums" "$version")
    else (cd "$repo" && write_buildinfo "$sums" amd64); fi 2>/dev/null &&
      fail "$refuser took $what"
    [ -z "$(find "$sums" -name SHA256SUMS -o -name '*.buildinfo')" ] ||
      fail "$refuser left a file for $what"
  done
done <<END
no package||write_sums
a package without its SBOM|$deb|write_sums
a package that cannot be read|$(artifact zip "$version")/ $(artifact zip "$version").spdx.json|write_sums write_buildinfo
a dangling symbolic link|$deb@ $deb.spdx.json|write_sums write_buildinfo
a folder in dist|made/ $deb $deb.spdx.json|write_buildinfo
END

echo "release: $failures failures"
[ "$failures" -eq 0 ]
