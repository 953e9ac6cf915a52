// SPDX-License-Identifier: Apache-2.0
// The named label sizes and the rule that turns a custom size into millimetres.
#pragma once

#include "render/label_doc.h"

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

// Millimetres of a custom size side given in points, by the label size rule's divisor.
double custom_points_to_mm(double points);

// Set a custom label size from its millimetres: the width rounded, the height cut,
// each side at least 11 mm.
void set_custom_size_mm(label_doc_t *doc, double widthMm, double heightMm);
