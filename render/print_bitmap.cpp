// SPDX-License-Identifier: Apache-2.0
#include "render/print_bitmap.h"

#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>

#include "render/gray2bytes.h"

namespace {

volatile sig_atomic_t g_cancelled = 0;

// The sizes of one page, all within the 32-bit byte counts of the design.
struct page_geometry_t {
  uint32_t bytesPerLine;
  uint32_t rows;
  uint32_t bytesPerRow;
  uint32_t paddedWidth;
  int copies;
};

void write_text(FILE *out, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Write one formatted command line with its exact length.
void write_text(FILE *out, const char *format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length > 0)
    fwrite(line, 1, static_cast<size_t>(length) < sizeof line ? length : sizeof line - 1, out);
}

// Compute the page's sizes without wrapping; false when the page is beyond the limit.
bool measure_page(const cups_page_header2_t *header, uint64_t maxGrayBytes, page_geometry_t *page) {
  uint64_t bytesPerRow = (uint64_t{header->cupsBytesPerLine} + 7) >> 3;
  uint64_t grayBytes = bytesPerRow * 8 * header->cupsHeight;
  if (grayBytes > maxGrayBytes || grayBytes > kMaxGrayBytes)
    return false;
  page->bytesPerLine = header->cupsBytesPerLine;
  page->rows = header->cupsHeight;
  page->bytesPerRow = static_cast<uint32_t>(bytesPerRow);
  page->paddedWidth = static_cast<uint32_t>(bytesPerRow * 8);
  page->copies = static_cast<int>(header->NumCopies);
  return true;
}

// Read the page's lines into the gray page; a line that cannot be read ends the page.
// Each row is painted white just before its read, while it is in cache, so that the
// padding columns, a line cut short and the rows never read all stay white.
void read_page(cups_raster_t *raster, const page_geometry_t *page, uint8_t *grayPage) {
  uint32_t y = 0;
  for (; y < page->rows && !g_cancelled; y++) {
    uint8_t *row = grayPage + static_cast<size_t>(y) * page->paddedWidth;
    memset(row, 255, page->paddedWidth);
    if (!cupsRasterReadPixels(raster, row, page->bytesPerLine)) {
      y++;
      break;
    }
  }
  memset(grayPage + static_cast<size_t>(y) * page->paddedWidth, 255,
         static_cast<size_t>(page->rows - y) * page->paddedWidth);
}

// Write the setup commands that open every label.
void write_setup(FILE *out, const label_doc_t *doc) {
  write_text(out, "SIZE %dmm,%dmm\r\n", doc->pageWidth, doc->pageHeight);
  if (doc->mediaTracking == 0)
    write_text(out, "GAP 0.000,0.000\r\n");
  else if (doc->mediaTracking == 1 || doc->mediaTracking == 2)
    write_text(out, "GAP 0.120,0.000\r\n");
  write_text(out, "SPEED %d\r\n", doc->speed);
  write_text(out, "DENSITY %d\r\n", doc->darkness);
  write_text(out, "DIRECTION 0,0\r\n");
  write_text(out, "REFERENCE %d,%d\r\n", doc->refX, doc->refY);
  write_text(out, "OFFSET 0.000\r\n");
  write_text(out, "SHIFT 0\r\n");
  write_text(out, "SET PEEL OFF\r\n");
  write_text(out, "SET CUTTER OFF\r\n");
  write_text(out, "SET PARTIAL_CUTTER OFF\r\n");
  write_text(out, "SET TEAR ON\r\n");
  write_text(out, "CLS\r\n");
}

// Write the BITMAP command: its header, the inverted image (dark = 0 bit) and the line end.
void write_bitmap(FILE *out, const label_doc_t *doc, const page_geometry_t *page,
                  uint8_t *bitPage) {
  write_text(out, "BITMAP %d,%d,%u,%u,1,", doc->horizontal, doc->vertical, page->bytesPerRow,
             page->rows);
  size_t count = static_cast<size_t>(page->bytesPerRow) * page->rows;
  for (size_t i = 0; i < count; i++)
    bitPage[i] = static_cast<uint8_t>(~bitPage[i]);
  fwrite(bitPage, 1, count, out);
  fwrite("\r\n", 1, 2, out);
}

// Convert and send one page that has been read whole; false when memory ran out.
bool send_page(const label_doc_t *doc, const page_geometry_t *page, const uint8_t *grayPage,
               const page_output_t *output) {
  write_setup(output->out, doc);

  size_t bitBytes = static_cast<size_t>(page->bytesPerRow) * page->rows;
  uint8_t *bitPage = static_cast<uint8_t *>(calloc(bitBytes, 1));
  if (!bitPage) {
    fputs("ERROR: Unable to allocate memory\n", output->err);
    return false;
  }
  Gray2Bytes(grayPage, bitPage, static_cast<int>(page->bytesPerRow), static_cast<int>(page->rows),
             doc->mode);
  write_bitmap(output->out, doc, page, bitPage);

  // A cancelled job still completes the image it began, but the label is not printed.
  if (!g_cancelled)
    write_text(output->out, "PRINT 1,%d\r\n", page->copies);
  free(bitPage);
  return true;
}

} // namespace

void cancel_job(int) {
  g_cancelled = 1;
}

int print_bitmap(const label_doc_t *doc, cups_file_t *input) {
  page_output_t output = {stdout, stderr, kMaxGrayBytes};
  return render_pages(doc, cupsFileNumber(input), &output);
}

int render_pages(const label_doc_t *doc, int fd, const page_output_t *output) {
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (!raster)
    return 0;

  cups_page_header2_t header;
  int pageNumber = 0;
  while (!g_cancelled && cupsRasterReadHeader2(raster, &header)) {
    // A header that arrives after a cancellation starts no page, so CUPS counts none.
    if (g_cancelled || header.cupsHeight == 0 || header.cupsBytesPerLine == 0)
      break;
    fprintf(output->err, "PAGE: %d %d\n", ++pageNumber, static_cast<int>(header.NumCopies));

    page_geometry_t page;
    uint8_t *grayPage = nullptr;
    if (measure_page(&header, output->maxGrayBytes, &page))
      grayPage = static_cast<uint8_t *>(malloc(static_cast<size_t>(page.paddedWidth) * page.rows));
    if (!grayPage) {
      fputs("ERROR: Unable to allocate memory\n", output->err);
      break;
    }
    read_page(raster, &page, grayPage);

    // A page whose reading was cut short by a cancellation is not sent.
    bool sent = !g_cancelled && send_page(doc, &page, grayPage, output);
    fflush(output->out);
    free(grayPage);
    if (!sent)
      break;
  }
  cupsRasterClose(raster);
  return 0;
}
