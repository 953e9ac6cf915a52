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

} // namespace

// A raster stream, the output and messages the filter gives for it, and for a header that
// libcups' reader may come to refuse, the quiet end it then gets instead.
struct RasterCase {
  const char *name;
  std::function<std::string()> stream;
  std::string out;
  std::string err;
  bool orRefusedByLibcups = false;
};

class HostileRaster : public testing::TestWithParam<RasterCase> {};

TEST_P(HostileRaster, GetsItsBehaviourWithoutCrashing) {
  const RasterCase &c = GetParam();
  RunResult run = run_job("", c.stream());
  EXPECT_EQ(run.status, 0);
  if (c.orRefusedByLibcups && run.out.empty() && run.err.empty())
    return;
  EXPECT_TRUE(same_stream(run.out, c.out));
  EXPECT_EQ(run.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, HostileRaster,
    testing::Values(
        RasterCase{"Empty", [] { return std::string(); }, "", ""},
        RasterCase{"SyncWordOnly", [] { return write_raster({}).substr(0, 4); }, "", ""},
        RasterCase{"NotARasterStream", [] { return std::string("%!PS-Adobe-3.0\nshowpage\n"); }, "",
                   ""},
        RasterCase{"RandomBytes", [] { return random_bytes(1 << 16, false); }, "", ""},
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
                   white_block(3, 2), "PAGE: 1 1\n", true},
        RasterCase{"BitsPerPixelDisagreesWithWidth",
                   [] {
                     return patched(write_raster({solid_page(16, 2, 255)}),
                                    offsetof(cups_page_header2_t, cupsBitsPerPixel), 16);
                   },
                   white_block(2, 2), "PAGE: 1 1\n", true},
        RasterCase{"HeaderWithoutPixels", [] { return crafted_stream({claimed_page(16, 16, 2)}); },
                   white_block(2, 2), "PAGE: 1 1\n"},
        RasterCase{
            "HugeWidthAndHeight",
            [] { return crafted_stream({claimed_page(0x1fffffff, 0x1fffffff, 0xffffffff)}); }, "",
            std::string("PAGE: 1 1\n") + kNoMemory},
        RasterCase{"GrayPageOneByteOverTheSigned32BitBound",
                   [] { return crafted_stream({claimed_page(65536, 65536, 32768)}); }, "",
                   std::string("PAGE: 1 1\n") + kNoMemory},
        RasterCase{"TallNarrowPageOverTheSigned32BitBound",
                   [] { return crafted_stream({claimed_page(8, 8, 0x10000000)}); }, "",
                   std::string("PAGE: 1 1\n") + kNoMemory},
        RasterCase{"HugePageAfterAGoodOne",
                   [] {
                     return crafted_stream({white_page(8, 1),
                                            claimed_page(0x1fffffff, 0x1fffffff, 0xffffffff),
                                            white_page(8, 1)});
                   },
                   white_block(1, 1), std::string("PAGE: 1 1\nPAGE: 2 1\n") + kNoMemory},
        RasterCase{"ZeroHeightAfterAGoodPage",
                   [] {
                     return crafted_stream({white_page(8, 1), claimed_page(8, 8, 0)});
                   },
                   white_block(1, 1), "PAGE: 1 1\n"},
        RasterCase{"LargestCopyCount",
                   [] {
                     return crafted_stream({white_page(
                         8, 1, [](cups_page_header2_t &h) { h.NumCopies = 0xffffffff; })});
                   },
                   white_block(1, 1, -1), "PAGE: 1 -1\n"},
        RasterCase{"OneBitPixelsReadAsGrayBytes",
                   [] {
                     return crafted_stream({white_page(8, 2, [](cups_page_header2_t &h) {
                       h.cupsWidth = 64;
                       h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
                     })});
                   },
                   white_block(1, 2), "PAGE: 1 1\n"},
        RasterCase{"RgbPixelsReadAsGrayBytes",
                   [] {
                     return crafted_stream({white_page(12, 1, [](cups_page_header2_t &h) {
                       h.cupsWidth = 4;
                       h.cupsBitsPerPixel = 24;
                       h.cupsColorSpace = CUPS_CSPACE_RGB;
                       h.cupsNumColors = 3;
                     })});
                   },
                   white_block(2, 1), "PAGE: 1 1\n"}),
    [](const testing::TestParamInfo<RasterCase> &info) { return std::string(info.param.name); });

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
