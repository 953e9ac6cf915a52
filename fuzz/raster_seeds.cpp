// Write the raster fuzzer's seeds with libcups' own writer: each file is one mode
// byte followed by a small raster stream in one of the stream formats.
//
//   raster-seeds DIRECTORY
#include <cstdio>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// One seed: its file name, the mode byte, the stream format and its pages.
struct seed_t {
  const char *name;
  unsigned char modeByte;
  cups_mode_t format;
  unsigned pages;
  unsigned width;
  unsigned height;
  unsigned rowsWritten;
  unsigned copies;
};

const seed_t kSeeds[] = {
    {"gradient-16x4-mode2", 3, CUPS_RASTER_WRITE, 1, 16, 4, 4, 1},
    {"compressed-9x3-two-pages-mode4", 5, CUPS_RASTER_WRITE_COMPRESSED, 2, 9, 3, 3, 2},
    {"pwg-24x8-mode0", 1, CUPS_RASTER_WRITE_PWG, 1, 24, 8, 8, 1},
    {"short-page-16x8-mode3", 4, CUPS_RASTER_WRITE, 1, 16, 8, 3, 1},
    {"zero-height-mode1", 2, CUPS_RASTER_WRITE, 1, 8, 0, 0, 1},
};

// Write one seed file; false when it cannot be created.
bool write_seed(const std::string &directory, const seed_t &seed) {
  std::string path = directory + "/" + seed.name;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    perror(path.c_str());
    return false;
  }
  if (write(fd, &seed.modeByte, 1) != 1) {
    close(fd);
    return false;
  }
  cups_raster_t *raster = cupsRasterOpen(fd, seed.format);

  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  strcpy(header.MediaClass, "PwgRaster");
  header.HWResolution[0] = header.HWResolution[1] = 203;
  header.NumCopies = seed.copies;
  header.cupsWidth = seed.width;
  header.cupsHeight = seed.height;
  header.cupsBitsPerColor = 8;
  header.cupsBitsPerPixel = 8;
  header.cupsBytesPerLine = seed.width;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsColorSpace = CUPS_CSPACE_W;
  header.cupsNumColors = 1;

  std::vector<unsigned char> row(seed.width);
  for (unsigned page = 0; page < seed.pages; page++) {
    cupsRasterWriteHeader2(raster, &header);
    for (unsigned y = 0; y < seed.rowsWritten; y++) {
      for (unsigned x = 0; x < seed.width; x++)
        row[x] = static_cast<unsigned char>((x * 255 / seed.width + y * 40 + page * 90) % 256);
      cupsRasterWritePixels(raster, row.data(), seed.width);
    }
  }
  cupsRasterClose(raster);
  close(fd);
  return true;
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc != 2) {
    fputs("usage: raster-seeds DIRECTORY\n", stderr);
    return 1;
  }
  for (const seed_t &seed : kSeeds)
    if (!write_seed(argv[1], seed))
      return 1;
  return 0;
}
