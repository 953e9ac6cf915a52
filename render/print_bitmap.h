// SPDX-License-Identifier: Apache-2.0
// The page loop: raster pages in, one label command block per page out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cups/cups.h>

#include "render/label_doc.h"

// Where the page loop writes, and the largest gray page it accepts.
struct page_output_t {
  FILE *out;
  FILE *err;
  uint64_t maxGrayBytes;
};

// The largest gray page: its byte count and every pixel index fit a signed 32-bit integer.
inline constexpr uint64_t kMaxGrayBytes = INT32_MAX;

// How the page loop ended: every page sent (or the job cancelled), the input not a
// raster stream at all, or a page refused for memory.
enum render_result_t { kRenderDone, kRenderNotRaster, kRenderNoMemory };

// Render every page of the open input to standard output.
render_result_t print_bitmap(const label_doc_t *doc, cups_file_t *input);

// Render every page of the raster stream on fd to the given output.
render_result_t render_pages(const label_doc_t *doc, int fd, const page_output_t *output);

// Ask the page loop to stop at the next command boundary; safe in a signal handler.
void cancel_job(int signal_number);
