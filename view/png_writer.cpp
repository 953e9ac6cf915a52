// SPDX-License-Identifier: Apache-2.0
#include "view/png_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <png.h>
#include <vector>

namespace {

// Keep libpng's message and return to the setjmp in write_rows.
[[noreturn]] void on_png_error(png_structp png, png_const_charp message) {
  *static_cast<std::string *>(png_get_error_ptr(png)) = message;
  png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// Encode the picture to the open file; false with libpng's message on failure.
// Nothing with a destructor is created after setjmp, so the jump back skips none.
bool write_rows(FILE *file, uint32_t width, uint32_t height, int64_t milliDpi,
                const png_row_source_t &rows, std::string *error) {
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, error, on_png_error, on_png_warning);
  if (!png) {
    *error = "cannot start the PNG encoder";
    return false;
  }
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t> row((size_t{width} + 7) / 8);
  if (!info || setjmp(png_jmpbuf(png))) {
    if (!info)
      *error = "cannot start the PNG encoder";
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Dots per metre, so that viewers can show the label at its real size.
  auto dotsPerMetre = static_cast<png_uint_32>((milliDpi * 1000 + 12700) / 25400);
  png_set_pHYs(png, info, dotsPerMetre, dotsPerMetre, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; y++) {
    rows(y, row.data());
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

} // namespace

bool write_gray1_png(const std::string &path, uint32_t width, uint32_t height, int64_t milliDpi,
                     const png_row_source_t &rows, std::string *error) {
  FILE *file = fopen(path.c_str(), "wb");
  if (!file) {
    *error = strerror(errno);
    return false;
  }
  bool written = write_rows(file, width, height, milliDpi, rows, error);
  if (fclose(file) != 0 && written) {
    *error = strerror(errno);
    written = false;
  }
  if (!written)
    remove(path.c_str());
  return written;
}

bool encode_gray1_png(uint32_t width, uint32_t height, int64_t milliDpi,
                      const png_row_source_t &rows, std::string *png, std::string *error) {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *memory = open_memstream(&buffer, &size);
  if (!memory) {
    *error = strerror(errno);
    return false;
  }
  bool written = write_rows(memory, width, height, milliDpi, rows, error);
  if (fclose(memory) != 0 && written) {
    *error = strerror(errno);
    written = false;
  }
  if (written)
    png->assign(buffer, size);
  free(buffer);
  return written;
}
