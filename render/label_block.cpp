// SPDX-License-Identifier: Apache-2.0
#include "render/label_block.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

void write_text(const label_sink_t *sink, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Write one formatted command line with its exact length.
void write_text(const label_sink_t *sink, const char *format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length > 0)
    sink->write(sink->context, line,
                static_cast<size_t>(length) < sizeof line ? length : sizeof line - 1);
}

// The four mode lines of each label mode, in the order the block writes them.
struct mode_lines_t {
  const char *peel;
  const char *cutter;
  const char *partialCutter;
  const char *tear;
};

const mode_lines_t kModeLines[] = {
    {"OFF", "OFF", "OFF", "ON"},
    {"ON", "OFF", "OFF", "OFF"},
    {"OFF", "1", "OFF", "OFF"},
};

// Write the OFFSET line: the tear-off position in inches, rounded to thousandths, and
// never "-0.000".
void write_tear_offset(const label_sink_t *sink, int16_t hmm) {
  long thousandths = std::lround(clamp_tear_offset(hmm) * 100.0 / 254.0);
  write_text(sink, "OFFSET %s%ld.%03ld\r\n", thousandths < 0 ? "-" : "",
             std::labs(thousandths) / 1000, std::labs(thousandths) % 1000);
}

} // namespace

void write_label_setup(const label_sink_t *sink, const label_doc_t *doc) {
  write_text(sink, "SIZE %dmm,%dmm\r\n", doc->pageWidth, doc->pageHeight);
  if (doc->mediaTracking == 0)
    write_text(sink, "GAP 0.000,0.000\r\n");
  else if (doc->mediaTracking == 1 || doc->mediaTracking == 2)
    write_text(sink, "GAP 0.120,0.000\r\n");
  write_text(sink, "SPEED %d\r\n", doc->speed);
  write_text(sink, "DENSITY %d\r\n", doc->darkness);
  write_text(sink, "DIRECTION 0,0\r\n");
  write_text(sink, "REFERENCE %d,%d\r\n", doc->refX, doc->refY);
  write_tear_offset(sink, doc->tearOffset);
  write_text(sink, "SHIFT 0\r\n");
  const mode_lines_t &lines = doc->labelMode == kLabelPeelOff || doc->labelMode == kLabelCutter
                                  ? kModeLines[doc->labelMode]
                                  : kModeLines[kLabelTearOff];
  write_text(sink, "SET PEEL %s\r\n", lines.peel);
  write_text(sink, "SET CUTTER %s\r\n", lines.cutter);
  write_text(sink, "SET PARTIAL_CUTTER %s\r\n", lines.partialCutter);
  write_text(sink, "SET TEAR %s\r\n", lines.tear);
  write_text(sink, "CLS\r\n");
}

void write_label_bitmap(const label_sink_t *sink, const label_doc_t *doc,
                        const label_image_t *image, uint8_t *bitPage) {
  write_text(sink, "BITMAP %d,%d,%u,%u,1,", doc->horizontal, doc->vertical, image->bytesPerRow,
             image->rows);
  size_t count = static_cast<size_t>(image->bytesPerRow) * image->rows;
  for (size_t i = 0; i < count; i++)
    bitPage[i] = static_cast<uint8_t>(~bitPage[i]);
  sink->write(sink->context, bitPage, count);
  sink->write(sink->context, "\r\n", 2);
}

void write_label_print(const label_sink_t *sink, const label_image_t *image) {
  write_text(sink, "PRINT 1,%d\r\n", image->copies);
}

void send_label_image(const label_sink_t *sink, const label_doc_t *doc, const label_image_t *image,
                      uint8_t *bitPage) {
  write_label_setup(sink, doc);
  write_label_bitmap(sink, doc, image, bitPage);
}
