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

// The last messages of the tests' log.
std::vector<std::string> log_ending(size_t count) {
  std::vector<std::string> log = log_messages(read_file(STROBANE_LOG_PATH));
  return std::vector<std::string>(log.end() - std::min(count, log.size()), log.end());
}

// A job whose log lines outgrow a pipe's buffer: its title alone is 120 KB.
const std::vector<std::string> kLongJobArgs = {"1", "user", std::string(120000, 't'), "1",
                                               "PrintMode=2"};

// Run that job through pipes, bounded in time so that a hang fails instead of blocking.
RunResult run_long_job() {
  FilterProcess filter(kLongJobArgs);
  filter.feed_input(write_raster({solid_page(64, 16, 100)}));
  RunResult result;
  result.status = filter.wait_exit(60s).value_or(-1);
  result.out = filter.output();
  result.err = filter.error_text();
  return result;
}

} // namespace

TEST(FilterLog, RecordsTheRun) {
  RunResult run = run_filter_binary({"7", "alice", "label", "1", "PrintMode=2"},
                                    write_raster({solid_page(8, 1, 255)}));
  ASSERT_EQ(run.status, 0);
  std::vector<std::string> expected = {
      "Enter main",
      "argv[0]:label",
      "argv[1]:7",
      "argv[2]:alice",
      "argv[3]:label",
      "argv[4]:1",
      "argv[5]:PrintMode=2",
      "Begin main",
      "PPD=(unset)",
      "can't param ppdfile",
      "doc->mode = 2",
      "cups_file is not null",
      "Gray2Bytes: Enter function",
      "",
      "Gray2Bytes: Exit function11",
      "",
      "Exit main",
  };
  EXPECT_EQ(log_messages(read_file(STROBANE_LOG_PATH)), expected);

  run = run_filter_binary({"1", "2"}, "");
  EXPECT_EQ(log_messages(read_file(STROBANE_LOG_PATH)),
            (std::vector<std::string>{"Enter main", "argv[0]:label", "argv[1]:1", "argv[2]:2",
                                      "Begin main", "Input param is not enough"}));
}

// A job that fails still ends its log as any job does: without rendering when its input
// cannot be opened, after it when a page is refused.
TEST(FilterLog, FailedJobsEndTheirLogAsAnyJob) {
  RunResult run = run_filter_binary({"1", "u", "t", "1", "", "/nonexistent/job.ras"}, "");
  ASSERT_EQ(run.status, 1);
  EXPECT_EQ(log_ending(2), (std::vector<std::string>{"can't param ppdfile", "Exit main"}));

  RasterPage huge;
  huge.width = huge.height = 65536;
  run = run_filter_binary({"1", "u", "t", "1", ""}, write_raster({huge}));
  ASSERT_EQ(run.status, 1);
  EXPECT_EQ(log_ending(2), (std::vector<std::string>{"cups_file is not null", "Exit main"}));
}

// A FIFO at the log path would block a job once its buffer is full: the job runs
// without its log and prints what it prints with one.
TEST(FilterLog, FifoAtTheLogPathMeansNoLogAndTheJobPrintsUnchanged) {
  RunResult plain = run_long_job();
  ASSERT_EQ(plain.status, 0);
  fs::remove(STROBANE_LOG_PATH);
  ASSERT_EQ(mkfifo(STROBANE_LOG_PATH, 0640), 0);
  RunResult planted = run_long_job();
  fs::remove(STROBANE_LOG_PATH);
  EXPECT_EQ(planted.status, 0);
  EXPECT_TRUE(same_stream(planted.out, plain.out));
  EXPECT_EQ(planted.err, plain.err);
}

// The filter as installed writes the real log; whatever was there is put back afterwards.
TEST(FilterLog, InstalledFilterWritesTheRealLog) {
  if (geteuid() != 0)
    GTEST_SKIP() << "writing " << STROBANE_REAL_LOG_PATH << " needs root";
  fs::path path = STROBANE_REAL_LOG_PATH, saved = path.string() + ".strobane-test-saved";
  fs::path created;
  for (fs::path dir = path.parent_path(); !fs::exists(dir); dir = dir.parent_path())
    created = dir;
  fs::create_directories(path.parent_path());
  if (fs::exists(fs::symlink_status(path)))
    fs::rename(path, saved);

  TempDir dir;
  write_file(dir.file("in"), write_raster({solid_page(8, 1, 255)}));
  std::string command =
      "'" STROBANE_REAL_BIN "' 9 user title 1 '' < '" + dir.file("in") + "' > /dev/null 2>&1";
  int status = std::system(command.c_str());
  std::vector<std::string> log = log_messages(read_file(path));

  std::error_code ignored;
  fs::remove(path, ignored);
  if (fs::exists(fs::symlink_status(saved)))
    fs::rename(saved, path, ignored);
  if (!created.empty())
    fs::remove_all(created, ignored);

  EXPECT_EQ(status, 0);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "Enter main");
  EXPECT_EQ(log[2], "argv[1]:9");
  EXPECT_EQ(log.back(), "Exit main");
}
