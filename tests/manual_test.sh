#!/usr/bin/env bash
# The manual against the program. Its DIAGNOSTICS must list every message
# that the program's sources can print, and no other. With an executable
# and Wine, its cmd examples, pasted from the rendered page into Wine's cmd
# in the folder of pidrecord.exe as a Windows user would, must give the
# output that the manual shows.
# Usage: manual_test.sh MANUAL SOURCES [PIDRECORD.EXE WINE] (WINEPREFIX from
# the environment)
set -euo pipefail
manual=$1 sources=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# (Here-strings, not process substitution: a bare chroot may have no
# /dev/fd.) Each message as "text", a %s where the caller's word or the system's
# reason goes: perror's prefix, fputs's and fprintf's format to stderr.
cat "$sources"/*.cpp | tr '\n' ' ' |
  grep -oE '(perror\(|fputs\(|fprintf\(stderr,)[[:space:]]*"[^"]*"' |
  sed -E 's/^perror\([[:space:]]*"(.*)"$/\1: %s/; s/^[^"]*"//; s/"$//
    s/\\n$//' | sort -u >"$work/printed"
sed -n '/^\.Sh DIAGNOSTICS/,/^\.Sh /s/^\.It Li //p' "$manual" |
  sed -E 's/\\&//g; s/ Ar [a-z]+$/ %s/' | sort >"$work/listed"
[ -s "$work/printed" ] || { echo "FAIL: no messages in $sources"; exit 1; }
failures=0
while read -r message; do
  [ -n "$message" ] || continue
  echo "FAIL: the program prints \"$message\"; DIAGNOSTICS lacks it"
  failures=$((failures + 1))
done <<<"$(comm -23 "$work/printed" "$work/listed")"
while read -r message; do
  [ -n "$message" ] || continue
  echo "FAIL: DIAGNOSTICS lists \"$message\"; the program prints no such line"
  failures=$((failures + 1))
done <<<"$(comm -13 "$work/printed" "$work/listed")"
echo "manual: DIAGNOSTICS against the $(wc -l <"$work/printed") messages the program prints: $failures failures"
[ "$failures" -eq 0 ] || exit 1
[ $# -eq 4 ] || exit 0
exe=$3 wine=$4

# The prompt marks a command; the lines after it, to the next, its output.
prompt='C:\pidrecord> '
mandoc -T ascii "$manual" | sed 's/.\x08//g; s/^ *//' |
  grep -F -A1000 "$prompt" | sed '/^$/,$d' >"$work/example"
[ -s "$work/example" ] || { echo "FAIL: no cmd example in $manual"; exit 1; }
grep -F "$prompt" "$work/example" | cut -c$((${#prompt} + 1))- \
  >"$work/commands"
grep -vF "$prompt" "$work/example" >"$work/expected"

cp "$exe" "$work/pidrecord.exe"
{
  echo '@echo off'
  # Left by an earlier run in this prefix.
  echo 'rmdir /s /q "%TEMP%\ckpt" 2>nul'
  cat "$work/commands"
} | sed 's/$/\r/' >"$work/example.bat"
# cmd's own status is the last command's; the output alone is judged.
cd "$work"
{ WINEDEBUG=-all "$wine" cmd /c example.bat 2>&1 || true; } |
  tr -d '\r' >got
if ! diff -u expected got; then
  echo "FAIL: the manual's cmd example gives other output (- shown, + got)"
  exit 1
fi
echo "manual: $(wc -l <commands) cmd lines give what the manual shows"
