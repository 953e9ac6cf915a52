// SPDX-License-Identifier: Apache-2.0
#include "render/label_sizes.h"

#include <cstring>

const page_size_t g_page_list[kPageSizeCount] = {
    {"100mmx150mm", 100, 150}, {"1.50x1.00in", 38, 25},    {"2.00x1.00in", 51, 25},
    {"2.00x2.00in", 51, 51},   {"2.25x1.25in", 57, 32},    {"3.00x1.00in", 76, 25},
    {"3.00x1.25in", 76, 32},   {"3.00x2.00in", 76, 51},    {"3.00x3.00in", 76, 76},
    {"4.00x1.00in", 102, 25},  {"4.00x2.00in", 102, 51},   {"4.00x3.00in", 102, 76},
    {"4.00x4.00in", 102, 102}, {"4.00x5.00in", 102, 127},  {"4.00x6.00in", 102, 152},
    {"4.00x6.50in", 102, 165}, {"4.00x13.00in", 102, 330},
};

namespace {

// Points per millimetre in the custom size rule: 2.83, deliberately not 72 / 25.4.
constexpr double kPointsPerMm = 2.83;
constexpr int16_t kMinimumSideMm = 11;

} // namespace

const page_size_t *lookup_page_size(const char *name) {
  for (const page_size_t &size : g_page_list)
    if (!strcmp(size.name, name))
      return &size;
  return nullptr;
}

void set_named_page_size(label_doc_t *doc, const char *name) {
  if (const page_size_t *size = lookup_page_size(name)) {
    doc->pageWidth = store16(size->width);
    doc->pageHeight = store16(size->height);
  }
}

double custom_points_to_mm(double points) {
  return points / kPointsPerMm;
}

void set_custom_size_mm(label_doc_t *doc, double widthMm, double heightMm) {
  doc->pageWidth = store16(truncate_to_int(widthMm + 0.5));
  doc->pageHeight = store16(truncate_to_int(heightMm));
  if (doc->pageHeight <= kMinimumSideMm)
    doc->pageHeight = kMinimumSideMm;
  if (doc->pageWidth <= kMinimumSideMm)
    doc->pageWidth = kMinimumSideMm;
}
