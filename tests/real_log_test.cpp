// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "testkit.h"

using namespace testkit;

TEST(FilterLog, RealLogRecordsTheRun) {
  if (geteuid() != 0)
    GTEST_SKIP() << "writing " << STROBANE_LOG_PATH << " needs root";
  std::filesystem::create_directories(std::filesystem::path(STROBANE_LOG_PATH).parent_path());
  RunResult run = run_filter_binary({"7", "alice", "label", "1", "PrintMode=2"},
                                    write_raster({solid_page(8, 1, 255)}));
  ASSERT_EQ(run.status, 0);
  std::vector<std::string> log = log_messages(read_file(STROBANE_LOG_PATH));
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
  EXPECT_EQ(log, expected);

  run = run_filter_binary({"1", "2"}, "");
  log = log_messages(read_file(STROBANE_LOG_PATH));
  EXPECT_EQ(log, (std::vector<std::string>{"Enter main", "argv[0]:label", "argv[1]:1", "argv[2]:2",
                                           "Begin main", "Input param is not enough"}));
}
