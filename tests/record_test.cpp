#include "record.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

// Opens content the way a restore opens the record: text mode.
bool has_pid(const Scratch &s, const std::string &content, bool *scanf_too) {
  std::string file = (s.dir / "record").string();
  write_bytes(file, content);
  FILE *f = fopen(file.c_str(), "r");
  EXPECT_NE(f, nullptr);
  if (f == nullptr)
    return false;
  bool got = record_has_pid(f);
  fclose(f);
  if (scanf_too) {
    f = fopen(file.c_str(), "r");
    int value;
    *scanf_too = fscanf(f, "%d", &value) == 1;
    fclose(f);
  }
  return got;
}

TEST(RecordHasPid, AcceptsExactlyWhatDecimalScanningAccepts) {
  struct Case {
    std::string content;
    bool accepted;
  } cases[] = {
      {"-1\n", true},
      {"-1\r\n", true},
      {"0", true},
      {"+7", true},
      {"-9abc", true},
      {" \t\n\v\f\r42", true},
      {"\r\n\r\n5\r\n", true},
      {"", false},
      {" \t\n\v\f\r", false},
      {"-", false},
      {"+", false},
      {"- 1", false},
      {"+-1", false},
      {"--1", false},
      {"x1", false},
      {".5", false},
      {std::string("\0"
                   "1",
                   2),
       false},
      {"\xef\xbb\xbf"
       "1",
       false}, // a byte order mark is not white space
  };
  Scratch s;
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.content));
    bool scanned;
    EXPECT_EQ(has_pid(s, c.content, &scanned), c.accepted);
    EXPECT_EQ(scanned, c.accepted);
  }
}

TEST(RecordHasPid, AcceptsIntegersBeyondAnyIntegerType) {
  Scratch s;
  for (const char *content :
       {"2147483648", "-2147483649", "99999999999999999999999999999999999"}) {
    SCOPED_TRACE(content);
    EXPECT_TRUE(has_pid(s, content, nullptr));
  }
  EXPECT_TRUE(has_pid(s, std::string(100000, '9'), nullptr));
}

TEST(RecordHasPid, SkipsWhiteSpaceLongerThanAnyBuffer) {
  Scratch s;
  EXPECT_TRUE(has_pid(s, std::string(1 << 20, ' ') + "7", nullptr));
  EXPECT_FALSE(has_pid(s, std::string(1 << 20, '\n') + "x", nullptr));
}

} // namespace
