// SPDX-License-Identifier: Apache-2.0
#include "filter/ppd_defaults.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filter/job_options.h"
#include "filter/number_text.h"
#include "log/diag_log.h"

// libcups marks the PPD functions deprecated, but they are how a filter reads its PPD.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace {

// The attributes read, in the order they are applied, and the field each sets.
struct ppd_default_t {
  const char *keyword;
  int16_t label_doc_t::*field;
  int32_t divisor;
  int16_t (*store)(int32_t value);
};

const ppd_default_t kPpdDefaults[] = {
    {"DefaultDarkness", &label_doc_t::darkness, 1, store16},
    {"DefaultPrintSpeed", &label_doc_t::speed, 10, store16},
    {"DefaultVertical", &label_doc_t::vertical, 1, store16},
    {"DefaultHorizontal", &label_doc_t::horizontal, 1, store16},
    {"DefaultMediaTracking", &label_doc_t::mediaTracking, 1, store16},
    {"DefaultPrintMode", &label_doc_t::mode, 1, store16},
    {"DefaultLabelMode", &label_doc_t::labelMode, 1, store16},
    {"DefaultTearOffset", &label_doc_t::tearOffset, 1, clamp_tear_offset},
};

// An attribute without a value text counts as missing.
ppd_attr_t *find_default(ppd_file_t *ppd, const char *keyword) {
  ppd_attr_t *attr = ppdFindAttr(ppd, keyword, nullptr);
  return attr && attr->value ? attr : nullptr;
}

void set_ppd_page_size(label_doc_t *doc, const char *value) {
  if (strstr(value, "Custom"))
    set_ppd_custom_page_size(doc, value);
  else
    set_named_page_size(doc, value);
}

} // namespace

// Each unit converts with its own precision: some products are rounded to
// single precision before they are cut to whole millimetres.
void set_ppd_custom_page_size(label_doc_t *doc, const char *value) {
  float w = 0.0f, h = 0.0f;
  sscanf(value, "Custom.%fx%f", &w, &h);
  WriteLog("(src:wxh)|%f|%f|", static_cast<double>(w), static_cast<double>(h));

  double wMm, hMm;
  if (strstr(value, "mm")) {
    wMm = w;
    hMm = h;
    WriteLog("(mm:wxh)|%f|%f|", wMm, hMm);
  } else if (strstr(value, "pt")) {
    wMm = static_cast<double>(w / 72.0f) * 25.4;
    hMm = static_cast<double>(h / 72.0f) * 25.4;
    WriteLog("(pt:wxh)|%f|%f|", wMm, hMm);
  } else if (strstr(value, "cm")) {
    float wCm = w * 10.0f, hCm = h * 10.0f;
    wMm = wCm;
    hMm = hCm;
    WriteLog("(cm:wxh)|%f|%f|", wMm, hMm);
  } else if (strstr(value, "in")) {
    wMm = static_cast<double>(w) * 25.4;
    hMm = static_cast<double>(h) * 25.4;
    WriteLog("(in:wxh)|%f|%f|", wMm, hMm);
  } else if (strstr(value, "ft")) {
    wMm = static_cast<double>(w) * 304.8;
    hMm = static_cast<double>(h) * 304.8;
    WriteLog("(ft:wxh)|%f|%f|", wMm, hMm);
  } else {
    float wM = w * 1000.0f, hM = h * 1000.0f;
    wMm = wM;
    hMm = hM;
    WriteLog("(m:wxh)|%f|%f|", wMm, hMm);
  }

  doc->pageWidth = store16(truncate_to_int(wMm));
  doc->pageHeight = store16(truncate_to_int(hMm));
}

void set_pstops_with_ppd(label_doc_t *doc) {
  const char *path = getenv("PPD");
  WriteLog("PPD=%s", path ? path : kPpdUnsetMarker);

  ppd_file_t *ppd = path ? ppdOpenFile(path) : nullptr;
  if (!ppd) {
    WriteLog("can't param ppdfile");
    return;
  }
  WriteLog("module_number:%d", ppd->model_number);

  if (ppd_attr_t *attr = find_default(ppd, "DefaultPageSize")) {
    WriteLog("ppdfile %s:%s", attr->name, attr->value);
    set_ppd_page_size(doc, attr->value);
  }
  for (const ppd_default_t &entry : kPpdDefaults) {
    ppd_attr_t *attr = find_default(ppd, entry.keyword);
    if (!attr)
      continue;
    WriteLog("ppdfile %s:%s", attr->name, attr->value);
    doc->*entry.field = entry.store(text_to_int(attr->value) / entry.divisor);
  }

  WriteLog("ppdfile PageSize:%dx%d", doc->pageWidth, doc->pageHeight);
  WriteLog("ppdfile Speed:%d", doc->speed);
  WriteLog("ppdfile Darkness:%d", doc->darkness);
  WriteLog("ppdfile MediaTracking:%d", doc->mediaTracking);
  WriteLog("ppdfile Mode:%d", doc->mode);
  ppdClose(ppd);
}
