// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "filter_process.h"
#include "testkit.h"

using namespace testkit;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Clears the real log path for a test and puts back what was there: the log moved
// aside, and the directories the test had to create.
class RealLogPath {
public:
  RealLogPath() : path_(STROBANE_LOG_PATH), saved_(path_ + ".strobane-test-saved") {
    for (fs::path dir = fs::path(path_).parent_path(); !fs::exists(dir); dir = dir.parent_path())
      created_ = dir;
    fs::create_directories(fs::path(path_).parent_path());
    std::error_code missing;
    if (fs::exists(fs::symlink_status(path_)))
      fs::rename(path_, saved_);
  }
  ~RealLogPath() {
    std::error_code ignored;
    fs::remove(path_, ignored);
    if (fs::exists(fs::symlink_status(saved_)))
      fs::rename(saved_, path_, ignored);
    if (!created_.empty())
      fs::remove_all(created_, ignored);
  }
  const std::string &path() const {
    return path_;
  }

private:
  std::string path_;
  std::string saved_;
  fs::path created_;
};

// A job whose log lines outgrow a pipe's buffer: its title alone is 120 KB.
const std::vector<std::string> kJobArgs = {"1", "user", std::string(120000, 't'), "1",
                                           "PrintMode=2"};

// Run the job through pipes, bounded in time so that a hang fails instead of blocking.
RunResult run_bounded_job() {
  FilterProcess filter(kJobArgs);
  filter.feed_input(write_raster({solid_page(64, 16, 100)}));
  RunResult result;
  result.status = filter.wait_exit(60s).value_or(-1);
  result.out = filter.output();
  result.err = filter.error_text();
  return result;
}

} // namespace

// What is planted at the log path before the job runs.
enum class Planted { LinkToAFile, LinkToNothing, LinkToADirectory, Fifo, HardLinkToAFile };

struct PlantedCase {
  const char *name;
  Planted planted;
};

// Show the case by its name in test listings and failures.
void PrintTo(const PlantedCase &c, std::ostream *os) {
  *os << c.name;
}

class PlantedLogPath : public testing::TestWithParam<PlantedCase> {};

TEST_P(PlantedLogPath, MeansNoLogAndTheJobPrintsUnchanged) {
  if (geteuid() != 0)
    GTEST_SKIP() << "planting a file at " << STROBANE_LOG_PATH << " needs root";
  RealLogPath log;
  RunResult plain = run_bounded_job();
  ASSERT_EQ(plain.status, 0);
  ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(log.path())));
  fs::remove(log.path());

  TempDir dir;
  std::string target = dir.file("target");
  // A hard link needs its target on the log's file system.
  std::string sameFileSystemTarget = log.path() + ".strobane-test-target";
  switch (GetParam().planted) {
  case Planted::LinkToAFile:
    write_file(target, "keep me");
    chmod(target.c_str(), 0600);
    fs::create_symlink(target, log.path());
    break;
  case Planted::LinkToNothing:
    fs::create_symlink(target, log.path());
    break;
  case Planted::LinkToADirectory:
    fs::create_directory(target);
    fs::create_symlink(target, log.path());
    break;
  case Planted::Fifo:
    ASSERT_EQ(mkfifo(log.path().c_str(), 0640), 0);
    break;
  case Planted::HardLinkToAFile:
    write_file(sameFileSystemTarget, "keep me");
    fs::create_hard_link(sameFileSystemTarget, log.path());
    break;
  }

  RunResult planted = run_bounded_job();
  EXPECT_EQ(planted.status, 0);
  EXPECT_TRUE(same_stream(planted.out, plain.out));
  EXPECT_EQ(planted.err, plain.err);

  switch (GetParam().planted) {
  case Planted::LinkToAFile: {
    EXPECT_EQ(read_file(target), "keep me");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::read_symlink(log.path()), target);
    break;
  }
  case Planted::LinkToNothing:
    EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
    break;
  case Planted::LinkToADirectory:
    EXPECT_TRUE(fs::is_empty(target));
    break;
  case Planted::Fifo:
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(log.path())));
    break;
  case Planted::HardLinkToAFile:
    EXPECT_EQ(read_file(sameFileSystemTarget), "keep me");
    fs::remove(sameFileSystemTarget);
    break;
  }
}

INSTANTIATE_TEST_SUITE_P(AtTheRealLogPath, PlantedLogPath,
                         testing::Values(PlantedCase{"LinkToAFile", Planted::LinkToAFile},
                                         PlantedCase{"LinkToNothing", Planted::LinkToNothing},
                                         PlantedCase{"LinkToADirectory", Planted::LinkToADirectory},
                                         PlantedCase{"Fifo", Planted::Fifo},
                                         PlantedCase{"HardLinkToAFile", Planted::HardLinkToAFile}),
                         testing::PrintToStringParamName());

TEST(RealLog, NewLogIsReadableByOwnerAndGroupAndWritableByOwnerOnly) {
  if (geteuid() != 0)
    GTEST_SKIP() << "creating " << STROBANE_LOG_PATH << " needs root";
  RealLogPath log;
  mode_t old = umask(0);
  RunResult run = run_bounded_job();
  umask(old);
  EXPECT_EQ(run.status, 0);
  struct stat info;
  ASSERT_EQ(lstat(log.path().c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}
