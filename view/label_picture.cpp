// SPDX-License-Identifier: Apache-2.0
#include "view/label_picture.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

namespace {

// Millimetres in an inch, in the same thousandths as the resolution.
constexpr int64_t kMilliMmPerInch = 25400;

// How far [start, start + length) reaches below 0 and past limit.
void reach(int64_t start, int64_t length, int64_t limit, int64_t *before, int64_t *after) {
  *before = std::max<int64_t>(0, -start);
  *after = std::max<int64_t>(0, start + length - std::max<int64_t>(limit, 0));
}

// The four sides, in the order their counts are reported.
const char *const kSides[] = {"on the left", "at the top", "on the right", "at the bottom"};

// "N on the left, M at the bottom" (with the unit after each number) for the sides not 0.
std::string sides_text(const uint64_t (&counts)[4], const char *unit) {
  std::string text;
  for (int side = 0; side < 4; side++)
    if (counts[side])
      text += (text.empty() ? "" : ", ") + std::to_string(counts[side]) + unit + " " + kSides[side];
  return text;
}

// Count the dark (0) bits of a row from bit first up to, not including, bit end.
uint64_t dark_bits(const uint8_t *row, int64_t first, int64_t end) {
  uint64_t dark = 0;
  int64_t bit = first;
  for (; bit < end && bit % 8; bit++)
    dark += !(row[bit / 8] & (0x80 >> (bit % 8)));
  for (; bit + 8 <= end; bit += 8)
    dark += 8 - static_cast<uint64_t>(std::popcount(row[bit / 8]));
  for (; bit < end; bit++)
    dark += !(row[bit / 8] & (0x80 >> (bit % 8)));
  return dark;
}

} // namespace

int64_t mm_to_dots(int64_t mm, int64_t milliDpi) {
  int64_t scaled = mm * milliDpi;
  int64_t magnitude = (std::abs(scaled) * 2 + kMilliMmPerInch) / (2 * kMilliMmPerInch);
  return scaled < 0 ? -magnitude : magnitude;
}

label_geometry_t measure_label(const parsed_block_t &block, int64_t milliDpi) {
  label_geometry_t geometry;
  geometry.paperWidth = mm_to_dots(block.widthMm, milliDpi);
  geometry.paperHeight = mm_to_dots(block.heightMm, milliDpi);
  geometry.bitmapWidth = int64_t{block.bytesPerRow} * 8;
  geometry.bitmapHeight = block.rows;
  reach(block.x, geometry.bitmapWidth, geometry.paperWidth, &geometry.left, &geometry.right);
  reach(block.y, geometry.bitmapHeight, geometry.paperHeight, &geometry.top, &geometry.bottom);
  return geometry;
}

std::string summary_line(int number, const parsed_block_t &block,
                         const label_geometry_t &geometry) {
  auto text = [](int64_t value) { return std::to_string(value); };
  std::string overhang = overhang_text(geometry);
  return "label " + text(number) + ": " + text(block.widthMm) + "x" + text(block.heightMm) +
         " mm (" + text(geometry.paperWidth) + "x" + text(geometry.paperHeight) + " dots), gap " +
         block.gap.value_or("none") + ", speed " + text(block.speed) + ", density " +
         text(block.density) + ", bitmap " + text(geometry.bitmapWidth) + "x" +
         text(geometry.bitmapHeight) + " dots at " + text(block.x) + "," + text(block.y) +
         ", dark " + std::to_string(dark_dots(block)) + " dots, copies " +
         (block.copies ? text(*block.copies) : "none") +
         (overhang.empty() ? "" : ", overhang " + overhang);
}

std::string overhang_text(const label_geometry_t &geometry) {
  const uint64_t dots[4] = {
      static_cast<uint64_t>(geometry.left), static_cast<uint64_t>(geometry.top),
      static_cast<uint64_t>(geometry.right), static_cast<uint64_t>(geometry.bottom)};
  return sides_text(dots, " dots");
}

lost_dots_t lost_dark_dots(const parsed_block_t &block, const label_geometry_t &geometry) {
  lost_dots_t lost = {0, 0, 0, 0};
  // The bitmap columns that lie left of the paper end at firstOnPaper, those on it at
  // firstPastPaper.
  int64_t firstOnPaper = std::clamp<int64_t>(-int64_t{block.x}, 0, geometry.bitmapWidth);
  int64_t firstPastPaper = std::clamp<int64_t>(std::max<int64_t>(geometry.paperWidth, 0) - block.x,
                                               firstOnPaper, geometry.bitmapWidth);
  for (int64_t row = 0; row < geometry.bitmapHeight; row++) {
    const uint8_t *bits = block.image.data() + row * block.bytesPerRow;
    lost.left += dark_bits(bits, 0, firstOnPaper);
    lost.right += dark_bits(bits, firstPastPaper, geometry.bitmapWidth);
    int64_t y = block.y + row;
    if (y < 0)
      lost.top += dark_bits(bits, firstOnPaper, firstPastPaper);
    else if (y >= geometry.paperHeight)
      lost.bottom += dark_bits(bits, firstOnPaper, firstPastPaper);
  }
  return lost;
}

std::string lost_dots_text(const lost_dots_t &lost) {
  const uint64_t counts[4] = {lost.left, lost.top, lost.right, lost.bottom};
  uint64_t total = lost.left + lost.top + lost.right + lost.bottom;
  if (!total)
    return "";
  std::string text = std::to_string(total) + (total == 1 ? " dark dot falls" : " dark dots fall") +
                     " outside the label";
  for (int side = 0; side < 4; side++)
    if (counts[side] == total)
      return text + " " + kSides[side];
  return text + ": " + sides_text(counts, "");
}

std::string undrawable_paper_text(const label_geometry_t &geometry) {
  if (geometry.paperWidth > 0 && geometry.paperHeight > 0 && geometry.paperWidth <= kMaxPaperDots &&
      geometry.paperHeight <= kMaxPaperDots)
    return "";
  return "a paper of " + std::to_string(geometry.paperWidth) + "x" +
         std::to_string(geometry.paperHeight) + " dots cannot be drawn (1 to " +
         std::to_string(kMaxPaperDots) + " dots a side)";
}

void draw_paper_row(const parsed_block_t &block, const label_geometry_t &geometry, int64_t y,
                    uint8_t *row) {
  memset(row, 0xff, static_cast<size_t>((geometry.paperWidth + 7) / 8));
  int64_t sourceRow = y - block.y;
  if (sourceRow < 0 || sourceRow >= geometry.bitmapHeight)
    return;
  const uint8_t *source = block.image.data() + sourceRow * block.bytesPerRow;
  int64_t first = std::max<int64_t>(block.x, 0);
  int64_t end = std::min(block.x + geometry.bitmapWidth, geometry.paperWidth);
  if (first >= end)
    return;

  // A bitmap on a whole byte of the paper copies its bytes; bits past the paper's
  // width in the last byte are padding that the picture ignores.
  if (block.x % 8 == 0) {
    memcpy(row + first / 8, source + (first - block.x) / 8,
           static_cast<size_t>((end - first + 7) / 8));
    return;
  }
  for (int64_t x = first; x < end; x++) {
    int64_t bit = x - block.x;
    if (!(source[bit / 8] & (0x80 >> (bit % 8))))
      row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
  }
}
