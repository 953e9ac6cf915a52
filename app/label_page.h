// SPDX-License-Identifier: Apache-2.0
// One page of a printer application job: the raster lines that PAPPL hands over,
// gathered into the gray page that the label block is made from.
#pragma once

#include <cstddef>
#include <cups/raster.h>

#include "render/label_block.h"

// How a line's pixels are stored, and so how each becomes gray.
enum label_pixels_t { kGray8, kBlack8, kBlack1, kWhite1 };

// The print head a page must fit.
struct label_head_t {
  unsigned resolution;
  unsigned widthDots;
  unsigned maxRows;
};

// The page being gathered: its line format, its image sizes and its gray page
// (row stride bytesPerRow x 8, white wherever no line arrived).
struct label_page_t {
  label_pixels_t pixels;
  unsigned width;
  unsigned bytesPerLine;
  label_image_t image;
  uint8_t *grayPage;
};

// Check a page header against the print head and allocate the white gray page;
// on failure write a message for the job's state and hold nothing.
bool start_label_page(label_page_t *page, const cups_page_header2_t *header,
                      const label_head_t *head, int copies, char *message, size_t messageSize);

// Convert one raster line into row y of the gray page; lines beyond the page are ignored.
void add_label_line(label_page_t *page, unsigned y, const unsigned char *line);

// Release the page's gray image.
void free_label_page(label_page_t *page);
