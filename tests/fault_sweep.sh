#!/usr/bin/env bash
# Fault sweep: runs pidrecord as callers may start it and under strace, failing
# each system call it makes after the C library's start-up, at each
# occurrence, with each error that ERRORS lists. Every run must keep the
# invariants in judge().
# Usage: fault_sweep.sh PIDRECORD ERRORS
# ERRORS prints a line "NAME<tab>text" for each error, with the text of the
# C library that PIDRECORD is built with.
set -uo pipefail # not -e: most runs fail on purpose
prog=$(realpath "$1")
errors=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit
declare -A text=()
# Here-strings, not process substitution: a bare chroot may have no /dev/fd.
while IFS=$'\t' read -r name msg; do text[$name]=$msg; done <<<"$("$errors")"
[ ${#text[@]} -gt 0 ] || { echo "no errors from $errors" >&2; exit 1; }
# A private root for runs that could reach the machine's /pid: the program
# and whatever it loads, run there by unshare in a user namespace, or by
# chroot where that is refused (as in a chroot) and we are root.
mkdir root
cp "$prog" root/pidrecord
ldd "$prog" 2>/dev/null | grep -o '/[^ ]*' | xargs -r cp --parents -t root
if unshare -r true 2>/dev/null; then
  rooted=(unshare -r --root=root)
elif [ "$(id -u)" = 0 ]; then
  rooted=(chroot root)
else
  echo "no private root: unshare -r is refused and we are not root" >&2
  exit 1
fi

# Every action on every record (with the error its plain run reports), and
# the standard streams as callers may leave them.
scenarios=("checkpoint absent" "restore -1" "restore empty"
           "restore absent ENOENT")
streams=("" "exec <&-" "exec >&-" "exec 2>&-" "exec <&- >&- 2>&-")

runs=0 kept=0 expect_err=
bytes() { # the file's bytes in hex, or "absent"
  if [ -e "$1" ]; then od -An -tx1 "$1" | tr -d ' \n'; else echo absent; fi
}

# One run: what it is (the case's name, for its failures), action,
# directory, record before (absent, empty or a line), a shell command that
# sets up the streams or limits, how to run it (plain, rooted in the private
# root, traced, or strace's inject argument), the errors one of whose texts
# a failure line must carry, the line the same run gives with nothing
# injected. Sets err.
one_run() {
  local what=$1
  shift
  local action=$1 dir=$2 before=$3 setup=$4 inject=$5 errname=$6 plain=$7
  rm -rf d root/pid && mkdir d
  case $before in
  absent) ;;
  empty) : >d/pid ;;
  *) printf '%s\n' "$before" >d/pid ;;
  esac
  local cmd=("$prog" "$action" "$dir") want status
  case $inject in
  plain) ;;
  rooted) cmd=("${rooted[@]}" /pidrecord "$action" "$dir") ;;
  traced) cmd=(strace -qq -o trace "${cmd[@]}") ;;
  *) cmd=(strace -qq -o trace -e "inject=$inject" "${cmd[@]}") ;;
  esac
  want=$(bytes d/pid)
  rm -f trace
  # Standard error through a pipe, which no file-size limit applies to.
  (exec 2>&1 >out && eval "$setup" && exec "${cmd[@]}") | cat >stderr
  status=${PIPESTATUS[0]}
  IFS= read -r -d '' err <stderr
  judge
}

carries() { # text, error names: whether the text is one of theirs
  local t=$1 e
  shift
  for e; do [ "$t" != "${text[$e]}" ] || return 0; done
  return 1
}

