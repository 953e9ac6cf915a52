// SPDX-License-Identifier: Apache-2.0
#include "render/print_bitmap.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>

#include "render/label_block.h"

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

// Write a block's bytes to the filter's buffered standard output.
void write_to_file(void *context, const void *data, size_t size) {
  fwrite(data, 1, size, static_cast<FILE *>(context));
}

// Convert and send one page that has been read whole; false when memory ran out.
bool send_page(const label_doc_t *doc, const page_geometry_t *page, const uint8_t *grayPage,
               const page_output_t *output) {
  label_sink_t sink = {output->out, write_to_file};
  label_image_t image = {page->bytesPerRow, page->rows, page->copies};
  if (!send_label_image(&sink, doc, &image, grayPage)) {
    fputs("ERROR: Unable to allocate memory\n", output->err);
    return false;
  }

  // A cancelled job still completes the image it began, but the label is not printed.
  if (!g_cancelled)
    write_label_print(&sink, &image);
  return true;
}

} // namespace

void cancel_job(int) {
  g_cancelled = 1;
}

render_result_t print_bitmap(const label_doc_t *doc, cups_file_t *input) {
  page_output_t output = {stdout, stderr, kMaxGrayBytes};
  return render_pages(doc, cupsFileNumber(input), &output);
}

render_result_t render_pages(const label_doc_t *doc, int fd, const page_output_t *output) {
  // An input that ends or fails before a raster sync word is no raster, unless the job
  // was cancelled while it waited.
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (!raster)
    return g_cancelled ? kRenderDone : kRenderNotRaster;

  render_result_t result = kRenderDone;
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
      result = kRenderNoMemory;
      break;
    }
    read_page(raster, &page, grayPage);

    // A page whose reading was cut short by a cancellation is not sent.
    bool cancelled = g_cancelled;
    bool sent = !cancelled && send_page(doc, &page, grayPage, output);
    fflush(output->out);
    free(grayPage);
    if (!sent) {
      if (!cancelled)
        result = kRenderNoMemory;
      break;
    }
  }
  cupsRasterClose(raster);
  return result;
}
