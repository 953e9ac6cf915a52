// SPDX-License-Identifier: Apache-2.0
// The job option layer and the table of named label sizes.
#pragma once

#include "filter/job_settings.h"

// A named label size in whole millimetres.
struct page_size_t {
  const char *name;
  int32_t width;
  int32_t height;
};

inline constexpr int kPageSizeCount = 17;
extern const page_size_t g_page_list[kPageSizeCount];

// Find a size by its exact, case-sensitive name; null when there is none.
const page_size_t *lookup_page_size(const char *name);

// Set the label size from the table entry of that name; an unknown name changes nothing.
void set_named_page_size(label_doc_t *doc, const char *name);

// Lay the job's options over doc: the first option of each recognised name wins.
void apply_job_options(label_doc_t *doc, int num_options, const cups_option_t *options);

// Set the label size from a custom PageSize value given in points (or with a unit suffix).
void set_custom_page_size(label_doc_t *doc, const char *value);
