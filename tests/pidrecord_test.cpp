#include "pidrecord.h"

#include <string>

#include <gtest/gtest.h>

#include "harness.h"

#if defined(__SANITIZE_ADDRESS__) // gcc
#define PIDRECORD_ASAN 1
#elif defined(__has_feature) // clang
#define PIDRECORD_ASAN __has_feature(address_sanitizer)
#else
#define PIDRECORD_ASAN 0
#endif

// What no command line can carry; every other case is in cli_test.cmake,
// run against the executable of every build.
namespace {

void expect_outcome(const Outcome &got, int status, const std::string &err) {
  EXPECT_EQ(got.status, status);
  EXPECT_EQ(got.err, err);
  EXPECT_EQ(got.out, "");
}

TEST(Pidrecord, NoArgumentsAtAllIsUsage) {
  Scratch scratch;
  char *argv[] = {nullptr};
  expect_outcome(run_captured(0, argv, scratch.dir), 1,
                 "usage: pidrecord checkpoint|restore DIRECTORY\n");
}

TEST(Pidrecord, UnformattablePathEndsSilently) {
#if defined(_WIN32)
  // MinGW's snprintf writes out of bounds on such a text; a Windows command
  // line (32,767 characters at most) can never carry one.
  GTEST_SKIP() << "MinGW's snprintf cannot take a text over INT_MAX";
#elif PIDRECORD_ASAN
  GTEST_SKIP() << "the sanitizer's snprintf check takes sizes as int";
#else
  // A directory text longer than INT_MAX makes the formatting fail; that
  // ends the run before the action word is even looked at.
  Scratch scratch;
  std::string huge(size_t{1} << 31, 'a');
  char *argv[] = {const_cast<char *>("pidrecord"),
                  const_cast<char *>("nonsense"), huge.data(), nullptr};
  expect_outcome(run_captured(3, argv, scratch.dir), 1, "");
#endif
}

} // namespace
