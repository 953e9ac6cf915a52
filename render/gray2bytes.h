// SPDX-License-Identifier: Apache-2.0
// Conversion of an 8-bit gray page to a packed 1-bit image by one of five rules.
#pragma once

#include <cstdint>

// Set the bit of every dark pixel of gray (row stride bytesPerRow * 8) in bits
// (bytesPerRow bytes per row, most significant bit leftmost). mode 0 and 1 are
// thresholds, 2 to 4 dither matrices; any other mode converts as mode 1.
void Gray2Bytes(const uint8_t *gray, uint8_t *bits, int bytesPerRow, int rows, int mode);

// The fast path takes 128 pixels at a time: a multiple of every matrix width, so one
// threshold row serves every block of a row.
inline constexpr int kBlockPixels = 128;

// The thresholds of one page's conversion, a row per row phase, 8 pixels longer than a
// block so that a block may also start half way through a 16-pixel matrix row, and
// whether rows take the processor's AVX2 path (tests clear it to check the other).
struct threshold_table_t {
  int phaseMask;
  bool useAvx2;
  uint8_t row[16][kBlockPixels + 8];
};

// Begin converting a page row by row in mode: work out its thresholds once, and log the
// entry as Gray2Bytes does.
void Gray2BytesBegin(threshold_table_t *table, int mode);

// Set the bit of every dark pixel of row y of a page, read from gray (bytesPerRow * 8
// pixels), in bits (bytesPerRow bytes); bits are only set, never cleared.
void Gray2BytesRow(const threshold_table_t *table, const uint8_t *gray, uint8_t *bits,
                   int bytesPerRow, int y);

// End converting a page row by row: log the exit as Gray2Bytes does.
void Gray2BytesEnd();

// The same conversion written pixel by pixel, kept as the reference the fast path is checked
// against.
void Gray2BytesLiteral(const uint8_t *gray, uint8_t *bits, int bytesPerRow, int rows, int mode);
