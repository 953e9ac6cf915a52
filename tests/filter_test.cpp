// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "testkit.h"

using namespace testkit;

namespace {

const std::string kUsage = "ERROR: strobane job-id user title copies options [file]\n";

// The inverted image of a page of one gray value converted by a threshold mode.
std::string solid_image(int bytesPerLine, int rows, bool dark) {
  int bytesPerRow = (bytesPerLine + 7) / 8;
  std::string row(bytesPerRow, '\xFF');
  if (dark) {
    for (int x = 0; x < bytesPerLine; x++)
      row[x / 8] = static_cast<char>(row[x / 8] & ~(0x80 >> (x % 8)));
  }
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

TEST(FilterArguments, MissingOrUnreadableFilePrintsNothing) {
  TempDir dir;
  for (const std::string &path : {dir.file("missing.ras"), dir.path(), std::string("")}) {
    RunResult run = run_filter_binary({"1", "user", "title", "1", "", path},
                                      write_raster({solid_page(8, 1, 0)}));
    EXPECT_EQ(run.status, 0) << path;
    EXPECT_EQ(run.out, "") << path;
    EXPECT_EQ(run.err, "") << path;
  }
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

TEST(FilterPages, NoPageWritesNothing) {
  for (const std::string &input : {write_raster({}), std::string(""), std::string("garbage!")}) {
    RunResult run = run_job("", input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
  }
}

TEST(FilterPages, TwoPagesOfDifferentSizesAndCopies) {
  RunResult run = run_job("", write_raster({solid_page(16, 3, 0, 1), solid_page(1, 2, 255, 3)},
                                           /*compressed=*/true));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "PAGE: 1 1\nPAGE: 2 3\n");
  EXPECT_EQ(run.out, command_block({}, 2, 3, solid_image(16, 3, true), 1) +
                         command_block({}, 1, 2, "\xFF\xFF", 3));
}

TEST(FilterPages, PaddingColumnsGoOutLight) {
  struct Case {
    uint32_t width;
    int bytesPerRow;
  } cases[] = {{1, 1}, {7, 1}, {8, 1}, {9, 2}, {15, 2}, {17, 3}, {406, 51}};
  for (const Case &c : cases) {
    RunResult run = run_job("", write_raster({solid_page(c.width, 2, 0)}));
    EXPECT_EQ(run.out, command_block({}, c.bytesPerRow, 2, solid_image(c.width, 2, true), 1))
        << "width " << c.width;
  }
}

TEST(FilterPages, MediaTrackingChoosesTheGapLine) {
  std::string raster = write_raster({solid_page(8, 1, 255)});
  for (int tracking : {0, 1, 2, 3, -1, 7}) {
    RunResult run = run_job("MediaTracking=" + std::to_string(tracking), raster);
    BlockSettings settings;
    settings.mediaTracking = tracking;
    EXPECT_EQ(run.out, command_block(settings, 1, 1, "\xFF", 1)) << tracking;
  }
  RunResult none = run_job("MediaTracking=3", raster);
  EXPECT_NE(none.out.find("SIZE 60mm,40mm\r\nSPEED 4\r\n"), std::string::npos);
}

TEST(FilterPages, ThresholdModesAtTheirBoundaries) {
  struct Case {
    const char *options;
    uint8_t pixel;
    bool dark;
  } cases[] = {
      {"PrintMode=0", 128, true},
      {"PrintMode=0", 129, false},
      {"PrintMode=1", 160, true},
      {"PrintMode=1", 161, false},
      {"", 160, true},
      {"", 161, false},
      {"PrintMode=7", 160, true},
      {"PrintMode=-1", 161, false},
  };
  for (const Case &c : cases) {
    RunResult run = run_job(c.options, write_raster({solid_page(12, 3, c.pixel)}));
    EXPECT_EQ(run.out, command_block({}, 2, 3, solid_image(12, 3, c.dark), 1))
        << c.options << " pixel " << int(c.pixel);
  }
}

TEST(FilterPages, DitherModesKeepTheirLightDots) {
  // A black page of 16 x 16: mode 3 keeps x%8==1,y%8==1 light, mode 4 keeps x%16==0,y%16==0.
  RunResult clustered = run_job("PrintMode=3", write_raster({solid_page(16, 16, 0)}));
  std::string image = clustered.out.substr(clustered.out.find(",1,") + 3, 32);
  for (int y = 0; y < 16; y++)
    EXPECT_EQ(image.substr(y * 2, 2), y % 8 == 1 ? std::string("\x40\x40") : std::string(2, '\0'))
        << "row " << y;

  RunResult ordered = run_job("PrintMode=4", write_raster({solid_page(16, 16, 0)}));
  image = ordered.out.substr(ordered.out.find(",1,") + 3, 32);
  for (int y = 0; y < 16; y++)
    EXPECT_EQ(image.substr(y * 2, 2), y == 0 ? std::string("\x80\x00", 2) : std::string(2, '\0'))
        << "row " << y;
}

TEST(FilterPages, OnlyTheFirstPixelDarkSends0x7F) {
  RasterPage page = solid_page(16, 2, 255);
  page.pixels[0] = 0;
  RunResult run = run_job("", write_raster({page}));
  EXPECT_EQ(run.out, command_block({}, 2, 2, "\x7F\xFF\xFF\xFF", 1));
}

TEST(FilterPages, ShortPageIsPrintedWithWhiteRows) {
  RasterPage page = solid_page(8, 4, 0);
  page.pixels.resize(8);
  RunResult run = run_job("", write_raster({page}));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "PAGE: 1 1\n");
  EXPECT_EQ(run.out, command_block({}, 1, 4, std::string("\x00\xFF\xFF\xFF", 4), 1));
}

TEST(FilterPages, NegativePositionKeepsItsSign) {
  RunResult run = run_job("Horizontal=-12 Vertical=-300", write_raster({solid_page(8, 1, 255)}));
  BlockSettings settings;
  settings.horizontal = -12;
  settings.vertical = -300;
  EXPECT_EQ(run.out, command_block(settings, 1, 1, "\xFF", 1));
}

TEST(FilterPages, ZeroSizedHeaderEndsTheJob) {
  // libcups' reader refuses a zero-width header, so the pages behind it are never read.
  std::string raster =
      write_raster({solid_page(8, 1, 0), solid_page(0, 0, 0), solid_page(8, 1, 0)});
  RunResult run = run_job("", raster);
  EXPECT_EQ(run.err, "PAGE: 1 1\n");
  EXPECT_EQ(run.out, command_block({}, 1, 1, std::string(1, '\0'), 1));
}

TEST(FilterPages, PageBeyondThe32BitByteCountIsRefusedBeforeAllocation) {
  // A header that claims 65536 x 65536 pixels: 4 GiB of gray, never allocated.
  RasterPage huge;
  huge.width = 65536;
  huge.height = 65536;
  std::string raster = write_raster({solid_page(8, 1, 0), huge});
  RunResult run = run_job("", raster);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "PAGE: 1 1\nPAGE: 2 1\nERROR: Unable to allocate memory\n");
  EXPECT_EQ(run.out, command_block({}, 1, 1, std::string(1, '\0'), 1));
}
