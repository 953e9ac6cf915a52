// SPDX-License-Identifier: Apache-2.0
// Read a raster job on standard input with libcups, line by line into one row
// buffer, and discard it: the least work any filter of that job must do.
#include <cstdio>
#include <cups/raster.h>
#include <vector>

// Read every page the way the filter reads it, and report the page count on stderr.
int main() {
  cups_raster_t *raster = cupsRasterOpen(0, CUPS_RASTER_READ);
  if (!raster) {
    fputs("read_floor: cannot open the raster stream on standard input\n", stderr);
    return 1;
  }
  cups_page_header2_t header;
  std::vector<unsigned char> row;
  unsigned pages = 0;
  while (cupsRasterReadHeader2(raster, &header)) {
    if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0)
      break;
    row.resize(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; y++)
      if (!cupsRasterReadPixels(raster, row.data(), header.cupsBytesPerLine))
        break;
    pages++;
  }
  cupsRasterClose(raster);
  fprintf(stderr, "read_floor: %u pages\n", pages);
  return 0;
}
