// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <png.h>
#include <random>
#include <sstream>
#include <sys/wait.h>

#include "render/gray2bytes.h"
#include "testkit.h"
#include "view/label_picture.h"
#include "view/label_stream.h"

namespace {

// A page of random gray pixels.
testkit::RasterPage random_page(uint32_t width, uint32_t height, uint32_t copies, unsigned seed) {
  std::mt19937 random(seed);
  testkit::RasterPage page = testkit::solid_page(width, height, 0, copies);
  for (uint8_t &p : page.pixels)
    p = static_cast<uint8_t>(random());
  return page;
}

// The image the filter should send for a page, as the stream holds it (dark = 0 bit):
// thresholds written out here, dither modes by the literal reference conversion.
std::vector<uint8_t> expected_image(const testkit::RasterPage &page, int mode) {
  uint32_t bytesPerRow = (page.width + 7) / 8;
  std::vector<uint8_t> gray(size_t{bytesPerRow} * 8 * page.height, 255);
  for (uint32_t y = 0; y < page.height; y++)
    std::copy_n(&page.pixels[size_t{y} * page.width], page.width,
                &gray[size_t{y} * bytesPerRow * 8]);
  std::vector<uint8_t> bits(size_t{bytesPerRow} * page.height, 0);
  if (mode >= 2 && mode <= 4) {
    Gray2BytesLiteral(gray.data(), bits.data(), static_cast<int>(bytesPerRow),
                      static_cast<int>(page.height), mode);
  } else {
    for (size_t i = 0; i < gray.size(); i++)
      if (gray[i] < (mode == 0 ? 129 : 161))
        bits[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  }
  for (uint8_t &byte : bits)
    byte = static_cast<uint8_t>(~byte);
  return bits;
}

// The outcome of one run of the viewer binary.
struct ViewRun {
  int status;
  std::string out;
  std::string err;
};

// Run the built viewer with the stream on standard input, in dir.
ViewRun run_view(const testkit::TempDir &dir, const std::string &args, const std::string &stream) {
  testkit::write_file(dir.file("stream"), stream);
  std::string command = "cd '" + dir.path() + "' && '" STROBANE_VIEW_BIN "' " + args +
                        " < stream > view.out 2> view.err";
  int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testkit::read_file(dir.file("view.out")),
          testkit::read_file(dir.file("view.err"))};
}

// A PNG read back through libpng as 8-bit gray, one byte a dot.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> gray;
};

Picture read_png(const std::string &path) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  Picture picture;
  if (!png_image_begin_read_from_file(&image, path.c_str()))
    return picture;
  image.format = PNG_FORMAT_GRAY;
  picture.gray.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, picture.gray.data(), 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  picture.width = image.width;
  picture.height = image.height;
  return picture;
}

bool source_dark(const std::vector<uint8_t> &image, uint32_t bytesPerRow, int64_t x, int64_t y) {
  return !(image[y * bytesPerRow + x / 8] & (0x80 >> (x % 8)));
}

// A short, well-formed stream of two small labels straight from the filter.
std::string two_label_stream() {
  testkit::RasterPage first = random_page(13, 3, 2, 1), second = random_page(16, 2, 1, 2);
  return testkit::run_job("PrintMode=0", testkit::write_raster({first, second})).out;
}

} // namespace

// Every mode: pages through the real filter, decoded by the parser, equal the conversion rule.
TEST(ViewRoundTrip, DecodedImageEqualsTheConversionRuleInEveryMode) {
  const std::vector<testkit::RasterPage> pages = {
      random_page(37, 11, 1, 7), random_page(64, 9, 3, 8), random_page(101, 17, 2, 9),
      random_page(8, 1, 5, 10)};
  for (int mode : {0, 1, 2, 3, 4, 5, -1}) {
    testkit::RunResult job = testkit::run_job(
        "PageSize=Custom.30x20mm PrintMode=" + std::to_string(mode), testkit::write_raster(pages));
    parsed_stream_t parsed = parse_label_stream(job.out);
    ASSERT_FALSE(parsed.error) << "mode " << mode << ": " << parsed.error->message;
    ASSERT_EQ(parsed.labels.size(), pages.size());
    for (size_t i = 0; i < pages.size(); i++) {
      const parsed_block_t &label = parsed.labels[i];
      SCOPED_TRACE("mode " + std::to_string(mode) + " page " + std::to_string(i));
      EXPECT_EQ(label.widthMm, 30);
      EXPECT_EQ(label.heightMm, 20);
      EXPECT_EQ(label.bytesPerRow, (pages[i].width + 7) / 8);
      EXPECT_EQ(label.rows, pages[i].height);
      EXPECT_EQ(label.copies, static_cast<int32_t>(pages[i].copies));
      EXPECT_EQ(label.image, expected_image(pages[i], mode));
    }
  }
}

