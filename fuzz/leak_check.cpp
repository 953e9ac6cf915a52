// SPDX-License-Identifier: Apache-2.0
// A program that loses a strdup'ed copy, as a leak of the filter's own would look:
// scripts/fuzz.sh runs it under the fuzz targets' leak suppressions and requires
// LeakSanitizer to report it.
#include <cstring>

// Make a copy and drop the only pointer to it.
int main() {
  char *volatile copy = strdup("a copy that nothing frees");
  copy = nullptr;
  return copy != nullptr;
}
