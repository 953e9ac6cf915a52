// SPDX-License-Identifier: Apache-2.0
#include "filter/job_options.h"

#include <cstdio>
#include <cstring>

#include "filter/number_text.h"
#include "log/diag_log.h"

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
  kLabelMode,
  kTearOffset,
  kOptionCount
};

const char *const kOptionNames[kOptionCount] = {"Darkness", "PrintSpeed",    "Horizontal",
                                                "Vertical", "MediaTracking", "PrintMode",
                                                "PageSize", "LabelMode",     "TearOffset"};

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

void set_custom_page_size(label_doc_t *doc, const char *value) {
  float w = 0.0f, h = 0.0f;
  int end = -1;
  sscanf(value, "Custom.%fx%f%n", &w, &h, &end);
  WriteLog("(wxh)|%f|%f|", static_cast<double>(w), static_cast<double>(h));

  // Without a unit the numbers are points; a unit suffix is honoured.
  double scale = end >= 0 ? unit_points(value + end) : 1.0;
  double wMm = custom_points_to_mm(w * scale);
  double hMm = custom_points_to_mm(h * scale);
  WriteLog("(wxh)|%f|%f|", wMm, hMm);

  set_custom_size_mm(doc, wMm, hMm);
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
    case kLabelMode:
      doc->labelMode = store16(text_to_int(option.value));
      break;
    case kTearOffset:
      doc->tearOffset = clamp_tear_offset(text_to_int(option.value));
      break;
    }
  }
}
