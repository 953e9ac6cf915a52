// SPDX-License-Identifier: Apache-2.0
// Write the raster fuzzer's seeds: pages as the tests make them, written by libcups'
// own writer in each stream format it reads, each file led by the mode byte.
//
//   raster-seeds DIRECTORY
#include <cstdio>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include "tests/testkit.h"

namespace {

// One seed: its file name, the mode byte, and its stream.
struct seed_t {
  const char *name;
  char modeByte;
  std::string stream;
};

// A page of a horizontal gradient that steps down each row.
testkit::RasterPage gradient(uint32_t width, uint32_t height, uint32_t copies = 1) {
  testkit::RasterPage page = testkit::solid_page(width, height, 0, copies);
  for (size_t i = 0; i < page.pixels.size(); i++)
    page.pixels[i] = static_cast<uint8_t>((i % width) * 255 / width + i / width * 40);
  return page;
}

// The same pages rewritten as PWG raster, whose header libcups reads byte-swapped here.
std::string as_pwg(const std::string &stream) {
  testkit::TempDir dir;
  testkit::write_file(dir.file("in.ras"), stream);
  int in = open(dir.file("in.ras").c_str(), O_RDONLY);
  int out = open(dir.file("out.ras").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  cups_raster_t *reader = cupsRasterOpen(in, CUPS_RASTER_READ);
  cups_raster_t *writer = cupsRasterOpen(out, CUPS_RASTER_WRITE_PWG);
  cups_page_header2_t header;
  while (cupsRasterReadHeader2(reader, &header)) {
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    cupsRasterWriteHeader2(writer, &header);
    for (unsigned y = 0; y < header.cupsHeight; y++)
      if (cupsRasterReadPixels(reader, line.data(), header.cupsBytesPerLine))
        cupsRasterWritePixels(writer, line.data(), header.cupsBytesPerLine);
  }
  cupsRasterClose(reader);
  cupsRasterClose(writer);
  close(in);
  close(out);
  return testkit::read_file(dir.file("out.ras"));
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc != 2) {
    fputs("usage: raster-seeds DIRECTORY\n", stderr);
    return 1;
  }
  testkit::RasterPage shortPage = gradient(16, 8);
  shortPage.pixels.resize(16 * 3);
  const seed_t seeds[] = {
      {"gradient-16x4-mode2", 3, testkit::write_raster({gradient(16, 4)})},
      {"compressed-9x3-two-pages-mode4", 5,
       testkit::write_raster({gradient(9, 3, 2), gradient(9, 3, 2)}, true)},
      {"pwg-24x8-mode0", 1, as_pwg(testkit::write_raster({gradient(24, 8)}))},
      {"short-page-16x8-mode3", 4, testkit::write_raster({shortPage})},
      {"zero-height-mode1", 2, testkit::write_raster({testkit::solid_page(8, 0, 255)})},
  };
  for (const seed_t &seed : seeds)
    testkit::write_file(std::string(argv[1]) + "/" + seed.name, seed.modeByte + seed.stream);
  return 0;
}
