#!/usr/bin/env bash
# The manual's cmd examples, pasted from the rendered page into Wine's cmd
# in the folder of pidrecord.exe, as a Windows user would: the output must
# be what the manual shows.
# Usage: manual_test.sh MANUAL PIDRECORD.EXE WINE (WINEPREFIX from the
# environment)
set -euo pipefail
manual=$1 exe=$2 wine=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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
