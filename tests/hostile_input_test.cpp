// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "filter_process.h"
#include "testkit.h"

using namespace testkit;
using namespace std::chrono_literals;

namespace {

// The header libcups reads back from a white page of testkit's writer.
cups_page_header2_t plain_header(uint32_t width, uint32_t height) {
  TempDir dir;
  write_file(dir.file("page.ras"), write_raster({solid_page(width, height, 255)}));
  int fd = open(dir.file("page.ras").c_str(), O_RDONLY);
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  EXPECT_TRUE(cupsRasterReadHeader2(raster, &header));
  cupsRasterClose(raster);
  close(fd);
  return header;
}

// One page of a crafted stream: the header as libcups' writer writes it, then raw pixel bytes.
struct CraftedPage {
  cups_page_header2_t header;
  std::string pixels;
};

// Write the pages into one stream.
std::string crafted_stream(const std::vector<CraftedPage> &pages) {
  TempDir dir;
  int fd = open(dir.file("job.ras").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  for (const CraftedPage &page : pages) {
    cups_page_header2_t header = page.header;
    cupsRasterWriteHeader2(raster, &header);
    if (!page.pixels.empty())
      cupsRasterWritePixels(
          raster, reinterpret_cast<unsigned char *>(const_cast<char *>(page.pixels.data())),
          static_cast<unsigned>(page.pixels.size()));
  }
  cupsRasterClose(raster);
  close(fd);
  return read_file(dir.file("job.ras"));
}

// A white page of the given size with one header change.
CraftedPage white_page(uint32_t width, uint32_t height,
                       const std::function<void(cups_page_header2_t &)> &change = {}) {
  CraftedPage page{plain_header(width, height), std::string(size_t{width} * height, '\xff')};
  if (change)
    change(page.header);
  return page;
}

// A page whose header claims the given size but carries no pixels.
CraftedPage claimed_page(uint32_t width, uint32_t bytesPerLine, uint32_t height) {
  CraftedPage page{plain_header(8, 1), ""};
  page.header.cupsWidth = width;
  page.header.cupsBytesPerLine = bytesPerLine;
  page.header.cupsHeight = height;
  return page;
}

// A stream with one 32-bit header field overwritten in place, past libcups' writer.
std::string patched(std::string stream, size_t fieldOffset, uint32_t value) {
  memcpy(&stream[4 + fieldOffset], &value, sizeof value);
  return stream;
}

// Pseudo-random bytes, the same on every run; without NUL when nulFree.
std::string random_bytes(size_t count, bool nulFree) {
  std::mt19937 generator(20240611);
  std::uniform_int_distribution<int> byte(nulFree ? 1 : 0, 255);
  std::string bytes(count, '\0');
  for (char &c : bytes)
    c = static_cast<char>(byte(generator));
  return bytes;
}

// The block of a page of white 1-bit rows under the built-in settings.
std::string white_block(int bytesPerRow, int rows, int copies = 1,
                        const BlockSettings &settings = {}) {
  return command_block(settings, bytesPerRow, rows,
                       std::string(static_cast<size_t>(bytesPerRow) * rows, '\xff'), copies);
}

const char kNoMemory[] = "ERROR: Unable to allocate memory\n";
const char kNotRaster[] = "ERROR: Unable to read raster data\n";

} // namespace

// A raster stream, and the output, messages and exit status the filter gives for it.
struct RasterCase {
  const char *name;
  std::function<std::string()> stream;
  std::string out;
  std::string err;
  int status = 0;
};

// Show the case by its name in test listings and failures.
void PrintTo(const RasterCase &c, std::ostream *os) {
  *os << c.name;
}

class HostileRaster : public testing::TestWithParam<RasterCase> {};

TEST_P(HostileRaster, GetsItsBehaviourWithoutCrashing) {
  const RasterCase &c = GetParam();
  RunResult run = run_job("", c.stream());
  EXPECT_EQ(run.status, c.status);
  EXPECT_TRUE(same_stream(run.out, c.out));
  EXPECT_EQ(run.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, HostileRaster,
    testing::Values(
        RasterCase{"Empty", [] { return std::string(); }, "", kNotRaster, 1},
        RasterCase{"SyncWordOnly", [] { return write_raster({}).substr(0, 4); }, "", ""},
        RasterCase{"NotARasterStream", [] { return std::string("%!PS-Adobe-3.0\nshowpage\n"); }, "",
                   kNotRaster, 1},
        RasterCase{"RandomBytes", [] { return random_bytes(1 << 16, false); }, "", kNotRaster, 1},
        RasterCase{"SyncWordThenRandomBytes",
                   [] { return write_raster({}).substr(0, 4) + random_bytes(1 << 16, false); }, "",
                   ""},
        RasterCase{"ZeroHeight", [] { return crafted_stream({claimed_page(8, 8, 0)}); }, "", ""},
        RasterCase{"ZeroWidth", [] { return crafted_stream({claimed_page(0, 0, 4)}); }, "", ""},
        RasterCase{"BytesPerLineNotWholePixels",
                   [] {
                     return patched(write_raster({solid_page(16, 2, 255)}),
                                    offsetof(cups_page_header2_t, cupsBitsPerPixel), 24);
                   },
                   "", ""},
        RasterCase{"BitsPerColorBeyondSixteen",
                   [] {
                     return patched(write_raster({solid_page(16, 2, 255)}),
                                    offsetof(cups_page_header2_t, cupsBitsPerColor), 32);
                   },
                   "", ""},
        // The lines are read by cupsBytesPerLine: 17 bytes, so the second line comes up short.
        RasterCase{"BytesPerLineDisagreesWithWidth",
                   [] {
                     return patched(write_raster({solid_page(16, 2, 255)}),
                                    offsetof(cups_page_header2_t, cupsBytesPerLine), 17);
                   },
                   white_block(3, 2), "PAGE: 1 1\n"},
        RasterCase{"BitsPerPixelDisagreesWithWidth",
                   [] {
                     return patched(write_raster({solid_page(16, 2, 255)}),
                                    offsetof(cups_page_header2_t, cupsBitsPerPixel), 16);
                   },
                   white_block(2, 2), "PAGE: 1 1\n"},
        RasterCase{"PixelsEndAfterTheFirstRow",
                   [] {
                     RasterPage page = solid_page(8, 4, 0);
                     page.pixels.resize(8);
                     return write_raster({page});
                   },
                   command_block({}, 1, 4, std::string("\x00\xFF\xFF\xFF", 4), 1), "PAGE: 1 1\n"},
        // The line cut short keeps the dark pixels it was given.
        RasterCase{"PixelsEndInTheSecondRow",
                   [] {
                     return write_raster({solid_page(64, 64, 0)})
                         .substr(0, 4 + sizeof(cups_page_header2_t) + 64 + 20);
                   },
                   command_block({}, 8, 64,
                                 std::string(8, '\x00') + std::string("\x00\x00\x0F", 3) +
                                     std::string(5 + 62 * 8, '\xFF'),
                                 1),
                   "PAGE: 1 1\n"},
        RasterCase{"HeaderWithoutPixels", [] { return crafted_stream({claimed_page(16, 16, 2)}); },
                   white_block(2, 2), "PAGE: 1 1\n"},
        RasterCase{
            "HugeWidthAndHeight",
            [] { return crafted_stream({claimed_page(0x1fffffff, 0x1fffffff, 0xffffffff)}); }, "",
            std::string("PAGE: 1 1\n") + kNoMemory, 1},
        RasterCase{"GrayPageOneByteOverTheSigned32BitBound",
                   [] { return crafted_stream({claimed_page(65536, 65536, 32768)}); }, "",
                   std::string("PAGE: 1 1\n") + kNoMemory, 1},
        RasterCase{"TallNarrowPageOverTheSigned32BitBound",
                   [] { return crafted_stream({claimed_page(8, 8, 0x10000000)}); }, "",
                   std::string("PAGE: 1 1\n") + kNoMemory, 1},
        RasterCase{"HugePageAfterAGoodOne",
                   [] {
                     return crafted_stream({white_page(8, 1),
                                            claimed_page(0x1fffffff, 0x1fffffff, 0xffffffff),
                                            white_page(8, 1)});
                   },
                   white_block(1, 1), std::string("PAGE: 1 1\nPAGE: 2 1\n") + kNoMemory, 1},
        // The pages behind a header that libcups refuses are never read.
        RasterCase{
            "ZeroHeightAfterAGoodPage",
            [] {
              return crafted_stream({white_page(8, 1), claimed_page(8, 8, 0), white_page(8, 1)});
            },
            white_block(1, 1), "PAGE: 1 1\n"},
        RasterCase{"LargestCopyCount",
                   [] {
                     return crafted_stream({white_page(
                         8, 1, [](cups_page_header2_t &h) { h.NumCopies = 0xffffffff; })});
                   },
                   white_block(1, 1, -1), "PAGE: 1 -1\n"},
        // Eight 1-bit pixels a byte would be 64 dots a row; read as gray bytes (dark below 161)
        // they are 8: 0x00 0xFF 0xA0 0xA1 0x01 0xFE 0x7F 0x80 gives dark 10101011.
        RasterCase{"OneBitPixelsReadAsGrayBytes",
                   [] {
                     CraftedPage page = white_page(8, 2, [](cups_page_header2_t &h) {
                       h.cupsWidth = 64;
                       h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
                     });
                     page.pixels = std::string("\x00\xFF\xA0\xA1\x01\xFE\x7F\x80", 8) +
                                   std::string("\xFF\xFF\xFF\xFF\x00\x00\x00\x00", 8);
                     return crafted_stream({page});
                   },
                   command_block({}, 1, 2, "\x54\xF0", 1), "PAGE: 1 1\n"},
        // Four RGB pixels (black, white, red, green) read as twelve gray bytes.
        RasterCase{"RgbPixelsReadAsGrayBytes",
                   [] {
                     CraftedPage page = white_page(12, 1, [](cups_page_header2_t &h) {
                       h.cupsWidth = 4;
                       h.cupsBitsPerPixel = 24;
                       h.cupsColorSpace = CUPS_CSPACE_RGB;
                       h.cupsNumColors = 3;
                     });
                     page.pixels =
                         std::string("\x00\x00\x00\xFF\xFF\xFF\xFF\x00\x00\x00\xFF\x00", 12);
                     return crafted_stream({page});
                   },
                   command_block({}, 2, 1, "\x1E\x2F", 1), "PAGE: 1 1\n"}),
    testing::PrintToStringParamName());

// A field of the page header: its name and where it starts.
struct HeaderField {
  const char *name;
  size_t offset;
  size_t size;
};

#define HEADER_FIELD(field)                                                                        \
  HeaderField {                                                                                    \
#field, offsetof(cups_page_header2_t, field), sizeof(cups_page_header2_t::field)               \
  }

const HeaderField kHeaderFields[] = {
    HEADER_FIELD(MediaClass),
    HEADER_FIELD(MediaColor),
    HEADER_FIELD(MediaType),
    HEADER_FIELD(OutputType),
    HEADER_FIELD(AdvanceDistance),
    HEADER_FIELD(AdvanceMedia),
    HEADER_FIELD(Collate),
    HEADER_FIELD(CutMedia),
    HEADER_FIELD(Duplex),
    HEADER_FIELD(HWResolution),
    HEADER_FIELD(ImagingBoundingBox),
    HEADER_FIELD(InsertSheet),
    HEADER_FIELD(Jog),
    HEADER_FIELD(LeadingEdge),
    HEADER_FIELD(Margins),
    HEADER_FIELD(ManualFeed),
    HEADER_FIELD(MediaPosition),
    HEADER_FIELD(MediaWeight),
    HEADER_FIELD(MirrorPrint),
    HEADER_FIELD(NegativePrint),
    HEADER_FIELD(NumCopies),
    HEADER_FIELD(Orientation),
    HEADER_FIELD(OutputFaceUp),
    HEADER_FIELD(PageSize),
    HEADER_FIELD(Separations),
    HEADER_FIELD(TraySwitch),
    HEADER_FIELD(Tumble),
    HEADER_FIELD(cupsWidth),
    HEADER_FIELD(cupsHeight),
    HEADER_FIELD(cupsMediaType),
    HEADER_FIELD(cupsBitsPerColor),
    HEADER_FIELD(cupsBitsPerPixel),
    HEADER_FIELD(cupsBytesPerLine),
    HEADER_FIELD(cupsColorOrder),
    HEADER_FIELD(cupsColorSpace),
    HEADER_FIELD(cupsCompression),
    HEADER_FIELD(cupsRowCount),
    HEADER_FIELD(cupsRowFeed),
    HEADER_FIELD(cupsRowStep),
    HEADER_FIELD(cupsNumColors),
    HEADER_FIELD(cupsBorderlessScalingFactor),
    HEADER_FIELD(cupsPageSize),
    HEADER_FIELD(cupsImagingBBox),
    HEADER_FIELD(cupsInteger),
    HEADER_FIELD(cupsReal),
    HEADER_FIELD(cupsString),
    HEADER_FIELD(cupsMarkerType),
    HEADER_FIELD(cupsRenderingIntent),
    HEADER_FIELD(cupsPageSizeName),
};

TEST(HostileRaster, StreamCutInsideAnyHeaderFieldEndsTheJobQuietly) {
  std::string stream = write_raster({solid_page(16, 2, 0), solid_page(16, 2, 0)});
  for (const HeaderField &field : kHeaderFields) {
    for (size_t cut : {field.offset, field.offset + field.size / 2}) {
      RunResult run = run_job("", stream.substr(0, 4 + cut));
      EXPECT_EQ(run.status, 0) << field.name << " cut at byte " << cut;
      EXPECT_EQ(run.out, "") << field.name << " cut at byte " << cut;
      EXPECT_EQ(run.err, "") << field.name << " cut at byte " << cut;
    }
  }
}

TEST(HostileRaster, SecondPageCutInsideItsHeaderLeavesTheFirstPrinted) {
  std::string stream = write_raster({solid_page(16, 2, 255), solid_page(16, 2, 255)});
  size_t secondHeader = 4 + sizeof(cups_page_header2_t) + 16 * 2;
  for (const HeaderField &field : kHeaderFields) {
    RunResult run = run_job("", stream.substr(0, secondHeader + field.offset));
    EXPECT_EQ(run.status, 0) << field.name;
    EXPECT_TRUE(same_stream(run.out, white_block(2, 2))) << field.name;
    EXPECT_EQ(run.err, "PAGE: 1 1\n") << field.name;
  }
}

namespace {

const char kPpdStart[] = "*PPD-Adobe: \"4.3\"\n";

// Where PPD points for a case: a file written with the given text, or a path as it is.
struct PpdSource {
  std::string text;
  std::string path;
};

// A PPD file holding the text.
PpdSource ppd_text(std::string text) {
  return {std::move(text), ""};
}

// PPD pointing at an existing path.
PpdSource ppd_path(std::string path) {
  return {"", std::move(path)};
}

// Settings whose fields differ from the built-in ones.
BlockSettings with(const std::function<void(BlockSettings &)> &change) {
  BlockSettings settings;
  change(settings);
  return settings;
}

} // namespace

// A PPD, and the settings the job prints with when PPD names it.
struct PpdCase {
  const char *name;
  std::function<PpdSource()> source;
  BlockSettings settings;
};

// Show the case by its name in test listings and failures.
void PrintTo(const PpdCase &c, std::ostream *os) {
  *os << c.name;
}

class HostilePpd : public testing::TestWithParam<PpdCase> {};

TEST_P(HostilePpd, JobPrintsWithTheSettingsItCanRead) {
  const PpdCase &c = GetParam();
  TempDir dir;
  PpdSource source = c.source();
  std::string path = source.path;
  if (path.empty()) {
    path = dir.file("printer.ppd");
    write_file(path, source.text);
  }
  RunResult run = run_job("", write_raster({solid_page(8, 1, 255)}), {{"PPD", path}});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(same_stream(run.out, white_block(1, 1, 1, c.settings)));
  EXPECT_EQ(run.err, "PAGE: 1 1\n");
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostilePpd,
    testing::Values(
        PpdCase{"SmallPpdIsRead",
                [] { return ppd_text(std::string(kPpdStart) + "*DefaultDarkness: 12\n"); },
                with([](BlockSettings &s) { s.darkness = 12; })},
        PpdCase{"RandomBytes", [] { return ppd_text(random_bytes(1 << 16, false)); }, {}},
        PpdCase{"RandomBytesAfterTheFirstLine",
                [] { return ppd_text(kPpdStart + random_bytes(1 << 16, false)); },
                {}},
        // Digits beyond the 32-bit range saturate at 2147483647, whose low 16 bits read back as -1.
        PpdCase{"LongestNumberOnALine",
                [] {
                  return ppd_text(kPpdStart + std::string("*DefaultDarkness: ") +
                                  std::string(200, '9') + "\n");
                },
                with([](BlockSettings &s) { s.darkness = -1; })},
        PpdCase{"QuotedValueOfAThousandLines",
                [] {
                  std::string value;
                  for (int line = 0; line < 1000; line++)
                    value += std::string(200, '9') + "\n";
                  return ppd_text(kPpdStart + std::string("*DefaultHorizontal: \"") + value +
                                  "\"\n");
                },
                with([](BlockSettings &s) { s.horizontal = -1; })},
        // A size too large for a float reads as infinity, which has no millimetre count.
        PpdCase{"CustomSizeBeyondAFloat",
                [] {
                  return ppd_text(kPpdStart + std::string("*DefaultPageSize: Custom.") +
                                  std::string(60, '9') + "x" + std::string(60, '9') + "mm\n");
                },
                with([](BlockSettings &s) { s.pageWidth = s.pageHeight = 0; })},
        // libcups refuses a line over 255 characters, and with it the whole file.
        PpdCase{"LineLongerThanLibcupsReads",
                [] {
                  return ppd_text(kPpdStart + std::string("*DefaultPrintSpeed: 60\n") +
                                  "*DefaultDarkness: " + std::string(300000, '9') + "\n");
                },
                {}},
        // libcups keeps the opening quote of a value that never closes: no digits lead it.
        PpdCase{"UnterminatedQuote",
                [] {
                  return ppd_text(kPpdStart + std::string("*DefaultPrintSpeed: 60\n") +
                                  "*DefaultDarkness: \"12\n");
                },
                with([](BlockSettings &s) {
                  s.speed = 6;
                  s.darkness = 0;
                })},
        PpdCase{"Directory", [] { return ppd_path("/"); }, {}},
        PpdCase{"EndlessZeros", [] { return ppd_path("/dev/zero"); }, {}},
        PpdCase{"EmptyFile", [] { return ppd_path("/dev/null"); }, {}},
        PpdCase{"MissingFile", [] { return ppd_path("/nonexistent/printer.ppd"); }, {}}),
    testing::PrintToStringParamName());

namespace {

// The settings a job holds, written out so that a difference reads plainly.
std::string settings_text(const label_doc_t &doc) {
  return "size " + std::to_string(doc.pageWidth) + "x" + std::to_string(doc.pageHeight) +
         " tracking " + std::to_string(doc.mediaTracking) + " speed " + std::to_string(doc.speed) +
         " darkness " + std::to_string(doc.darkness) + " at " + std::to_string(doc.horizontal) +
         "," + std::to_string(doc.vertical) + " mode " + std::to_string(doc.mode);
}

const char kDefaults[] = "size 60x40 tracking 0 speed 4 darkness 7 at 0,0 mode 5";

// Many options with distinct names in a scrambled order, then one the filter reads.
std::string many_distinct_options(int count, const std::string &last) {
  std::string options;
  for (int i = 0; i < count; i++) {
    options += 'o';
    options += std::to_string((i * 7919) % count);
    options += "=1 ";
  }
  return options + last;
}

// A text repeated to fill the given size.
std::string repeated(const std::string &text, size_t size) {
  std::string out;
  while (out.size() < size)
    out += text;
  return out;
}

} // namespace

// An option string, and the settings the option layer makes of it.
struct OptionCase {
  const char *name;
  std::function<std::string()> options;
  std::string settings;
};

// Show the case by its name in test listings and failures.
void PrintTo(const OptionCase &c, std::ostream *os) {
  *os << c.name;
}

class HostileOptions : public testing::TestWithParam<OptionCase> {};

TEST_P(HostileOptions, SettleWithoutCrashing) {
  const OptionCase &c = GetParam();
  EXPECT_EQ(settings_text(settle_job(c.options(), std::nullopt).doc), c.settings);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, HostileOptions,
    testing::Values(
        OptionCase{"FourMegabytesOfOneWord", [] { return std::string(4 << 20, 'a'); }, kDefaults},
        OptionCase{"AMegabyteOfRepeats", [] { return repeated("Darkness=3 ", 1 << 20); },
                   "size 60x40 tracking 0 speed 4 darkness 3 at 0,0 mode 5"},
        OptionCase{"AMegabyteNumber", [] { return "Darkness=" + std::string(1 << 20, '9'); },
                   "size 60x40 tracking 0 speed 4 darkness -1 at 0,0 mode 5"},
        OptionCase{"AMegabyteOfBinaryWithoutNul", [] { return random_bytes(1 << 20, true); },
                   kDefaults},
        // An open quote runs to the end of the string; the number is read from its start.
        OptionCase{"UnbalancedSingleQuote", [] { return std::string("Darkness='3 PrintSpeed=60"); },
                   "size 60x40 tracking 0 speed 4 darkness 3 at 0,0 mode 5"},
        OptionCase{"UnbalancedDoubleQuote",
                   [] { return std::string("PageSize=\"Custom.144x72 Darkness=3"); },
                   "size 51x25 tracking 0 speed 4 darkness 7 at 0,0 mode 5"},
        // An open brace keeps its brace in the value, which then has no leading digits.
        OptionCase{"UnbalancedBrace", [] { return std::string("Darkness={3 PrintSpeed=60"); },
                   "size 60x40 tracking 0 speed 4 darkness 0 at 0,0 mode 5"},
        OptionCase{"TrailingBackslash", [] { return std::string("Darkness=3\\"); },
                   "size 60x40 tracking 0 speed 4 darkness 3 at 0,0 mode 5"},
        OptionCase{"EqualsSignsOnly", [] { return repeated("=", 1 << 16); }, kDefaults}),
    testing::PrintToStringParamName());

// Arguments as CUPS would pass them (each within the kernel's 128 KiB for one argument),
// the standard input, and what the filter does with them.
struct ArgumentCase {
  const char *name;
  std::function<std::vector<std::string>()> args;
  int status;
  std::string out;
  std::string err;
};

// Show the case by its name in test listings and failures.
void PrintTo(const ArgumentCase &c, std::ostream *os) {
  *os << c.name;
}

class HostileArguments : public testing::TestWithParam<ArgumentCase> {};

TEST_P(HostileArguments, GetTheirBehaviourWithoutCrashing) {
  const ArgumentCase &c = GetParam();
  RunResult run = run_filter_binary(c.args(), write_raster({solid_page(8, 1, 255)}));
  EXPECT_EQ(run.status, c.status);
  EXPECT_TRUE(same_stream(run.out, c.out));
  EXPECT_EQ(run.err, c.err);
}

namespace {

// The largest argument the kernel passes, less its NUL.
constexpr size_t kLongestArgument = 128 * 1024 - 1;

// The arguments of job 1 with the given options.
std::vector<std::string> job_args(const std::string &options) {
  return {"1", "user", "title", "1", options};
}

// The white one-byte block of a job whose only change is its darkness.
std::string darkness_block(int darkness) {
  return white_block(1, 1, 1, with([&](BlockSettings &s) { s.darkness = darkness; }));
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    CommandLines, HostileArguments,
    testing::Values(
        ArgumentCase{"OptionsAsLongAsAnArgumentMayBe",
                     [] { return job_args(repeated("Darkness=3 ", kLongestArgument - 11)); }, 0,
                     darkness_block(3), "PAGE: 1 1\n"},
        ArgumentCase{"DistinctOptionNamesFillingAnArgument",
                     [] { return job_args(many_distinct_options(14000, "Darkness=5")); }, 0,
                     darkness_block(5), "PAGE: 1 1\n"},
        ArgumentCase{"BinaryOptionsWithoutNul",
                     [] { return job_args(random_bytes(kLongestArgument, true)); }, 0,
                     white_block(1, 1), "PAGE: 1 1\n"},
        ArgumentCase{"NumbersBeyondAnyRange",
                     [] {
                       return std::vector<std::string>{"99999999999999999999", "user", "title",
                                                       "-99999999999999999999", ""};
                     },
                     0, white_block(1, 1), "PAGE: 1 1\n"},
        ArgumentCase{"UserAndTitleAsLongAsArgumentsMayBe",
                     [] {
                       return std::vector<std::string>{"1", std::string(kLongestArgument, 'u'),
                                                       random_bytes(kLongestArgument, true), "1",
                                                       ""};
                     },
                     0, white_block(1, 1), "PAGE: 1 1\n"},
        ArgumentCase{"EveryArgumentEmpty",
                     [] {
                       return std::vector<std::string>{"", "", "", "", ""};
                     },
                     0, white_block(1, 1), "PAGE: 1 1\n"},
        ArgumentCase{"InputFileIsADirectory",
                     [] { return std::vector<std::string>{"1", "user", "title", "1", "", "/"}; }, 1,
                     "", kNotRaster},
        ArgumentCase{
            "InputFileIsEndlessZeros",
            [] { return std::vector<std::string>{"1", "user", "title", "1", "", "/dev/zero"}; }, 1,
            "", kNotRaster},
        ArgumentCase{"InputFileIsMissing",
                     [] {
                       return std::vector<std::string>{"1", "user", "title",
                                                       "1", "",     "/nonexistent/job.ras"};
                     },
                     1, "", "ERROR: Unable to open raster file - No such file or directory\n"},
        ArgumentCase{"InputFileNameAsLongAsAnArgumentMayBe",
                     [] {
                       return std::vector<std::string>{
                           "1", "user", "title", "1", "", std::string(kLongestArgument, 'f')};
                     },
                     1, "", "ERROR: Unable to open raster file - File name too long\n"},
        ArgumentCase{"InputFileNameEmpty",
                     [] { return std::vector<std::string>{"1", "user", "title", "1", "", ""}; }, 1,
                     "", "ERROR: Unable to open raster file - No such file or directory\n"}),
    testing::PrintToStringParamName());

TEST(HostileStreams, ClosedStandardInputFailsTheJob) {
  FilterProcess filter(job_args(""), InputKind::Closed);
  EXPECT_EQ(filter.wait_exit(60s), 1);
  EXPECT_EQ(filter.output(), "");
  EXPECT_EQ(filter.error_text(), kNotRaster);
}

// With its reader gone nothing the filter writes can reach the printer: SIGPIPE ends it at
// its first write, as it ends any program; started with SIGPIPE ignored, its writes fail and
// it reads the job to its end.
TEST(HostileStreams, ClosedOutputPipeEndsTheFilterAtItsFirstWrite) {
  std::string raster = write_raster(std::vector<RasterPage>(3, solid_page(64, 64, 0)));
  FilterProcess filter(job_args(""), InputKind::Pipe, OutputKind::ClosedPipe, PipeSignal::Default);
  filter.feed_input(raster);
  EXPECT_EQ(filter.wait_exit(60s), 128 + SIGPIPE);
  EXPECT_EQ(filter.error_text(), "PAGE: 1 1\n");
}

TEST(HostileStreams, ClosedOutputPipeWithSigpipeIgnoredReadsTheJobToItsEnd) {
  std::string raster = write_raster(std::vector<RasterPage>(3, solid_page(64, 64, 0)));
  FilterProcess filter(job_args(""), InputKind::Pipe, OutputKind::ClosedPipe, PipeSignal::Ignored);
  filter.feed_input(raster);
  EXPECT_EQ(filter.wait_exit(60s), 0);
  EXPECT_EQ(filter.error_text(), "PAGE: 1 1\nPAGE: 2 1\nPAGE: 3 1\n");
}
