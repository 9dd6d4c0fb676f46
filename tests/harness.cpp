#include "harness.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "pidrecord.h"

namespace fs = std::filesystem;

Scratch::Scratch() {
  auto seed = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int i = 0;; i++) {
    dir = fs::temp_directory_path() /
          ("pidrecord-test-" + std::to_string(seed) + "-" + std::to_string(i));
    if (fs::create_directory(dir))
      return;
  }
}

Scratch::~Scratch() {
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

std::string read_bytes(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot open " + file.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path &file, const std::string &bytes) {
  std::ofstream out(file, std::ios::binary);
  out << bytes;
  if (!out.flush())
    throw std::runtime_error("cannot write " + file.string());
}

namespace {

// Points fd at file and returns a duplicate of what it pointed at before.
int redirect(FILE *stream, const fs::path &file) {
  fflush(stream);
  int fd = fileno(stream);
  int saved = dup(fd);
  FILE *f = fopen(file.string().c_str(), "wb");
  if (saved < 0 || f == nullptr || dup2(fileno(f), fd) < 0)
    throw std::runtime_error("cannot capture into " + file.string());
  fclose(f);
  return saved;
}

void restore_stream(FILE *stream, int saved) {
  fflush(stream);
  dup2(saved, fileno(stream));
  close(saved);
}

} // namespace

Outcome run_captured(int argc, char *argv[], const fs::path &capture_dir) {
  fs::path out = capture_dir / "captured-stdout";
  fs::path err = capture_dir / "captured-stderr";
  int saved_out = redirect(stdout, out);
  int saved_err = redirect(stderr, err);
  int status = run(argc, argv);
  restore_stream(stderr, saved_err);
  restore_stream(stdout, saved_out);
  return {status, read_bytes(err), read_bytes(out)};
}
