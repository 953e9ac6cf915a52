// SPDX-License-Identifier: Apache-2.0
// One page of a printer application job: the raster lines that PAPPL hands over,
// each converted into the page's 1-bit image as it arrives.
#pragma once

#include <cstddef>
#include <cups/raster.h>

#include "render/gray2bytes.h"
#include "render/label_block.h"

// How a line's pixels are stored, and so how each becomes gray.
enum label_pixels_t { kGray8, kBlack8, kBlack1, kWhite1 };

// The print head a page must fit.
struct label_head_t {
  unsigned resolution;
  unsigned widthDots;
  unsigned maxRows;
};

// The page being gathered: its line format, its image sizes, its 1-bit image (light
// wherever no line arrived), the gray row a line becomes before its conversion (padding
// columns white) and the conversion's thresholds.
struct label_page_t {
  label_pixels_t pixels;
  unsigned width;
  unsigned bytesPerLine;
  label_image_t image;
  uint8_t *bitPage;
  uint8_t *grayRow;
  unsigned linesReceived;
  threshold_table_t thresholds;
};

// Check a page header against the print head and allocate the light 1-bit image that
// lines are converted into by mode; on failure write a message for the job's state and
// hold nothing.
bool start_label_page(label_page_t *page, const cups_page_header2_t *header,
                      const label_head_t *head, int copies, int mode, char *message,
                      size_t messageSize);

// Convert one raster line into row y of the 1-bit image, replacing what an earlier line
// put there; lines beyond the page are ignored.
void add_label_line(label_page_t *page, unsigned y, const unsigned char *line);

// Whether as many lines arrived as the page has rows: a page cut short would print
// white rows where its content should be.
bool label_page_is_complete(const label_page_t *page);

// Release the page's images.
void free_label_page(label_page_t *page);
