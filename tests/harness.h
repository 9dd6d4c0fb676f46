#ifndef HARNESS_H
#define HARNESS_H

#include <filesystem>
#include <string>

// A fresh, empty directory for one test, removed with it.
struct Scratch {
  Scratch();
  ~Scratch();
  std::filesystem::path dir;
};

std::string read_bytes(const std::filesystem::path &file);
void write_bytes(const std::filesystem::path &file, const std::string &bytes);

// What one in-process run of the program showed from outside.
struct Outcome {
  int status;
  std::string err;
  std::string out;
};

// Runs the program's entry, capturing standard output and standard error in
// files under capture_dir.
Outcome run_captured(int argc, char *argv[],
                     const std::filesystem::path &capture_dir);

#endif
