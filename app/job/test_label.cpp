// SPDX-License-Identifier: Apache-2.0
#include "app/job/test_label.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/job/print_settings.h"
#include "view/png_writer.h"

namespace {

// A 5x7 dot font for the characters of the test label; each byte is one row, the
// low five bits the dots from left to right.
struct glyph_t {
  char c;
  uint8_t rows[7];
};

const glyph_t kGlyphs[] = {
    {'0', {14, 17, 19, 21, 25, 17, 14}}, {'1', {4, 12, 4, 4, 4, 4, 14}},
    {'2', {14, 17, 1, 2, 4, 8, 31}},     {'3', {31, 2, 4, 2, 1, 17, 14}},
    {'4', {2, 6, 10, 18, 31, 2, 2}},     {'5', {31, 16, 30, 1, 1, 17, 14}},
    {'6', {6, 8, 16, 30, 17, 17, 14}},   {'7', {31, 1, 2, 4, 8, 8, 8}},
    {'8', {14, 17, 17, 14, 17, 17, 14}}, {'9', {14, 17, 17, 15, 1, 2, 12}},
    {'A', {14, 17, 17, 31, 17, 17, 17}}, {'B', {30, 17, 17, 30, 17, 17, 30}},
    {'C', {14, 17, 16, 16, 16, 17, 14}}, {'D', {28, 18, 17, 17, 17, 18, 28}},
    {'E', {31, 16, 16, 30, 16, 16, 31}}, {'F', {31, 16, 16, 30, 16, 16, 16}},
    {'G', {14, 17, 16, 23, 17, 17, 15}}, {'H', {17, 17, 17, 31, 17, 17, 17}},
    {'I', {14, 4, 4, 4, 4, 4, 14}},      {'K', {17, 18, 20, 24, 20, 18, 17}},
    {'L', {16, 16, 16, 16, 16, 16, 31}}, {'M', {17, 27, 21, 21, 17, 17, 17}},
    {'N', {17, 17, 25, 21, 19, 17, 17}}, {'O', {14, 17, 17, 17, 17, 17, 14}},
    {'P', {30, 17, 17, 30, 16, 16, 16}}, {'R', {30, 17, 17, 30, 20, 18, 17}},
    {'S', {15, 16, 16, 14, 1, 1, 30}},   {'T', {31, 4, 4, 4, 4, 4, 4}},
    {'U', {17, 17, 17, 17, 17, 17, 14}}, {'V', {17, 17, 17, 17, 10, 10, 4}},
    {'W', {17, 17, 17, 21, 21, 21, 10}}, {'X', {17, 17, 10, 4, 10, 17, 17}},
    {'Y', {17, 17, 10, 4, 4, 4, 4}},     {'Z', {31, 1, 2, 4, 8, 16, 31}},
    {'.', {0, 0, 0, 0, 0, 12, 12}},      {':', {0, 12, 12, 0, 12, 12, 0}},
    {'-', {0, 0, 0, 31, 0, 0, 0}},       {'/', {0, 1, 2, 4, 8, 16, 0}},
};

// A gray page being drawn, 0 black and 255 white.
struct canvas_t {
  unsigned width;
  unsigned height;
  std::vector<uint8_t> pixels;
};

// Paint a black rectangle, clipped to the canvas.
void fill_box(canvas_t *canvas, unsigned x, unsigned y, unsigned w, unsigned h) {
  for (unsigned row = y; row < y + h && row < canvas->height; row++)
    for (unsigned col = x; col < x + w && col < canvas->width; col++)
      canvas->pixels[static_cast<size_t>(row) * canvas->width + col] = 0;
}

// Draw upper-case text with the dot font, each dot scale x scale pixels.
void draw_text(canvas_t *canvas, unsigned x, unsigned y, unsigned scale, const char *text) {
  for (; *text; text++, x += 6 * scale)
    for (const glyph_t &glyph : kGlyphs)
      if (glyph.c == *text)
        for (unsigned row = 0; row < 7; row++)
          for (unsigned col = 0; col < 5; col++)
            if (glyph.rows[row] & (16 >> col))
              fill_box(canvas, x + col * scale, y + row * scale, scale, scale);
}

// The keyword of the printer's default conversion rule, in capitals for the dot font.
void upper_copy(char *to, size_t size, const char *from) {
  size_t i = 0;
  for (; from[i] && i + 1 < size; i++)
    to[i] = static_cast<char>(from[i] >= 'a' && from[i] <= 'z' ? from[i] - 32 : from[i]);
  to[i] = '\0';
}

// Write the canvas as a black-and-white PNG tagged with the printer's resolution:
// PAPPL types a test page by its file name, and the PNG filter prints it dot for dot.
bool write_picture(const char *path, const canvas_t *canvas, int resolution) {
  auto row = [canvas](uint32_t y, uint8_t *bits) {
    const uint8_t *gray = &canvas->pixels[static_cast<size_t>(y) * canvas->width];
    memset(bits, 0xff, (canvas->width + 7) / 8);
    for (unsigned x = 0; x < canvas->width; x++)
      if (gray[x] < 128)
        bits[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
  };
  std::string error;
  return write_gray1_png(path, canvas->width, canvas->height, int64_t{resolution} * 1000, row,
                         &error);
}

} // namespace

const char *make_label_test_page(pappl_printer_t *printer, char *buffer, size_t bufsize) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  pwg_media_t *pwg = pwgMediaForPWG(data.media_default.size_name);
  if (!pwg)
    pwg = pwgMediaForPWG("na_index-4x6_4x6in");
  const label_model_t *model = printer_model(printer);
  int resolution = model->resolution;

