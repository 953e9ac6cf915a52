// SPDX-License-Identifier: Apache-2.0
// Write one PWG raster page with any header values, for the printer application's
// bad-input tests: pwg-page OUT WIDTH HEIGHT BITS COLORSPACE DPI [ROWS [BYTES_PER_LINE]].
// ROWS lines of a stripe pattern are written (default all), so a smaller ROWS cuts the page.
// An OUT named *.urf is written as Apple raster.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int main(int argc, char *argv[]) {
  if (argc < 7) {
    fputs("usage: pwg-page OUT WIDTH HEIGHT BITS COLORSPACE DPI [ROWS [BYTES_PER_LINE]]\n", stderr);
    return 2;
  }
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  header.cupsWidth = static_cast<unsigned>(strtoul(argv[2], nullptr, 10));
  header.cupsHeight = static_cast<unsigned>(strtoul(argv[3], nullptr, 10));
  header.cupsBitsPerColor = header.cupsBitsPerPixel = static_cast<unsigned>(atoi(argv[4]));
  header.cupsColorSpace = static_cast<cups_cspace_t>(atoi(argv[5]));
  header.HWResolution[0] = header.HWResolution[1] = static_cast<unsigned>(atoi(argv[6]));
  header.cupsNumColors = 1;
  header.NumCopies = 1;
  header.cupsBytesPerLine = argc > 8 ? static_cast<unsigned>(strtoul(argv[8], nullptr, 10))
                                     : (header.cupsWidth * header.cupsBitsPerPixel + 7) / 8;
  header.PageSize[0] = header.cupsWidth * 72 / header.HWResolution[0];
  header.PageSize[1] = header.cupsHeight * 72 / header.HWResolution[1];
  unsigned rows = argc > 7 ? static_cast<unsigned>(atoi(argv[7])) : header.cupsHeight;

  size_t length = strlen(argv[1]);
  bool urf = length > 4 && !strcmp(argv[1] + length - 4, ".urf");
  int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  cups_raster_t *raster =
      fd < 0 ? nullptr : cupsRasterOpen(fd, urf ? CUPS_RASTER_WRITE_APPLE : CUPS_RASTER_WRITE_PWG);
  if (!raster || !cupsRasterWriteHeader2(raster, &header)) {
    perror(argv[1]);
    return 1;
  }
  std::vector<unsigned char> line(header.cupsBytesPerLine);
  for (unsigned y = 0; y < rows && y < header.cupsHeight; y++) {
    for (size_t x = 0; x < line.size(); x++)
      line[x] = static_cast<unsigned char>((x / 4 + y / 16) % 2 ? 0x00 : 0xFF);
    cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine);
  }
  cupsRasterClose(raster);
  close(fd);
  return 0;
}
