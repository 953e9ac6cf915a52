// SPDX-License-Identifier: Apache-2.0
// Read a raster job on standard input with libcups, line by line into one row
// buffer, and discard it: the least work any filter of that job must do.
#include <cstdio>
#include <cstdlib>
#include <cups/raster.h>

// Read every page the way the filter reads it, and report the page count on stderr.
// The row comes from malloc, as the filter's does, so that the floor loads no C++
// runtime that the filter does not load either.
int main() {
  cups_raster_t *raster = cupsRasterOpen(0, CUPS_RASTER_READ);
  if (!raster) {
    fputs("read_floor: cannot open the raster stream on standard input\n", stderr);
    return 1;
  }
  cups_page_header2_t header;
  unsigned char *row = nullptr;
  unsigned pages = 0;
  while (cupsRasterReadHeader2(raster, &header)) {
    if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0)
      break;
    free(row);
    row = static_cast<unsigned char *>(malloc(header.cupsBytesPerLine));
    if (!row)
      break;
    for (unsigned y = 0; y < header.cupsHeight; y++)
      if (!cupsRasterReadPixels(raster, row, header.cupsBytesPerLine))
        break;
    pages++;
  }
  free(row);
  cupsRasterClose(raster);
  fprintf(stderr, "read_floor: %u pages\n", pages);
  return 0;
}
