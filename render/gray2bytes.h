// SPDX-License-Identifier: Apache-2.0
// Conversion of an 8-bit gray page to a packed 1-bit image by one of five rules.
#pragma once

#include <cstdint>

// Set the bit of every dark pixel of gray (row stride bytesPerRow * 8) in bits
// (bytesPerRow bytes per row, most significant bit leftmost). mode 0 and 1 are
// thresholds, 2 to 4 dither matrices; any other mode converts as mode 1.
void Gray2Bytes(const uint8_t *gray, uint8_t *bits, int bytesPerRow, int rows, int mode);

// The same conversion written pixel by pixel, kept as the reference the fast path is checked
// against.
void Gray2BytesLiteral(const uint8_t *gray, uint8_t *bits, int bytesPerRow, int rows, int mode);
