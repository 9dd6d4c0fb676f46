#!/usr/bin/env bash
# A newcomer's machine: a bare Debian of the release SUITE (bookworm,
# trixie, forky, testing, ...), made with mmdebstrap from this machine's apt sources where they
# name SUITE and else from mmdebstrap's own, gets a clone of this tree and
# runs, under env -i, the README's two commands, read from the README as a
# newcomer would paste them, and nothing before them: each installs what it
# needs. Fails naming the command that failed, or whose standard error holds
# a shell's complaint about one of the tree's scripts.
# Usage: tests/newcomer.sh SUITE [COMMAND]
# COMMAND, if given, runs in the clone after those two (for example
# "bash .ci/run").
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || { echo "usage: $0 SUITE [COMMAND]" >&2; exit 2; }
suite=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The README's first two shell blocks, one command each.
block() { # number of the sh block
  awk -v want="$1" '/^```sh$/ { n++; next }
    n == want && !/^```$/ { print; exit }' README.md
}
mkdir "$work/steps"
block 1 >"$work/steps/1"
block 2 >"$work/steps/2"
if [ $# -gt 0 ]; then echo "$1" >"$work/steps/3"; fi
for f in "$work"/steps/*; do
  [ -s "$f" ] || { echo "FAIL: no command $f in README.md" >&2; exit 1; }
done
git clone -q . "$work/pidrecord"
# A shell's complaint about one of the tree's scripts is a fault, even where
# the command passes.
cat >"$work/run" <<'END'
cd /root/pidrecord
status=0
bash "/root/steps/$1" 2>/root/stderr || status=$?
cat /root/stderr >&2
[ $status -eq 0 ] || { echo "FAIL: $(cat "/root/steps/$1")" >&2; exit 1; }
! grep -E '\.sh: line [0-9]+: ' /root/stderr >/dev/null ||
  { echo "FAIL: a script of the tree complains: $(cat "/root/steps/$1")" >&2
    exit 1; }
END

# Each step as the newcomer's root shell runs it, in the clone, with /proc
# mounted: mmdebstrap mounts none where it finds it cannot, for one where
# mount(8) is missing.
cat >"$work/step" <<'END'
root=$1 mounted=
if ! mountpoint -q "$root/proc"; then
  mount -t proc proc "$root/proc" || exit 1
  mounted=1
fi
chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  bash /root/run "$2"
status=$?
[ -z "$mounted" ] || umount "$root/proc"
exit $status
END
hooks=(--customize-hook="copy-in $work/pidrecord $work/steps $work/run /root")
for f in "$work"/steps/*; do
  hooks+=(--customize-hook="bash $work/step \"\$1\" ${f##*/}")
done
shopt -s nullglob
# (Read with a here-string: a nested chroot may have no /dev/fd.)
sources=()
while read -r f; do
  [ -z "$f" ] || sources+=("$f")
done <<<"$(grep -lw "$suite" /etc/apt/sources.list \
  /etc/apt/sources.list.d/*.{list,sources} 2>/dev/null || true)"
# A frozen mirror may serve testing with a Release file past its validity
# date: that check alone is off, the signatures are checked as ever.
mmdebstrap --quiet --variant=apt --include=git,ca-certificates \
  --aptopt='Acquire::Check-Valid-Until "false"' \
  "${hooks[@]}" "$suite" /dev/null "${sources[@]}"
echo "newcomer: both of the README's commands passed on $suite"