// The binary's pictures: white paper with the bitmap at its position, clipped at the edges.
// Dark dots cut off by an edge are a warning; a white margin past it shows only in the
// summary (here the bitmap's 5 padding columns, which are white).
TEST(ViewRoundTrip, PicturesPlaceTheBitmapOnThePaperAndClipIt) {
  struct Case {
    int horizontal, vertical;
    std::string warning, overhang;
  } cases[] = {
      {0, 0, "", ""},
      {16, 8, "", ""},
      {221, 0, "", ", overhang 5 dots on the right"},
      {-3, 5, "27 dark dots fall outside the label on the left", ", overhang 3 dots on the left"},
      {-16, -7, "152 dark dots fall outside the label: 139 on the left, 13 at the top",
       ", overhang 16 dots on the left, 7 dots at the top"},
      {237, 150, "142 dark dots fall outside the label: 135 on the right, 7 at the bottom",
       ", overhang 21 dots on the right, 4 dots at the bottom"},
  };
  const testkit::RasterPage page = random_page(19, 14, 1, 11);
  const std::vector<uint8_t> image = expected_image(page, 1);
  for (const Case &c : cases) {
    SCOPED_TRACE("at " + std::to_string(c.horizontal) + "," + std::to_string(c.vertical));
    testkit::TempDir dir;
    std::string stream = testkit::run_job("PageSize=Custom.30x20mm PrintMode=1 Horizontal=" +
                                              std::to_string(c.horizontal) +
                                              " Vertical=" + std::to_string(c.vertical),
                                          testkit::write_raster({page}))
                             .out;
    ViewRun run = run_view(dir, "-o pic", stream);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err,
              c.warning.empty() ? "" : "strobane-view: label 1: warning: " + c.warning + "\n");
    EXPECT_TRUE(run.out.ends_with(" dots, copies 1" + c.overhang + "\n")) << run.out;

    Picture picture = read_png(dir.file("pic-1.png"));
    ASSERT_EQ(picture.width, 240u);
    ASSERT_EQ(picture.height, 160u);
    for (int64_t y = 0; y < picture.height; y++)
      for (int64_t x = 0; x < picture.width; x++) {
        int64_t bx = x - c.horizontal, by = y - c.vertical;
        bool dark = bx >= 0 && bx < 24 && by >= 0 && by < 14 && source_dark(image, 3, bx, by);
        ASSERT_EQ(picture.gray[y * picture.width + x], dark ? 0 : 255) << x << "," << y;
      }
  }
}

TEST(ViewSummary, DescribesEachLabelOnOneLine) {
  testkit::TempDir dir;
  std::string stream =
      testkit::run_job("PrintMode=0", testkit::write_raster({testkit::solid_page(20, 10, 0, 3),
                                                             testkit::solid_page(9, 2, 255, 1)}))
          .out;
  ViewRun run = run_view(dir, "--check", stream);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "label 1: 60x40 mm (480x320 dots), gap 0.000,0.000, speed 4, density 7, "
                     "bitmap 24x10 dots at 0,0, dark 200 dots, copies 3\n"
                     "label 2: 60x40 mm (480x320 dots), gap 0.000,0.000, speed 4, density 7, "
                     "bitmap 16x2 dots at 0,0, dark 0 dots, copies 1\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("label-1.png")));

  run = run_view(dir, "--dpi 304.8", stream);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("60x40 mm (720x480 dots)"), std::string::npos) << run.out;
  EXPECT_EQ(read_png(dir.file("label-2.png")).width, 720u);
}

TEST(ViewSummary, GapIsNoneWithoutAGapLine) {
  std::string stream =
      testkit::run_job("MediaTracking=3", testkit::write_raster({testkit::solid_page(8, 1, 0)}))
          .out;
  parsed_stream_t parsed = parse_label_stream(stream);
  ASSERT_EQ(parsed.labels.size(), 1u);
  EXPECT_FALSE(parsed.labels[0].gap);
  EXPECT_NE(summary_line(1, parsed.labels[0], measure_label(parsed.labels[0], kDefaultMilliDpi))
                .find(", gap none, "),
            std::string::npos);
}

