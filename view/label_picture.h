// SPDX-License-Identifier: Apache-2.0
// A label laid out as the printer lays it: the paper in dots, the bitmap on it,
// and the text that describes it.
#pragma once

#include <cstdint>
#include <string>

#include "view/label_stream.h"

// Resolutions are kept in thousandths of a dot per inch, so that 8 dots per
// millimetre (203.2 dpi, which label printers call 203 dpi) is exact.
inline constexpr int64_t kDefaultMilliDpi = 203200;

// The largest paper side the viewer draws, in dots (4 m at 8 dots per millimetre).
inline constexpr int64_t kMaxPaperDots = 32768;

// The sizes of a label in dots and how far its bitmap reaches past each edge (0 when inside).
struct label_geometry_t {
  int64_t paperWidth;
  int64_t paperHeight;
  int64_t bitmapWidth;
  int64_t bitmapHeight;
  int64_t left;
  int64_t top;
  int64_t right;
  int64_t bottom;
};

// Millimetres in dots at the resolution, rounded to nearest (halves away from zero).
int64_t mm_to_dots(int64_t mm, int64_t milliDpi);

// Lay the block's bitmap on its paper.
label_geometry_t measure_label(const parsed_block_t &block, int64_t milliDpi);

// The dark dots of a bitmap that fall outside its paper, by side. A dot beside the
// paper counts on the left or right, one above or below it at the top or bottom, so
// that each dot counts once.
struct lost_dots_t {
  uint64_t left;
  uint64_t top;
  uint64_t right;
  uint64_t bottom;
};

// The one-line summary of a printed label, without a line end; it ends with the
// bitmap's overhang when the bitmap reaches past the paper's edge.
std::string summary_line(int number, const parsed_block_t &block, const label_geometry_t &geometry);

// Which edges the bitmap reaches past and by how many dots, or "" when it lies on the paper.
std::string overhang_text(const label_geometry_t &geometry);

// Count the dark dots that the paper cuts off.
lost_dots_t lost_dark_dots(const parsed_block_t &block, const label_geometry_t &geometry);

// How many dark dots fall outside the label and where, or "" when none do.
std::string lost_dots_text(const lost_dots_t &lost);

// Why the label's paper cannot be drawn (it must be 1 to kMaxPaperDots dots a side), or
// "" when it can.
std::string undrawable_paper_text(const label_geometry_t &geometry);

// Fill row y of the picture: (paperWidth + 7) / 8 bytes, 1 bit a dot, leftmost in
// bit 7, 0 dark; white paper with the bitmap, clipped, at its position.
void draw_paper_row(const parsed_block_t &block, const label_geometry_t &geometry, int64_t y,
                    uint8_t *row);