judge() {
  local why=() got line names
  got=$(bytes d/pid)
  [[ $status == [01] ]] || why+=("status $status")
  [ ! -s out ] || why+=("wrote to standard output")
  [ ! -e pid ] && [ ! -e root/pid ] ||
    why+=("wrote a record outside the directory")
  # Standard error elsewhere, or a failed write of the message itself (which
  # some C libraries write in parts): what arrived is not judged.
  local judged=1
  [[ $setup != *2\>* ]] || judged=
  ! grep -qE '^writev?\(2, .*INJECTED' trace 2>/dev/null || judged=
  if [ "$status" = 0 ]; then
    [ -z "$err" ] || why+=("status 0 with a message")
  elif [ -n "$judged" ] && ! [[ $err =~ ^[^$'\n']+$'\n'$ ]]; then
    why+=("status 1 without exactly one line on standard error")
  fi
  if [ "$action" = checkpoint ]; then
    [ "$status" != 0 ] || [ "$got" = 2d310a ] || why+=("succeeded with $got")
    [[ $got == @(2d310a|absent|$want) || -z $got ]] || why+=("record $got")
  else
    [ "$got" = "$want" ] || why+=("restore changed the record to $got")
  fi
  [ -z "$expect_err" ] || [ "$err" = "$expect_err" ] ||
    why+=("standard error is not $expect_err")
  line=${err%$'\n'}
  read -ra names <<<"$errname"
  if [[ -n $judged && $err != "$plain" &&
    $line =~ ^(fopen|fprintf|fclose)\ pidfile:\ (.*)$ ]] &&
    ! carries "${BASH_REMATCH[2]}" "${names[@]}"; then
    why+=("the line does not carry the text of ${errname:-no error}")
  fi
  runs=$((runs + 1))
  if [ ${#why[@]} -eq 0 ]; then
    kept=$((kept + 1))
  else
    printf 'FAIL: %s: %s; stderr %q\n' "$what" "$(IFS=';' &&
      echo "${why[*]}")" "$err"
  fi
}

calls() { # the names of the system calls in a trace, one a line
  sed -n 's/^\([a-z0-9_]*\)(.*/\1/p' "$1"
}

# What the C library does before the program's own work: everything that a
# run with no arguments does before it writes the usage line.
usage=$(strace -qq -o trace "$prog" 2>&1)$'\n'
mapfile -t startup <<<"$(calls trace | sed '/^write/,$d')"

for s in "${scenarios[@]}"; do
  read -r action before fails <<<"$s"
  for setup in "${streams[@]}"; do
    run="$action, record $before, streams [$setup]"
    one_run "$run, no fault" "$action" "$work/d" "$before" "$setup" traced \
      "$fails" ""
    plain=$err
    mapfile -t seen <<<"$(calls trace)"
    declare -A when=()
    for ((i = 0; i < ${#seen[@]}; i++)); do
      c=${seen[i]}
      when[$c]=$((${when[$c]-0} + 1))
      if ((i < ${#startup[@]})); then
        [ "$c" = "${startup[i]}" ] || {
          echo "start-up differs at call $i: $c, not ${startup[i]}" >&2
          exit 1
        }
        continue
      fi
      [ "$c" != exit_group ] || continue
      # Linux frees a descriptor even when close fails; an injected failure
      # skips the call and keeps it open, which no real run can. With
      # standard error closed, that descriptor may be the record's.
      [[ $c != close || $setup != *2\>\&-* ]] || continue
      for e in "${!text[@]}"; do
        # A failed allocation may be reported as ENOMEM instead.
        shown=$e
        [[ $c != @(brk|mmap) ]] || shown="$e ENOMEM"
        inject=$c:error=$e:when=${when[$c]}
        one_run "$run, $inject" "$action" "$work/d" "$before" "$setup" \
          "$inject" "$shown" "$plain"
      done
    done
  done
done

# The limits and the directory text that callers get wrong.
mkfifo fifo
one_run "a checkpoint under a file-size limit of 0" checkpoint "$work/d" \
  absent "ulimit -f 0" plain EFBIG ""
one_run "a restore with standard error a pipe that nobody reads" restore \
  "$work/d" absent "exec 3<>fifo 2>fifo 3<&-" plain "" ""
# An empty directory is refused as a wrong command line is; a program that
# took it would reach /pid, which here is the private root's.
expect_err=$usage
one_run "a checkpoint of an empty directory" checkpoint "" absent "" rooted \
  "" ""
one_run "a restore of an empty directory" restore "" -1 "" rooted "" ""

echo "fault sweep: $runs runs, $kept kept every invariant"
[ "$runs" -eq "$kept" ]
