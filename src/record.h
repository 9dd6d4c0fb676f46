#ifndef RECORD_H
#define RECORD_H

#include <stdio.h>

// Tells whether the stream begins with an integer: white space, an optional
// sign, then at least one decimal digit. Reads no further than that.
bool record_has_pid(FILE *f);

#endif
