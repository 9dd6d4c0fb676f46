// Prints the errors that the fault sweep injects, each with this C library's
// text for it, so that the sweep and the command-line table expect the texts
// the program prints.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#define E(name)                                                                \
  { #name, name }

static const struct {
  const char *name;
  int number;
} errors[] = {
    E(EIO),    E(ENOSPC), E(EFBIG),  E(EINTR),  E(EACCES),
    E(EPERM),  E(ENOMEM), E(EMFILE), E(ENFILE), E(EROFS),
    E(ELOOP),  E(EAGAIN), E(EBADF),  E(ENOENT), E(EISDIR),
#ifdef EDQUOT // not in the Windows C runtime
    E(EDQUOT),
#endif
};

int main() {
  for (const auto &e : errors)
    printf("%s\t%s\n", e.name, strerror(e.number));
  return 0;
}
