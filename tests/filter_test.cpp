// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "testkit.h"

using namespace testkit;

namespace {

const std::string kUsage = "ERROR: strobane job-id user title copies options [file]\n";

// The inverted image of a black page: dark dots, then the light padding columns.
std::string black_image(int bytesPerLine, int rows) {
  int bytesPerRow = (bytesPerLine + 7) / 8;
  std::string row(bytesPerRow, '\xFF');
  for (int x = 0; x < bytesPerLine; x++)
    row[x / 8] = static_cast<char>(row[x / 8] & ~(0x80 >> (x % 8)));
  std::string image;
  for (int y = 0; y < rows; y++)
    image += row;
  return image;
}

} // namespace

TEST(FilterArguments, WrongCountPrintsUsageAndExitsOne) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"1"},
      {"1", "user", "title", "1"},
      {"1", "user", "title", "1", "", "file", "extra"},
      {"1", "user", "title", "1", "", "file", "extra", "more"},
  };
  std::string raster = write_raster({solid_page(8, 1, 0)});
  for (const auto &args : cases) {
    RunResult run = run_filter_binary(args, raster);
    EXPECT_EQ(run.status, 1) << args.size() << " arguments";
    EXPECT_EQ(run.err, kUsage);
    EXPECT_EQ(run.out, "");
  }
}

TEST(FilterArguments, SevenArgumentsReadTheNamedFile) {
  TempDir dir;
  write_file(dir.file("job.ras"), write_raster({solid_page(8, 1, 0, 2)}));
  RunResult run = run_filter_binary({"1", "user", "title", "1", "", dir.file("job.ras")}, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "PAGE: 1 2\n");
  EXPECT_EQ(run.out, command_block({}, 1, 1, std::string(1, '\0'), 2));
}

TEST(FilterArguments, JobIdAndCopiesAreNotUsedForPrinting) {
  RunResult run = run_filter_binary({"12abc", "user", "title", "99999999999999", "Darkness=9"},
                                    write_raster({solid_page(8, 1, 255, 4)}));
  EXPECT_EQ(run.status, 0);
  BlockSettings settings;
  settings.darkness = 9;
  EXPECT_EQ(run.out, command_block(settings, 1, 1, "\xFF", 4));
}

TEST(FilterPages, WorkedPageOfTenByTwoBlackPixels) {
  RunResult run = run_job("PrintMode=0", write_raster({solid_page(10, 2, 0)}));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "PAGE: 1 1\n");
  EXPECT_EQ(run.out, command_block({}, 2, 2, std::string("\x00\x3F\x00\x3F", 4), 1));
}

TEST(FilterPages, TwoPagesOfDifferentSizesAndCopies) {
  RunResult run = run_job("", write_raster({solid_page(16, 3, 0, 1), solid_page(1, 2, 255, 3)},
                                           /*compressed=*/true));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "PAGE: 1 1\nPAGE: 2 3\n");
  EXPECT_EQ(run.out, command_block({}, 2, 3, black_image(16, 3), 1) +
                         command_block({}, 1, 2, "\xFF\xFF", 3));
}

TEST(FilterPages, PaddingColumnsGoOutLight) {
  struct Case {
    uint32_t width;
    int bytesPerRow;
  } cases[] = {{1, 1}, {7, 1}, {8, 1}, {9, 2}, {15, 2}, {17, 3}, {406, 51}};
  for (const Case &c : cases) {
    RunResult run = run_job("", write_raster({solid_page(c.width, 2, 0)}));
    EXPECT_EQ(run.out, command_block({}, c.bytesPerRow, 2, black_image(c.width, 2), 1))
        << "width " << c.width;
  }
}

TEST(FilterPages, MediaTrackingChoosesTheGapLine) {
  std::string raster = write_raster({solid_page(8, 1, 255)});
  struct Case {
    int tracking;
    std::string gap;
  } cases[] = {
      {0, "GAP 0.000,0.000\r\n"},
      {1, "GAP 0.120,0.000\r\n"},
      {2, "GAP 0.120,0.000\r\n"},
      {3, ""},
      {-1, ""},
      {7, ""},
  };
  for (const Case &c : cases) {
    RunResult run = run_job("MediaTracking=" + std::to_string(c.tracking), raster);
    BlockSettings settings;
    settings.gap = c.gap;
    EXPECT_EQ(run.out, command_block(settings, 1, 1, "\xFF", 1)) << c.tracking;
  }
}

TEST(FilterPages, OnlyTheFirstPixelDarkSends0x7F) {
  RasterPage page = solid_page(16, 2, 255);
  page.pixels[0] = 0;
  RunResult run = run_job("", write_raster({page}));
  EXPECT_EQ(run.out, command_block({}, 2, 2, "\x7F\xFF\xFF\xFF", 1));
}

TEST(FilterPages, NegativePositionKeepsItsSign) {
  RunResult run = run_job("Horizontal=-12 Vertical=-300", write_raster({solid_page(8, 1, 255)}));
  BlockSettings settings;
  settings.horizontal = -12;
  settings.vertical = -300;
  EXPECT_EQ(run.out, command_block(settings, 1, 1, "\xFF", 1));
}
