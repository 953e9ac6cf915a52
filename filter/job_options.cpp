// SPDX-License-Identifier: Apache-2.0
#include "filter/job_options.h"

#include <cstdio>
#include <cstring>

#include "filter/number_text.h"
#include "log/diag_log.h"

const page_size_t g_page_list[kPageSizeCount] = {
    {"100mmx150mm", 100, 150}, {"1.50x1.00in", 38, 25},    {"2.00x1.00in", 51, 25},
    {"2.00x2.00in", 51, 51},   {"2.25x1.25in", 57, 32},    {"3.00x1.00in", 76, 25},
    {"3.00x1.25in", 76, 32},   {"3.00x2.00in", 76, 51},    {"3.00x3.00in", 76, 76},
    {"4.00x1.00in", 102, 25},  {"4.00x2.00in", 102, 51},   {"4.00x3.00in", 102, 76},
    {"4.00x4.00in", 102, 102}, {"4.00x5.00in", 102, 127},  {"4.00x6.00in", 102, 152},
    {"4.00x6.50in", 102, 165}, {"4.00x13.00in", 102, 330},
};

namespace {

// Points in one unit of each suffix that a custom size may carry.
struct point_unit_t {
  const char *suffix;
  double points;
};

const point_unit_t kPointUnits[] = {
    {"mm", 72.0 / 25.4}, {"cm", 720.0 / 25.4}, {"in", 72.0},
    {"ft", 864.0},       {"pt", 1.0},          {"m", 72000.0 / 25.4},
};

// The recognised option names, in the order they are tested.
enum option_id_t {
  kDarkness,
  kPrintSpeed,
  kHorizontal,
  kVertical,
  kMediaTracking,
  kPrintMode,
  kPageSize,
  kOptionCount
};

const char *const kOptionNames[kOptionCount] = {
    "Darkness", "PrintSpeed", "Horizontal", "Vertical", "MediaTracking", "PrintMode", "PageSize"};

// Points per millimetre in the custom size rule: 2.83, deliberately not 72 / 25.4.
constexpr double kPointsPerMm = 2.83;
constexpr int16_t kMinimumSideMm = 11;

// Convert the numbers to points when the text after them is exactly a known unit.
double unit_points(const char *rest) {
  for (const point_unit_t &unit : kPointUnits)
    if (!strcmp(rest, unit.suffix))
      return unit.points;
  return 1.0;
}

void apply_page_size(label_doc_t *doc, const char *name, const char *value) {
  WriteLog("996_PageSize=%s", name);
  WriteLog("997_page_size=%s", value);
  if (strstr(value, "Custom"))
    set_custom_page_size(doc, value);
  else
    set_named_page_size(doc, value);
}

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

void set_custom_page_size(label_doc_t *doc, const char *value) {
  float w = 0.0f, h = 0.0f;
  int end = -1;
  sscanf(value, "Custom.%fx%f%n", &w, &h, &end);
  WriteLog("(wxh)|%f|%f|", static_cast<double>(w), static_cast<double>(h));

  // Without a unit the numbers are points; a unit suffix is honoured.
  double scale = end >= 0 ? unit_points(value + end) : 1.0;
  double wMm = w * scale / kPointsPerMm;
  double hMm = h * scale / kPointsPerMm;
  WriteLog("(wxh)|%f|%f|", wMm, hMm);

  doc->pageWidth = store16(truncate_to_int(wMm + 0.5));
  doc->pageHeight = store16(truncate_to_int(hMm));
  if (doc->pageHeight <= kMinimumSideMm)
    doc->pageHeight = kMinimumSideMm;
  if (doc->pageWidth <= kMinimumSideMm)
    doc->pageWidth = kMinimumSideMm;
  WriteLog("(wxh)|%d|%d|", doc->pageWidth, doc->pageHeight);
}

void apply_job_options(label_doc_t *doc, int num_options, const cups_option_t *options) {
  bool applied[kOptionCount] = {};

  for (int i = 0; i < num_options; i++) {
    const cups_option_t &option = options[i];
    int id = 0;
    while (id < kOptionCount && (applied[id] || strcmp(option.name, kOptionNames[id])))
      id++;
    if (id == kOptionCount)
      continue;
    applied[id] = true;

    switch (id) {
    case kDarkness:
      doc->darkness = store16(text_to_int(option.value));
      break;
    case kPrintSpeed:
      doc->speed = store16(text_to_int(option.value) / 10);
      WriteLog("doc->speed = %d", doc->speed);
      break;
    case kHorizontal:
      doc->horizontal = store16(text_to_int(option.value));
      break;
    case kVertical:
      doc->vertical = store16(text_to_int(option.value));
      break;
    case kMediaTracking:
      doc->mediaTracking = store16(text_to_int(option.value));
      WriteLog("doc->mediaTracking = %d", doc->mediaTracking);
      break;
    case kPrintMode:
      doc->mode = store16(text_to_int(option.value));
      WriteLog("doc->mode = %d", doc->mode);
      break;
    case kPageSize:
      apply_page_size(doc, option.name, option.value);
      break;
    }
  }
}
