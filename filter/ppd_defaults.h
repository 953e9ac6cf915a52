// SPDX-License-Identifier: Apache-2.0
// The PPD layer: the printer's Default... attributes over the built-in defaults.
#pragma once

#include "filter/job_settings.h"

// What the PPD=%s log line shows when the PPD variable is not set.
inline constexpr const char *kPpdUnsetMarker = "(unset)";

// Read the PPD named by the PPD environment variable and apply its defaults to doc.
void set_pstops_with_ppd(label_doc_t *doc);

// Set the label size from a custom DefaultPageSize value, honouring its unit.
void set_ppd_custom_page_size(label_doc_t *doc, const char *value);
