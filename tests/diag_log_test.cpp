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

// What may stand at the log path instead of a regular file with one name.
enum class Planted { LinkToAFile, LinkToNothing, LinkToADirectory, Fifo, Directory, HardLink };

// Only a regular file with no other name is emptied and written: a link must not let a job
// empty another file, and a FIFO would block the job once full.
TEST(DiagLog, AnythingButAFileOfItsOwnAtTheLogPathMeansNoLog) {
  const struct {
    const char *name;
    Planted planted;
  } cases[] = {
      {"link to a file", Planted::LinkToAFile},
      {"link to nothing", Planted::LinkToNothing},
      {"link to a directory", Planted::LinkToADirectory},
      {"FIFO", Planted::Fifo},
      {"directory", Planted::Directory},
      {"hard link", Planted::HardLink},
  };
  for (const auto &c : cases) {
    TempDir dir;
    std::string log = dir.file("log"), target = dir.file("target");
    switch (c.planted) {
    case Planted::LinkToAFile:
      testkit::write_file(target, "keep me");
      ASSERT_EQ(symlink(target.c_str(), log.c_str()), 0);
      break;
    case Planted::LinkToNothing:
      ASSERT_EQ(symlink(target.c_str(), log.c_str()), 0);
      break;
    case Planted::LinkToADirectory:
      ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
      ASSERT_EQ(symlink(target.c_str(), log.c_str()), 0);
      break;
    case Planted::Fifo:
      ASSERT_EQ(mkfifo(log.c_str(), 0640), 0);
      break;
    case Planted::Directory:
      ASSERT_EQ(mkdir(log.c_str(), 0700), 0);
      break;
    case Planted::HardLink:
      testkit::write_file(target, "keep me");
      ASSERT_EQ(link(target.c_str(), log.c_str()), 0);
      break;
    }
    EXPECT_FALSE(OpenLogAt(log.c_str())) << c.name;
    EXPECT_EQ(WriteLog("dropped"), -1) << c.name;
    struct stat info;
    if (c.planted == Planted::LinkToAFile || c.planted == Planted::HardLink) {
      EXPECT_EQ(read_file(target), "keep me") << c.name;
    } else if (c.planted == Planted::LinkToNothing) {
      EXPECT_NE(lstat(target.c_str(), &info), 0) << c.name;
    } else if (c.planted == Planted::Fifo) {
      EXPECT_TRUE(lstat(log.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) << c.name;
    }
  }
}

// The open log does not reach the programs a job may start.
TEST(DiagLog, ChildProcessesDoNotInheritTheLog) {
  TempDir dir;
  ASSERT_TRUE(OpenLogAt(dir.file("log").c_str()));
  std::string command = "ls -l /proc/self/fd > '" + dir.file("fds") + "'";
  int status = std::system(command.c_str());
  CloseLog();
  ASSERT_EQ(status, 0);
  std::string fds = read_file(dir.file("fds"));
  EXPECT_NE(fds.find("/proc/"), std::string::npos) << fds;
  EXPECT_EQ(fds.find(dir.file("log")), std::string::npos) << fds;
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
