// SPDX-License-Identifier: Apache-2.0
#include "app/job/label_page.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The header's colour space as the client sent it: libcups copies any 32-bit value into
// the enum field, so it is read as a number, never as an enum value.
unsigned color_space(const cups_page_header2_t *header) {
  unsigned space;
  static_assert(sizeof space == sizeof header->cupsColorSpace);
  memcpy(&space, &header->cupsColorSpace, sizeof space);
  return space;
}

// Tell how the header's pixels are stored; false for a form the page cannot take.
bool find_pixels(const cups_page_header2_t *header, label_pixels_t *pixels) {
  unsigned space = color_space(header);
  bool gray = space == CUPS_CSPACE_SW || space == CUPS_CSPACE_W;
  bool black = space == CUPS_CSPACE_K;
  if (header->cupsBitsPerPixel == 8 && header->cupsBitsPerColor == 8 && (gray || black)) {
    *pixels = gray ? kGray8 : kBlack8;
    return true;
  }
  if (header->cupsBitsPerPixel == 1 && header->cupsBitsPerColor == 1 && (gray || black)) {
    *pixels = gray ? kWhite1 : kBlack1;
    return true;
  }
  return false;
}

} // namespace

bool start_label_page(label_page_t *page, const cups_page_header2_t *header,
                      const label_head_t *head, int copies, int mode, char *message,
                      size_t messageSize) {
  memset(page, 0, sizeof *page);
  if (!find_pixels(header, &page->pixels)) {
    snprintf(message, messageSize,
             "Unsupported raster: %u bits per pixel in color space %u; the printer takes 8-bit "
             "gray or 8-bit black.",
             header->cupsBitsPerPixel, color_space(header));
    return false;
  }
  if (header->HWResolution[0] != head->resolution || header->HWResolution[1] != head->resolution) {
    snprintf(message, messageSize, "The page is %ux%u dpi; this printer prints at %u dpi.",
             header->HWResolution[0], header->HWResolution[1], head->resolution);
    return false;
  }
  if (header->cupsWidth == 0 || header->cupsHeight == 0) {
    snprintf(message, messageSize, "The page is empty (%ux%u dots).", header->cupsWidth,
             header->cupsHeight);
    return false;
  }
  if (header->cupsWidth > head->widthDots) {
    snprintf(message, messageSize, "The page is %u dots wide; the print head is %u dots wide.",
             header->cupsWidth, head->widthDots);
    return false;
  }
  if (header->cupsHeight > head->maxRows) {
    snprintf(message, messageSize, "The page is %u dots long; a label is at most %u dots long.",
             header->cupsHeight, head->maxRows);
    return false;
  }
  unsigned bitsPerLine = header->cupsWidth * header->cupsBitsPerPixel;
  if (header->cupsBytesPerLine != (bitsPerLine + 7) / 8) {
    snprintf(message, messageSize,
             "The page's %u bytes per line do not match its width of %u pixels.",
             header->cupsBytesPerLine, header->cupsWidth);
    return false;
  }

  page->width = header->cupsWidth;
  page->bytesPerLine = header->cupsBytesPerLine;
  page->image.bytesPerRow = (header->cupsWidth + 7) / 8;
  page->image.rows = header->cupsHeight;
  page->image.copies = copies;
  size_t bitBytes = static_cast<size_t>(page->image.bytesPerRow) * page->image.rows;
  size_t rowPixels = static_cast<size_t>(page->image.bytesPerRow) * 8;
  page->bitPage = static_cast<uint8_t *>(calloc(bitBytes + rowPixels, 1));
  if (!page->bitPage) {
    snprintf(message, messageSize, "Unable to allocate memory for a %ux%u page.", header->cupsWidth,
             header->cupsHeight);
    return false;
  }
  page->grayRow = page->bitPage + bitBytes;
  memset(page->grayRow, 255, rowPixels);
  Gray2BytesBegin(&page->thresholds, mode);
  return true;
}

void add_label_line(label_page_t *page, unsigned y, const unsigned char *line) {
  if (!page->bitPage || y >= page->image.rows)
    return;
  page->linesReceived++;
  uint8_t *row = page->grayRow;
  switch (page->pixels) {
  case kGray8:
    memcpy(row, line, page->width);
    break;
  case kBlack8:
    for (unsigned x = 0; x < page->width; x++)
      row[x] = static_cast<uint8_t>(255 - line[x]);
    break;
  case kBlack1:
  case kWhite1: {
    // A set bit is a black dot in device black and a white one in gray.
    uint8_t set = page->pixels == kBlack1 ? 0 : 255;
    for (unsigned x = 0; x < page->width; x++)
      row[x] = (line[x / 8] & (0x80 >> (x % 8))) ? set : static_cast<uint8_t>(255 - set);
    break;
  }
  }
  uint8_t *bits = page->bitPage + static_cast<size_t>(y) * page->image.bytesPerRow;
  memset(bits, 0, page->image.bytesPerRow);
  Gray2BytesRow(&page->thresholds, row, bits, static_cast<int>(page->image.bytesPerRow),
                static_cast<int>(y));
}

bool label_page_is_complete(const label_page_t *page) {
  return page->linesReceived >= page->image.rows;
}

void free_label_page(label_page_t *page) {
  if (page->bitPage)
    Gray2BytesEnd();
  free(page->bitPage);
  page->bitPage = page->grayRow = nullptr;
}
