// SPDX-License-Identifier: Apache-2.0
#include "render/print_bitmap.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>

#include "render/gray2bytes.h"
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

// Read the page's lines into one gray row and convert each into the 1-bit image while it
// is still in cache; a line that cannot be read ends the page, converted with the bytes it
// was given. The row is painted white before each read, so that the padding columns and a
// line cut short stay white; the rows never read keep the image's zero (light) bits.
void read_page(cups_raster_t *raster, const page_geometry_t *page, int mode, uint8_t *grayRow,
               uint8_t *bitPage) {
  threshold_table_t table;
  Gray2BytesBegin(&table, mode);
  for (uint32_t y = 0; y < page->rows && !g_cancelled; y++) {
    memset(grayRow, 255, page->paddedWidth);
    bool read = cupsRasterReadPixels(raster, grayRow, page->bytesPerLine);
    Gray2BytesRow(&table, grayRow, bitPage + static_cast<size_t>(y) * page->bytesPerRow,
                  static_cast<int>(page->bytesPerRow), static_cast<int>(y));
    if (!read)
      break;
  }
  Gray2BytesEnd();
}

// Write a block's bytes to the filter's buffered standard output.
void write_to_file(void *context, const void *data, size_t size) {
  fwrite(data, 1, size, static_cast<FILE *>(context));
}

// Send the block of one page that has been read whole.
void send_page(const label_doc_t *doc, const page_geometry_t *page, uint8_t *bitPage,
               const page_output_t *output) {
  label_sink_t sink = {output->out, write_to_file};
  label_image_t image = {page->bytesPerRow, page->rows, page->copies};
  send_label_image(&sink, doc, &image, bitPage);

  // A cancelled job still completes the image it began, but the label is not printed.
  if (!g_cancelled)
    write_label_print(&sink, &image);
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

    // The page's 1-bit image, zero (light) wherever no row is read, and one gray row
    // behind it; the page is refused by the size of its gray all the same.
    page_geometry_t page;
    uint8_t *bitPage = nullptr;
    size_t bitBytes = 0;
    if (measure_page(&header, output->maxGrayBytes, &page)) {
      bitBytes = static_cast<size_t>(page.bytesPerRow) * page.rows;
      bitPage = static_cast<uint8_t *>(calloc(bitBytes + page.paddedWidth, 1));
    }
    if (!bitPage) {
      fputs("ERROR: Unable to allocate memory\n", output->err);
      result = kRenderNoMemory;
      break;
    }
    read_page(raster, &page, doc->mode, bitPage + bitBytes, bitPage);

    // A page whose reading was cut short by a cancellation is not sent.
    bool cancelled = g_cancelled;
    if (!cancelled)
      send_page(doc, &page, bitPage, output);
    fflush(output->out);
    free(bitPage);
    if (cancelled)
      break;
  }
  cupsRasterClose(raster);
  return result;
}
