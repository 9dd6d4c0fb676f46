#include <signal.h>

#include "pidrecord.h"

int main(int argc, char *argv[]) {
#ifndef _WIN32
  // A file-size limit or a reader that has gone must show as a failed write
  // and status 1, not as death by signal.
  signal(SIGXFSZ, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
#endif
  return run(argc, argv);
}
