// SPDX-License-Identifier: Apache-2.0
// The job option layer.
#pragma once

#include "filter/job_settings.h"
#include "render/label_sizes.h"

// Lay the job's options over doc: the first option of each recognised name wins.
void apply_job_options(label_doc_t *doc, int num_options, const cups_option_t *options);

// Set the label size from a custom PageSize value given in points (or with a unit suffix).
void set_custom_page_size(label_doc_t *doc, const char *value);