  canvas_t canvas;
  canvas.width = static_cast<unsigned>(pwg->width * resolution / 2540);
  canvas.height = static_cast<unsigned>(pwg->length * resolution / 2540);
  if (canvas.width > model->headWidthDots)
    canvas.width = model->headWidthDots;
  canvas.pixels.assign(static_cast<size_t>(canvas.width) * canvas.height, 255);

  // A frame, the model and settings, and bars of one to eight dots.
  unsigned margin = resolution / 10, line = resolution / 100 + 1, scale = resolution / 75;
  fill_box(&canvas, margin, margin, canvas.width - 2 * margin, line);
  fill_box(&canvas, margin, canvas.height - margin - line, canvas.width - 2 * margin, line);
  fill_box(&canvas, margin, margin, line, canvas.height - 2 * margin);
  fill_box(&canvas, canvas.width - margin - line, margin, line, canvas.height - 2 * margin);

  // The lines are logged as drawn, so that what a test label says can be read back.
  char lines[5][128], conversion[64], mode[64], setting[64];
  upper_copy(lines[0], sizeof lines[0], data.make_and_model);
  snprintf(lines[1], sizeof lines[1], "%u DPI  %.0fX%.0f MM", resolution, pwg->width / 100.0,
           pwg->length / 100.0);
  // The speed as a job with the defaults is sent, in whole inches per second.
  pappl_pr_options_t defaults{};
  defaults.media = data.media_default;
  defaults.darkness_configured = data.darkness_configured;
  defaults.print_speed = data.speed_default;
  copy_conversion_default(printer, setting, sizeof setting);
  label_doc_t doc{};
  set_label_doc_from_job(&doc, &defaults, setting, resolution);
  snprintf(lines[2], sizeof lines[2], "DARKNESS %d/100  SPEED %d IN/S", data.darkness_configured,
           doc.speed);
  upper_copy(conversion, sizeof conversion, setting);
  snprintf(lines[3], sizeof lines[3], "CONVERSION %s", conversion);
  upper_copy(mode, sizeof mode, g_label_mode_names[label_mode_for(data.mode_configured)].keyword);
  snprintf(lines[4], sizeof lines[4], "MODE %s  TEAR %.2f MM", mode,
           tear_offset_default(printer) / 100.0);
  unsigned x = 2 * margin, y = 2 * margin, step = 10 * scale;
  for (const char *text : lines) {
    draw_text(&canvas, x, y, scale, text);
    y += step;
  }
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Test label: %s / %s / %s / %s / %s", lines[0],
                  lines[1], lines[2], lines[3], lines[4]);
  y += step;
  for (unsigned bar = 1, bx = x; bar <= 8 && bx + 4 * bar < canvas.width - 2 * margin; bar++) {
    for (int repeat = 0; repeat < 4; repeat++, bx += 2 * bar)
      fill_box(&canvas, bx, y, bar, 3 * step);
    bx += 4 * bar;
  }

  snprintf(buffer, bufsize, "%s/strobane-test-label-%d.png", papplGetTempDir(), getpid());
  if (!write_picture(buffer, &canvas, resolution)) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Unable to write the test label to %s.", buffer);
    return nullptr;
  }
  return buffer;
}
