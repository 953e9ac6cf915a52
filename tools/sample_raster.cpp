// SPDX-License-Identifier: Apache-2.0
// Write a CUPS raster job of shipping-label pages for samples and benchmarks:
// bar-code strokes, blocks of text-like marks and a photo-like gradient.
//
//   sample-raster OUTPUT [PAGES [WIDTH HEIGHT [COPIES [pwg|urf [DPI]]]]]
//
// With "pwg" or "urf" the pages are PWG or Apple raster in 8-bit sGray, as IPP clients
// send them to the printer application; otherwise CUPS raster as CUPS hands it to the filter.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// Draw one label: a frame, text-like lines, a bar code and a gradient patch.
void draw_label(std::vector<unsigned char> &page, unsigned width, unsigned height, unsigned seed) {
  auto at = [&](unsigned x, unsigned y) -> unsigned char & { return page[size_t{y} * width + x]; };
  std::fill(page.begin(), page.end(), 255);

  for (unsigned x = 0; x < width; x++)
    for (unsigned t = 0; t < 4 && t < height; t++)
      at(x, t) = at(x, height - 1 - t) = 0;
  for (unsigned y = 0; y < height; y++)
    for (unsigned t = 0; t < 4 && t < width; t++)
      at(t, y) = at(width - 1 - t, y) = 0;

  // Rows of glyph-sized marks stand in for address text.
  unsigned state = seed * 2654435761u + 1;
  for (unsigned line = 0; line < 6; line++) {
    unsigned top = 20 + line * 34;
    for (unsigned x = 20; x + 14 < width - 20; x += 16) {
      state = state * 1103515245u + 12345u;
      if ((state >> 16) % 7 == 0)
        continue;
      for (unsigned y = top; y < top + 24 && y < height; y++)
        for (unsigned dx = 0; dx < 12; dx++)
          if (((state >> (dx + (y - top) / 3)) & 3) != 0 || dx < 2 || y - top < 2)
            at(x + dx, y) = 0;
    }
  }

  // A bar code below the text.
  unsigned barTop = height / 2, barBottom = height * 3 / 4;
  for (unsigned x = 30; x < width - 30 && barBottom < height; x++) {
    state = state * 1103515245u + 12345u;
    unsigned char ink = ((x / 3 + (state >> 20)) % 3 == 0) ? 0 : 255;
    for (unsigned y = barTop; y < barBottom; y++)
      at(x, y) = ink;
  }

  // A photo-like gradient in the last quarter.
  for (unsigned y = barBottom + 8; y + 8 < height; y++)
    for (unsigned x = 20; x + 20 < width; x++)
      at(x, y) = static_cast<unsigned char>((x * 255 / width + y) % 256);
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc < 2) {
    fputs("usage: sample-raster OUTPUT [PAGES [WIDTH HEIGHT [COPIES [pwg|urf [DPI]]]]]\n", stderr);
    return 1;
  }
  unsigned pages = argc > 2 ? static_cast<unsigned>(atoi(argv[2])) : 1;
  unsigned width = argc > 4 ? static_cast<unsigned>(atoi(argv[3])) : 812;
  unsigned height = argc > 4 ? static_cast<unsigned>(atoi(argv[4])) : 1218;
  unsigned copies = argc > 5 ? static_cast<unsigned>(atoi(argv[5])) : 1;
  bool pwg = argc > 6 && !strcmp(argv[6], "pwg");
  bool urf = argc > 6 && !strcmp(argv[6], "urf");
  unsigned dpi = argc > 7 ? static_cast<unsigned>(atoi(argv[7])) : 203;
  if (width < 64 || height < 64) {
    fputs("sample-raster: width and height must be at least 64\n", stderr);
    return 1;
  }

  int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  cups_raster_t *raster = cupsRasterOpen(
      fd, pwg ? CUPS_RASTER_WRITE_PWG : urf ? CUPS_RASTER_WRITE_APPLE : CUPS_RASTER_WRITE);

  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  header.HWResolution[0] = header.HWResolution[1] = dpi;
  header.PageSize[0] = width * 72 / dpi;
  header.PageSize[1] = height * 72 / dpi;
  header.NumCopies = copies;
  header.cupsWidth = width;
  header.cupsHeight = height;
  header.cupsBitsPerColor = 8;
  header.cupsBitsPerPixel = 8;
  header.cupsBytesPerLine = width;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsColorSpace = pwg || urf ? CUPS_CSPACE_SW : CUPS_CSPACE_W;
  header.cupsNumColors = 1;

  std::vector<unsigned char> page(size_t{width} * height);
  for (unsigned p = 0; p < pages; p++) {
    draw_label(page, width, height, p);
    cupsRasterWriteHeader2(raster, &header);
    cupsRasterWritePixels(raster, page.data(), static_cast<unsigned>(page.size()));
  }
  cupsRasterClose(raster);
  close(fd);
  return 0;
}
