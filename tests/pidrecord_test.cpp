#include "pidrecord.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

#if defined(__SANITIZE_ADDRESS__) // gcc
#define PIDRECORD_ASAN 1
#elif defined(__has_feature) // clang
#define PIDRECORD_ASAN __has_feature(address_sanitizer)
#else
#define PIDRECORD_ASAN 0
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const std::string kRecord = "-1\r\n"; // text streams store CR LF
#else
const std::string kRecord = "-1\n";
#endif

const std::string kUsage = "usage: pidrecord checkpoint|restore DIRECTORY\n";
const std::string kCannotRead = "cannot read pid\n";
const std::string kTooLong = "checkpoint directory path too long\n";

std::string perror_line(const char *prefix, int errnum) {
  return std::string(prefix) + ": " + strerror(errnum) + "\n";
}

class Pidrecord : public testing::Test {
protected:
  void SetUp() override { fs::create_directory(dir); }

  // "DIR" in args stands for the checkpoint directory.
  Outcome run_with(std::vector<std::string> args) {
    for (std::string &a : args)
      if (a == "DIR")
        a = dir.string();
    return run_captured(args, scratch.dir);
  }

  Scratch scratch;
  fs::path dir = scratch.dir / "d";
  fs::path record = dir / "pid";
};

void expect_outcome(const Outcome &got, int status, const std::string &err) {
  EXPECT_EQ(got.status, status);
  EXPECT_EQ(got.err, err);
  EXPECT_EQ(got.out, "");
}

TEST_F(Pidrecord, RefusedCommandLinesTouchNoFile) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{}, kUsage},
      {{"checkpoint"}, kUsage},
      {{"restore"}, kUsage},
      {{"Checkpoint", "DIR"}, "unknown action: Checkpoint\n"},
      {{"checkpoint ", "DIR"}, "unknown action: checkpoint \n"},
      {{"RESTORE", "DIR"}, "unknown action: RESTORE\n"},
      {{"", "DIR"}, "unknown action: \n"},
      {{"-h", "DIR"}, "unknown action: -h\n"},
      {{"--", "checkpoint", "DIR"}, "unknown action: --\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    expect_outcome(run_with(c.args), 1, c.err);
    EXPECT_FALSE(fs::exists(record));
  }
}

TEST_F(Pidrecord, NoArgumentsAtAllIsUsage) {
  char *argv[] = {nullptr};
  expect_outcome(run_captured(0, argv, scratch.dir), 1, kUsage);
}

TEST_F(Pidrecord, CheckpointReplacesAnyRecordWithMinusOne) {
  const char *before[] = {nullptr, "42\nmore\nlines\n", "", "not a number",
                          "-1\n"};
  for (const char *content : before) {
    SCOPED_TRACE(content ? content : "(absent)");
    if (content)
      write_bytes(record, content);
    else
      fs::remove(record);
    expect_outcome(run_with({"checkpoint", "DIR"}), 0, "");
    EXPECT_EQ(read_bytes(record), kRecord);
  }
}

TEST_F(Pidrecord, RestoreJudgesOnlyWhetherAnIntegerStarts) {
  struct Case {
    std::string content;
    int status;
    std::string err;
  } cases[] = {
      {"-1\n", 0, ""},
      {"-1\r\n", 0, ""},
      {"0", 0, ""},
      {" \n 42abc\nmore", 0, ""},
      {"123456789012345678901234567890\n", 0, ""},
      {"", 1, kCannotRead},
      {" \n\t", 1, kCannotRead},
      {"abc", 1, kCannotRead},
      {"-", 1, kCannotRead},
      {"- 1", 1, kCannotRead},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.content));
    write_bytes(record, c.content);
    for (int again = 0; again < 2; again++) {
      expect_outcome(run_with({"restore", "DIR"}), c.status, c.err);
      EXPECT_EQ(read_bytes(record), c.content);
    }
  }
}

