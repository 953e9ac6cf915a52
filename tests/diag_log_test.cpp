// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "log/diag_log.h"
#include "testkit.h"

using testkit::read_file;
using testkit::TempDir;

TEST(DiagLog, WriteWithoutLogReturnsMinusOne) {
  CloseLog();
  EXPECT_EQ(WriteLog("Enter main"), -1);
}

namespace {

// The log's time stamp for a moment, local time.
std::string stamp_at(time_t moment) {
  struct tm local;
  localtime_r(&moment, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S ", &local);
  return text;
}

} // namespace

TEST(DiagLog, LineIsStampMessageAndCrLf) {
  TempDir dir;
  ASSERT_TRUE(OpenLogAt(dir.file("log").c_str()));
  time_t before = time(nullptr);
  EXPECT_EQ(WriteLog("Enter main"), 10);
  EXPECT_EQ(WriteLog("argv[%d]:%s", 3, "title"), 13);
  EXPECT_EQ(WriteLog("Gray2Bytes: Enter function\r\n"), 28);
  time_t after = time(nullptr);
  // Every line is in the file as soon as WriteLog returns, before the close.
  std::string text = read_file(dir.file("log"));
  CloseLog();

  EXPECT_EQ(
      testkit::log_messages(text),
      (std::vector<std::string>{"Enter main", "argv[3]:title", "Gray2Bytes: Enter function", ""}));
  ASSERT_GE(text.size(), 24u);
  EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
  std::string first = text.substr(0, 20);
  EXPECT_TRUE(first == stamp_at(before) || first == stamp_at(after)) << first;
  size_t second = text.find("\r\n") + 2;
  EXPECT_TRUE(testkit::has_time_stamp(text.substr(second)));
  EXPECT_EQ(text.substr(second + 20, 15), "argv[3]:title\r\n");
}

TEST(DiagLog, EveryOpenEmptiesTheFile) {
  TempDir dir;
  ASSERT_TRUE(OpenLogAt(dir.file("log").c_str()));
  WriteLog("first run");
  CloseLog();
  ASSERT_TRUE(OpenLogAt(dir.file("log").c_str()));
  WriteLog("second run");
  CloseLog();
  std::string text = read_file(dir.file("log"));
  EXPECT_EQ(text.find("first run"), std::string::npos);
  EXPECT_NE(text.find("second run"), std::string::npos);
}

TEST(DiagLog, MissingDirectoryMeansNoLog) {
  TempDir dir;
  EXPECT_FALSE(OpenLogAt(dir.file("missing/log").c_str()));
  EXPECT_EQ(pLogFile, nullptr);
  EXPECT_EQ(WriteLog("dropped"), -1);
  CloseLog();
}

TEST(DiagLog, SymbolicLinkAtTheLogPathIsNotFollowed) {
  TempDir dir;
  testkit::write_file(dir.file("target"), "keep me");
  ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("log").c_str()), 0);
  EXPECT_FALSE(OpenLogAt(dir.file("log").c_str()));
  EXPECT_EQ(WriteLog("dropped"), -1);
  EXPECT_EQ(read_file(dir.file("target")), "keep me");
}

TEST(DiagLog, NewLogIsNotWritableByOthers) {
  TempDir dir;
  mode_t old = umask(0);
  ASSERT_TRUE(OpenLogAt(dir.file("log").c_str()));
  umask(old);
  CloseLog();
  struct stat info;
  ASSERT_EQ(stat(dir.file("log").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}
