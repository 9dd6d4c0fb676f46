// Fuzz target: the record reader that restore uses, against the rule stated
// independently over the raw bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "record.h"

namespace {

bool begins_with_integer(std::string_view s) {
  size_t i = s.find_first_not_of(" \t\n\v\f\r");
  if (i == std::string_view::npos)
    return false;
  if (s[i] == '+' || s[i] == '-')
    i++;
  return i < s.size() &&
         std::string_view("0123456789").find(s[i]) != std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (f == nullptr) {
    perror("fmemopen");
    abort();
  }
  bool got = record_has_pid(f);
  fclose(f);
  std::string_view bytes(reinterpret_cast<const char *>(data), size);
  if (got != begins_with_integer(bytes)) {
    fprintf(stderr, "reader says %d for this input, the rule says %d\n", got,
            !got);
    abort();
  }
  return 0;
}