TEST_F(Pidrecord, RestoreReadsWhatCheckpointWrote) {
  expect_outcome(run_with({"checkpoint", "DIR", "ignored", "too"}), 0, "");
  expect_outcome(run_with({"restore", "DIR", "ignored"}), 0, "");
  expect_outcome(run_with({"restore", "DIR"}), 0, "");
  EXPECT_EQ(read_bytes(record), kRecord);
}

TEST_F(Pidrecord, OpenFailuresNameTheCallAndTheSystemError) {
  fs::path missing = scratch.dir / "missing";
  expect_outcome(run_captured({"checkpoint", missing.string()}, scratch.dir), 1,
                 perror_line("fopen pidfile", ENOENT));
  EXPECT_FALSE(fs::exists(missing));
  expect_outcome(run_with({"restore", "DIR"}), 1,
                 perror_line("fopen pidfile", ENOENT));
  EXPECT_FALSE(fs::exists(record));
}

TEST_F(Pidrecord, RecordPathThatIsADirectory) {
  fs::create_directory(record);
#ifdef _WIN32
  // Windows refuses to open a directory as a file at all.
  expect_outcome(run_with({"checkpoint", "DIR"}), 1,
                 perror_line("fopen pidfile", EACCES));
  expect_outcome(run_with({"restore", "DIR"}), 1,
                 perror_line("fopen pidfile", EACCES));
#else
  expect_outcome(run_with({"checkpoint", "DIR"}), 1,
                 perror_line("fopen pidfile", EISDIR));
  expect_outcome(run_with({"restore", "DIR"}), 1, kCannotRead);
#endif
  EXPECT_TRUE(fs::is_directory(record));
}

TEST_F(Pidrecord, DirectoryTextIsUsedAsGiven) {
  // A trailing separator doubles it; the path still names the same file.
  std::string trailing = dir.string() + "/";
  expect_outcome(run_captured({"checkpoint", trailing}, scratch.dir), 0, "");
  EXPECT_EQ(read_bytes(record), kRecord);
}

TEST_F(Pidrecord, RecordPathMustFitWithoutBeingCut) {
  // Padding with separators keeps naming the same directory at any length.
  std::string fits =
      dir.string() + std::string(1019 - dir.string().size(), '/');
  std::string over = fits + "/";
  ASSERT_EQ(fits.size(), 1019u);

  expect_outcome(run_captured({"checkpoint", over}, scratch.dir), 1, kTooLong);
  expect_outcome(run_captured({"restore", over}, scratch.dir), 1, kTooLong);
  expect_outcome(run_captured({"nonsense", over}, scratch.dir), 1, kTooLong);
  EXPECT_FALSE(fs::exists(record));

  expect_outcome(run_captured({"checkpoint", fits}, scratch.dir), 0, "");
  EXPECT_EQ(read_bytes(record), kRecord);
  expect_outcome(run_captured({"restore", fits}, scratch.dir), 0, "");
}

TEST_F(Pidrecord, FailedWriteIsReportedNotSuccess) {
#ifdef _WIN32
  GTEST_SKIP() << "no device that is always full on Windows";
#else
  fs::create_symlink("/dev/full", record);
  expect_outcome(run_with({"checkpoint", "DIR"}), 1,
                 perror_line("fclose pidfile", ENOSPC));
#endif
}

TEST_F(Pidrecord, UnformattablePathEndsSilently) {
#if defined(_WIN32)
  // MinGW's snprintf writes out of bounds on such a text; a Windows command
  // line (32,767 characters at most) can never carry one.
  GTEST_SKIP() << "MinGW's snprintf cannot take a text over INT_MAX";
#elif PIDRECORD_ASAN
  GTEST_SKIP() << "the sanitizer's snprintf check takes sizes as int";
#else
  // A directory text longer than INT_MAX makes the formatting fail; that
  // ends the run before the action word is even looked at.
  std::string huge(size_t{1} << 31, 'a');
  char *argv[] = {const_cast<char *>("pidrecord"),
                  const_cast<char *>("nonsense"), huge.data(), nullptr};
  expect_outcome(run_captured(3, argv, scratch.dir), 1, "");
#endif
}

} // namespace
