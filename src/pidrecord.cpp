#include "pidrecord.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "record.h"

namespace {

int checkpoint(const char *path) {
  FILE *f = fopen(path, "w");
  if (f == nullptr) {
    perror("fopen pidfile");
    return 1;
  }
  if (fprintf(f, "%d\n", -1) < 0) {
    int saved = errno;
    fclose(f);
    errno = saved;
    perror("fprintf pidfile");
    return 1;
  }
  // The bytes usually reach the file only here, so a full disk shows here.
  if (fclose(f) != 0) {
    perror("fclose pidfile");
    return 1;
  }
  return 0;
}

int restore(const char *path) {
  FILE *f = fopen(path, "r");
  if (f == nullptr) {
    perror("fopen pidfile");
    return 1;
  }
  bool ok = record_has_pid(f);
  fclose(f);
  if (!ok) {
    fputs("cannot read pid\n", stderr);
    return 1;
  }
  return 0;
}

} // namespace

int run(int argc, char *argv[]) {
  // An empty directory would put the record at the root.
  if (argc < 3 || argv[2][0] == '\0') {
    fputs("usage: pidrecord checkpoint|restore DIRECTORY\n", stderr);
    return 1;
  }
  const char *dir = argv[2];
  const char *sep = "/";
#ifdef _WIN32
  // "C:" names the drive's current directory; "C:/pid" would be its root.
  if (isalpha(static_cast<unsigned char>(dir[0])) && dir[1] == ':' &&
      dir[2] == '\0')
    sep = "";
#endif
  char path[1024];
  int n = snprintf(path, sizeof path, "%s%spid", dir, sep);
  if (n < 0)
    return 1;
  // A cut path would name another file.
  if (n >= static_cast<int>(sizeof path)) {
    fputs("checkpoint directory path too long\n", stderr);
    return 1;
  }
  if (strcmp(argv[1], "checkpoint") == 0)
    return checkpoint(path);
  if (strcmp(argv[1], "restore") == 0)
    return restore(path);
  fprintf(stderr, "unknown action: %s\n", argv[1]);
  return 1;
}
