// SPDX-License-Identifier: Apache-2.0
// Fuzz the page loop: the first byte picks the conversion mode, the rest is the
// raster stream, rendered into a sink that discards the commands.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include "render/print_bitmap.h"

namespace {

// Pages are capped at 64 KiB of gray so that the fuzzer spends its time on the loop's
// logic rather than on converting and allocating big pages.
constexpr uint64_t kFuzzMaxGrayBytes = 64u << 10;

int g_input = -1;
FILE *g_sink = nullptr;

} // namespace

// Open the in-memory input file and the discarding sink once.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_input = memfd_create("fuzz.ras", MFD_CLOEXEC);
  g_sink = fopen("/dev/null", "w");
  if (g_input < 0 || !g_sink) {
    perror("raster fuzzer setup");
    abort();
  }
  return 0;
}

// Render the stream with the default job settings and the chosen mode.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1)
    return 0;
  if (ftruncate(g_input, 0) != 0 ||
      pwrite(g_input, data + 1, size - 1, 0) != static_cast<ssize_t>(size - 1) ||
      lseek(g_input, 0, SEEK_SET) != 0)
    abort();

  label_doc_t doc = {};
  doc.pageWidth = 60;
  doc.pageHeight = 40;
  doc.speed = 4;
  doc.darkness = 7;
  // Modes -1 to 6: the five rules and the fallback on either side of them.
  doc.mode = static_cast<int16_t>(data[0] % 8 - 1);
  page_output_t output = {g_sink, g_sink, kFuzzMaxGrayBytes};
  render_pages(&doc, g_input, &output);
  return 0;
}
