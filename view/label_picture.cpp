// SPDX-License-Identifier: Apache-2.0
#include "view/label_picture.h"

#include <algorithm>
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

} // namespace

int64_t mm_to_dots(int64_t mm, int64_t milliDpi) {
  int64_t scaled = mm * milliDpi;
  int64_t magnitude = (std::abs(scaled) * 2 + kMilliMmPerInch) / (2 * kMilliMmPerInch);
  return scaled < 0 ? -magnitude : magnitude;
}

label_geometry_t measure_label(const label_block_t &block, int64_t milliDpi) {
  label_geometry_t geometry;
  geometry.paperWidth = mm_to_dots(block.widthMm, milliDpi);
  geometry.paperHeight = mm_to_dots(block.heightMm, milliDpi);
  geometry.bitmapWidth = int64_t{block.bytesPerRow} * 8;
  geometry.bitmapHeight = block.rows;
  reach(block.x, geometry.bitmapWidth, geometry.paperWidth, &geometry.left, &geometry.right);
  reach(block.y, geometry.bitmapHeight, geometry.paperHeight, &geometry.top, &geometry.bottom);
  return geometry;
}

std::string summary_line(int number, const label_block_t &block, const label_geometry_t &geometry) {
  auto text = [](int64_t value) { return std::to_string(value); };
  return "label " + text(number) + ": " + text(block.widthMm) + "x" + text(block.heightMm) +
         " mm (" + text(geometry.paperWidth) + "x" + text(geometry.paperHeight) + " dots), gap " +
         block.gap.value_or("none") + ", speed " + text(block.speed) + ", density " +
         text(block.density) + ", bitmap " + text(geometry.bitmapWidth) + "x" +
         text(geometry.bitmapHeight) + " dots at " + text(block.x) + "," + text(block.y) +
         ", dark " + std::to_string(dark_dots(block)) + " dots, copies " +
         (block.copies ? text(*block.copies) : "none");
}

std::string overhang_text(const label_geometry_t &geometry) {
  const struct {
    int64_t dots;
    const char *side;
  } sides[] = {{geometry.left, "on the left"},
               {geometry.top, "at the top"},
               {geometry.right, "on the right"},
               {geometry.bottom, "at the bottom"}};
  std::string text;
  for (const auto &side : sides)
    if (side.dots > 0)
      text += (text.empty() ? "" : ", ") + std::to_string(side.dots) + " dots " + side.side;
  return text.empty() ? text : "the bitmap reaches past the label's edge by " + text;
}

void draw_paper_row(const label_block_t &block, const label_geometry_t &geometry, int64_t y,
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
