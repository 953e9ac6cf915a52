// SPDX-License-Identifier: Apache-2.0
// Black-and-white pictures written as PNG files through libpng.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Fill row y of a picture: (width + 7) / 8 bytes, leftmost dot in bit 7, 0 black, 1 white.
using png_row_source_t = std::function<void(uint32_t y, uint8_t *row)>;

// Write a width x height 1-bit gray PNG, tagged with its resolution, row by row;
// on failure remove the file, set error and return false.
bool write_gray1_png(const std::string &path, uint32_t width, uint32_t height, int64_t milliDpi,
                     const png_row_source_t &rows, std::string *error);

// Encode the same picture into memory, for a server to send; false with the reason in error.
bool encode_gray1_png(uint32_t width, uint32_t height, int64_t milliDpi,
                      const png_row_source_t &rows, std::string *png, std::string *error);