TEST(ViewSummary, MillimetresBecomeDotsRoundedToNearest) {
  struct Case {
    int64_t mm, milliDpi, dots;
  } cases[] = {
      {102, 203200, 816}, {152, 203200, 1216}, {102, 203000, 815}, {60, 300000, 709},
      {-3, 203200, -24},  {1, 12700, 1},       {-1, 12700, -1},    {0, 203200, 0},
      {51, 304800, 612},  {25, 304800, 300},   {25, 300000, 295},  {51, 203200, 408},
  };
  for (const Case &c : cases)
    EXPECT_EQ(mm_to_dots(c.mm, c.milliDpi), c.dots) << c.mm << " mm at " << c.milliDpi;
}

TEST(ViewSummary, LostDotsAreCountedBySide) {
  struct Case {
    lost_dots_t lost;
    std::string text;
  } cases[] = {
      {{0, 0, 0, 0}, ""},
      {{0, 0, 0, 1}, "1 dark dot falls outside the label at the bottom"},
      {{0, 4, 0, 0}, "4 dark dots fall outside the label at the top"},
      {{2, 0, 7, 3},
       "12 dark dots fall outside the label: 2 on the left, 7 on the right, 3 at the "
       "bottom"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(lost_dots_text(c.lost), c.text);
}

// A good stream cut anywhere is malformed, except at the end of a label.
TEST(ViewMalformed, EveryCutIsReportedAndKeepsTheLabelsBeforeIt) {
  std::string good = two_label_stream();
  size_t firstEnd = good.find("SIZE ", 1);
  ASSERT_NE(firstEnd, std::string::npos);
  for (size_t cut = 0; cut < good.size(); cut++) {
    parsed_stream_t parsed = parse_label_stream(good.substr(0, cut));
    bool boundary = cut == 0 || cut == firstEnd;
    ASSERT_EQ(!parsed.error, boundary) << "cut at " << cut;
    if (parsed.error) {
      EXPECT_LE(parsed.error->offset, cut) << parsed.error->message;
      EXPECT_NE(parsed.error->message.find("the end of the stream"), std::string::npos)
          << parsed.error->message;
      size_t printed = 0;
      for (const parsed_block_t &label : parsed.labels)
        printed += label.copies.has_value();
      EXPECT_EQ(printed, cut < firstEnd ? 0u : 1u) << "cut at " << cut;
    }
  }
}

TEST(ViewMalformed, DamagedStreamsNameTheOffsetAndWhatWasExpected) {
  const std::string good = two_label_stream();
  const size_t second = good.find("SIZE ", 1);
  const size_t dataEnd = good.find("\r\nPRINT");
  struct Case {
    std::string find, replace;
    std::string message;
    size_t labels;
  } cases[] = {
      {"SPEED 4", "SPEED x", "expected a number (SPEED) but found \"x\\r\\n\"", 0},
      {"DENSITY 7", "DENSITY 99999999999", "number out of range \"99999999999\" (DENSITY)", 0},
      {"REFERENCE 0,0", "REFERENCE 00,0", "malformed number \"00\" (REFERENCE x)", 0},
      {"SPEED 4", "SPEEX 4", "expected \"SPEED \" but found \"SPEEX 4\\r\\n\"", 0},
      {"GAP 0.000", "GAX 0.000", "expected \"GAP \" or \"SPEED \" but found \"GAX 0.000,", 0},
      {"GAP 0.000,0.000", "GAP 0.0,0.000", "three decimals (GAP distance)", 0},
      {"CLS\r\n", "CLS\r\nFEED 10\r\n", "expected \"BITMAP \" but found \"FEED 10\\r\\n\"", 0},
      {"SET TEAR ON", "SET TEAR OFF", "expected the SET lines of tear-off, peel-off or cutter mode",
       0},
      {"mm,40mm\r\n", "mm,40mm\n", "expected \"mm\\r\\n\" to end the SIZE line", 0},
      {",2,3,1,", ",2,3,8,", "expected \",1,\" after the BITMAP rows", 0},
      {",2,3,1,", ",200000,200000,1,", "larger than the filter writes", 0},
      {",2,3,1,", ",2,4,1,", "expected \"\\r\\n\" after the BITMAP data", 0},
      {"PRINT 1,2", "PRINT 2,2", "block without PRINT: expected \"PRINT 1,\"", 1},
      {"PRINT 1,2\r\n", "", "block without PRINT", 1},
  };
  for (const Case &c : cases) {
    std::string damaged = good;
    size_t at = damaged.find(c.find);
    ASSERT_NE(at, std::string::npos) << c.find;
    damaged.replace(at, c.find.size(), c.replace);
    parsed_stream_t parsed = parse_label_stream(damaged);
    ASSERT_TRUE(parsed.error) << c.message;
    EXPECT_NE(parsed.error->message.find(c.message), std::string::npos) << parsed.error->message;
    EXPECT_EQ(parsed.labels.size(), c.labels) << c.message;
  }

  parsed_stream_t trailing = parse_label_stream(good + "\r\n");
  ASSERT_TRUE(trailing.error);
  EXPECT_EQ(trailing.error->offset, good.size());
  EXPECT_NE(trailing.error->message.find("or the end of the stream"), std::string::npos);
  EXPECT_EQ(trailing.labels.size(), 2u);

  std::string unknown = good;
  unknown.insert(second, "HOME\r\n");
  EXPECT_NE(parse_label_stream(unknown).error->message.find("expected \"SIZE \" to begin a label"),
            std::string::npos);

  parsed_stream_t shortData = parse_label_stream(good.substr(0, dataEnd - 2));
  ASSERT_TRUE(shortData.error);
  EXPECT_NE(shortData.error->message.find("expected 2 more bytes of BITMAP data (6 from byte"),
            std::string::npos)
      << shortData.error->message;
}

// Beyond the filter's largest page a BITMAP is refused at its header; below it the
// data is taken only as it arrives.
TEST(ViewMalformed, HugeBitmapsAreRefusedOrReportedShort) {
  const std::string setup = testkit::setup_lines({});
  parsed_stream_t beyond =
      parse_label_stream(setup + "BITMAP 0,0,65536,65535,1," + std::string(1000, '\xff'));
  ASSERT_TRUE(beyond.error);
  EXPECT_EQ(beyond.error->offset, setup.size());
  EXPECT_NE(
      beyond.error->message.find("BITMAP of 4294901760 bytes is larger than the filter writes"),
      std::string::npos)
      << beyond.error->message;

  parsed_stream_t shortData =
      parse_label_stream(setup + "BITMAP 0,0,16384,16383,1," + std::string(1000, '\xff'));
  ASSERT_TRUE(shortData.error);
  EXPECT_NE(shortData.error->message.find("expected 268418072 more bytes"), std::string::npos)
      << shortData.error->message;
}

// The binary reports the fault, exits 1 and still draws the labels that were complete.
TEST(ViewMalformed, BinaryExitsOneAndKeepsCompleteLabels) {
  const std::string good = two_label_stream();
  const std::string cancelled = good.substr(0, good.rfind("PRINT"));
  testkit::TempDir dir;
  ViewRun run = run_view(dir, "", cancelled);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("strobane-view: byte " + std::to_string(cancelled.size()) +
                         ": block without PRINT"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1);
  EXPECT_EQ(read_png(dir.file("label-1.png")).width, 480u);
  EXPECT_EQ(read_png(dir.file("label-2.png")).width, 480u);

  run = run_view(dir, "--check", good + "x");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("byte " + std::to_string(good.size())), std::string::npos) << run.err;
}

// Each stream holds the text given, or is empty when the case expects nothing there.
TEST(ViewCommandLine, UsageErrorsExitTwoAndHelpExitsZero) {
  testkit::TempDir dir;
  struct Case {
    std::string args;
    int status;
    std::string out, err;
  } cases[] = {
      {"--help", 0, "usage: strobane-view [--check] [--dpi N] [-o PREFIX] [FILE]", ""},
      {"--dpi", 2, "", "--dpi needs a value"},
      {"--dpi 0", 2, "", "--dpi needs a number from 1 to 2400, not \"0\""},
      {"--dpi 0.999", 2, "", "--dpi needs a number"},
      {"--dpi 2400.001", 2, "", "--dpi needs a number"},
      {"--dpi 8x", 2, "", "--dpi needs a number"},
      {"--dpi 1", 0, "", ""},
      {"--dpi 2400", 0, "", ""},
      {"--bogus", 2, "", "unexpected argument \"--bogus\""},
      {"a b", 2, "", "unexpected argument \"b\""},
      {"missing.prn", 2, "", "cannot open missing.prn: No such file or directory"},
      {".", 2, "", "cannot open .: Is a directory"},
      {"-", 0, "", ""},
  };
  for (const Case &c : cases) {
    ViewRun run = run_view(dir, c.args, "");
    EXPECT_EQ(run.status, c.status) << c.args;
    if (c.out.empty())
      EXPECT_EQ(run.out, "") << c.args;
    else
      EXPECT_NE(run.out.find(c.out), std::string::npos) << c.args << ": " << run.out;
    if (c.err.empty())
      EXPECT_EQ(run.err, "") << c.args;
    else
      EXPECT_NE(run.err.find(c.err), std::string::npos) << c.args << ": " << run.err;
  }
}

// Pictures are tagged with the resolution, in dots per metre as PNG keeps it.
TEST(ViewPictures, CarryTheirResolution) {
  std::string stream = two_label_stream();
  for (auto [dpi, dotsPerMetre] : {std::pair{"", 8000u}, std::pair{"--dpi 304.8", 12000u}}) {
    testkit::TempDir dir;
    ASSERT_EQ(run_view(dir, dpi, stream).status, 0) << dpi;
    std::string png = testkit::read_file(dir.file("label-1.png"));
    size_t chunk = png.find("pHYs");
    ASSERT_NE(chunk, std::string::npos) << dpi;
    auto word = [&](size_t at) {
      uint32_t value = 0;
      for (size_t i = 0; i < 4; i++)
        value = value << 8 | static_cast<uint8_t>(png[at + i]);
      return value;
    };
    EXPECT_EQ(word(chunk + 4), dotsPerMetre) << dpi;
    EXPECT_EQ(word(chunk + 8), dotsPerMetre) << dpi;
    EXPECT_EQ(png[chunk + 12], 1) << "unit: the metre";
  }
}

// A label that cannot be drawn is still summarised; the run then exits 1, except with --check.
TEST(ViewPictures, PaperOutsideTheLimitsOrAnUnwritablePictureExitsOne) {
  auto stream = [](int widthMm) {
    testkit::BlockSettings settings;
    settings.pageWidth = widthMm;
    return testkit::command_block(settings, 1, 1, "\xFF", 1);
  };
  struct Case {
    std::string args, stream;
    int status;
    std::string err;
  } cases[] = {
      {"", stream(0), 1, "label 1: no picture: a paper of 0x320 dots cannot be drawn"},
      {"", stream(4097), 1, "label 1: no picture: a paper of 32776x320 dots cannot be drawn"},
      {"", stream(4096), 0, ""},
      {"--check", stream(0), 0, ""},
      {"-o missing/pic", stream(60), 1, "strobane-view: missing/pic-1.png: "},
  };
  for (const Case &c : cases) {
    testkit::TempDir dir;
    ViewRun run = run_view(dir, c.args, c.stream);
    EXPECT_EQ(run.status, c.status) << c.args << " " << c.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    if (c.err.empty())
      EXPECT_EQ(run.err, "");
    else
      EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
}

// A bitmap that starts on a whole byte of the paper keeps the dots of the byte that the
// paper's edge cuts: a 1 mm paper at 12 dots/mm is 12 dots, so the edge falls after the
// first 4 dots of the second byte. The bitmap's dots past the edge are white, so the row
// reads the same whether the picture copies or clears them.
TEST(ViewPictures, ARowCutInsideAByteByThePapersEdgeKeepsTheDotsOnThePaper) {
  struct Case {
    int32_t x;
    std::vector<uint8_t> bitmapRow, pictureRow;
  } cases[] = {
      {0, {0x5A, 0x3F}, {0x5A, 0x3F}},
      {8, {0x9F}, {0xFF, 0x9F}},
  };
  for (const Case &c : cases) {
    parsed_block_t block;
    block.widthMm = 1;
    block.heightMm = 1;
    block.x = c.x;
    block.bytesPerRow = static_cast<uint32_t>(c.bitmapRow.size());
    block.rows = 1;
    block.image = c.bitmapRow;
    const label_geometry_t geometry = measure_label(block, 304800);
    ASSERT_EQ(geometry.paperWidth, 12);
    std::vector<uint8_t> row(2);
    draw_paper_row(block, geometry, 0, row.data());
    EXPECT_EQ(row, c.pictureRow) << "bitmap at " << c.x;
  }
}

// A source that gives one byte at a time and counts how many it has given.
struct TrickleSource {
  std::string bytes;
  size_t given = 0;
  stream_source_t source() {
    return [this](char *data, size_t size) -> size_t {
      if (given == bytes.size() || size == 0)
        return 0;
      *data = bytes[given++];
      return 1;
    };
  }
};

// A printer hands each command and label on before it reads a byte past it, so that a
// sender waiting for the status byte is answered; a block may take any label mode.
TEST(ViewStreaming, APrinterActsOnEachCommandBeforeReadingFurther) {
  const std::string good = two_label_stream();
  const size_t second = good.find("SIZE ", 1);
  std::string modes = good.substr(second);
  for (auto [from, to] : {std::pair{"OFFSET 0.000", "OFFSET -0.050"},
                          {"PEEL OFF", "PEEL ON"},
                          {"CUTTER OFF", "CUTTER 1"},
                          {"TEAR ON", "TEAR OFF"}})
    modes.replace(modes.find(from), strlen(from), to);
  TrickleSource trickle{good.substr(0, second) + "\x1b!?" + "SOUND 5,200\r\n" + "HOME\n" + modes};
  std::vector<std::string> events;
  stream_reader_t reader{
      [&](const parsed_block_t &block) {
        events.push_back(std::to_string(trickle.given) + " label " + block.tearOffset + " " +
                         block.peel + " " + block.cutter + " " + block.partialCutter + " " +
                         block.tear);
      },
      [&](const stream_command_t &command) {
        events.push_back(std::to_string(trickle.given) + (command.immediate ? " ESC ! " : " ") +
                         command.text + " at " + std::to_string(command.offset));
      }};
  ASSERT_FALSE(read_label_stream(trickle.source(), reader));
  const std::string s = std::to_string(second);
  EXPECT_EQ(events,
            (std::vector<std::string>{
                s + " label 0.000 OFF OFF OFF ON", std::to_string(second + 3) + " ESC ! ? at " + s,
                std::to_string(second + 16) + " SOUND 5,200 at " + std::to_string(second + 3),
                std::to_string(second + 21) + " HOME at " + std::to_string(second + 16),
                std::to_string(trickle.bytes.size()) + " label -0.050 ON 1 OFF OFF"}));
}

// What a printer refuses inside a block and between blocks.
TEST(ViewStreaming, APrinterReportsDeparturesWithTheirOffset) {
  const std::string good = two_label_stream();
  struct Case {
    std::string find, replace, message;
  } cases[] = {
      {"SET PEEL OFF", "SET PEEL MAYBE",
       "expected \"ON\" or \"OFF\" after \"SET PEEL\" but found \"MAYBE\\r\\n\""},
      {"OFFSET 0.000", "OFFSET 0.1", "expected a number with three decimals (OFFSET)"},
      {"PRINT 1,1\r\n", "PRINT 1,1\r\n\x1b!", "expected the byte of an ESC ! command"},
      {"PRINT 1,1\r\n", "PRINT 1,1\r\n" + std::string(5000, 'x'),
       "a command line longer than 4096 bytes"},
      {"PRINT 1,1\r\n", "PRINT 1,1\r\nHOME", "expected a command line ending in \"\\r\\n\""},
  };
  for (const Case &c : cases) {
    std::string damaged = good;
    size_t at = damaged.find(c.find);
    damaged.replace(at, c.find.size(), c.replace);
    std::istringstream in(damaged);
    stream_source_t source = [&](char *data, size_t size) {
      in.read(data, static_cast<std::streamsize>(size));
      return static_cast<size_t>(in.gcount());
    };
    std::optional<stream_error_t> error =
        read_label_stream(source, {[](const parsed_block_t &) {}, [](const stream_command_t &) {}});
    ASSERT_TRUE(error) << c.replace;
    EXPECT_NE(error->message.find(c.message), std::string::npos) << error->message;
    EXPECT_GE(error->offset, at) << c.replace;
  }
}
