#!/usr/bin/env bash
# Starts a command as a caller may, for tests/cli_test.cmake: under a
# file-size limit of 0 (fsize0), its standard output and error passed on
# through pipes, which no limit applies to; or with standard error a pipe
# whose reader has gone (unread), made in the current directory. Exits with
# the command's status, 128 + N where signal N ended it.
# Usage: cli_harness.sh fsize0|unread COMMAND...
set -uo pipefail
how=$1
shift
if [ "$how" = fsize0 ]; then
  { (ulimit -f 0 && exec "$@") 2>&1 >&3 3>&- | cat >&2; } 3>&1 | cat
  exit
fi
fifo=./unread.$$
mkfifo "$fifo" || exit 125
# Open to read and write, so that opening it to write does not wait; then
# closed, so that no reader is left.
exec 3<>"$fifo"
exec 2>"$fifo" 3<&-
rm "$fifo"
exec "$@"
