// SPDX-License-Identifier: Apache-2.0
// The label command block of one page, written through a sink.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/label_doc.h"

// Where a block's bytes go: standard output for the filter, the printer's
// device for the printer application, memory for tests and fuzzing.
struct label_sink_t {
  void *context;
  void (*write)(void *context, const void *data, size_t size);
};

// The sizes of one page's 1-bit image.
struct label_image_t {
  uint32_t bytesPerRow;
  uint32_t rows;
  int copies;
};

// Write the setup commands that open every label.
void write_label_setup(const label_sink_t *sink, const label_doc_t *doc);

// Write the BITMAP command: its header, the image inverted in place (dark = 0 bit)
// and the line end.
void write_label_bitmap(const label_sink_t *sink, const label_doc_t *doc,
                        const label_image_t *image, uint8_t *bitPage);

// Write the PRINT command that prints the label the block describes.
void write_label_print(const label_sink_t *sink, const label_image_t *image);

// Write the block of a page's 1-bit image up to the PRINT line, which the caller adds
// unless the job was cancelled meanwhile; the image is inverted in place.
void send_label_image(const label_sink_t *sink, const label_doc_t *doc, const label_image_t *image,
                      uint8_t *bitPage);
