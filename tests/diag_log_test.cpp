#include <gtest/gtest.h>

#include <regex>
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

TEST(DiagLog, LineIsStampMessageAndCrLf) {
  TempDir dir;
  ASSERT_TRUE(OpenLogAt(dir.file("log").c_str()));
  EXPECT_EQ(WriteLog("Enter main"), 10);
  EXPECT_EQ(WriteLog("argv[%d]:%s", 3, "title"), 13);
  EXPECT_EQ(WriteLog("Gray2Bytes: Enter function\r\n"), 28);
  // Every line is in the file as soon as WriteLog returns, before the close.
  std::string text = read_file(dir.file("log"));
  CloseLog();

  std::regex expected(R"(^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2}) Enter main\r\n)"
                      R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} argv\[3\]:title\r\n)"
                      R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} Gray2Bytes: Enter function\r\n\r\n$)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(text, match, expected)) << text;
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  EXPECT_EQ(std::stoi(match[1]), local.tm_year + 1900);
  EXPECT_EQ(std::stoi(match[2]), local.tm_mon + 1);
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
