#include "record.h"

// Only the sign and the first digit are looked at, so an integer of any
// length is accepted without overflow and without buffering it.
bool record_has_pid(FILE *f) {
  int c;
  do
    c = getc(f);
  while (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r');
  if (c == '+' || c == '-')
    c = getc(f);
  return c >= '0' && c <= '9';
}
