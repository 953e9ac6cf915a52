// SPDX-License-Identifier: Apache-2.0
// Fuzz the PPD layer: any bytes as the file that the PPD variable names.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include "filter/ppd_defaults.h"

namespace {

// An in-memory file, so that each input is a real file without touching the disk.
int g_ppd = -1;

} // namespace

// Create the file once and point PPD at it by its /proc path.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_ppd = memfd_create("fuzz.ppd", MFD_CLOEXEC);
  if (g_ppd < 0) {
    perror("memfd_create");
    abort();
  }
  char path[64];
  snprintf(path, sizeof path, "/proc/self/fd/%d", g_ppd);
  setenv("PPD", path, 1);
  return 0;
}

// Replace the file's contents with the input and apply the PPD's defaults.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (ftruncate(g_ppd, 0) != 0 || pwrite(g_ppd, data, size, 0) != static_cast<ssize_t>(size))
    abort();
  label_doc_t doc = {};
  set_pstops_with_ppd(&doc);
  return 0;
}
