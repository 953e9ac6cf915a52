// SPDX-License-Identifier: Apache-2.0
// The job settings record and the order in which its three layers fill it.
#pragma once

#include <cups/cups.h>

#include "render/label_doc.h"

// Fill the zero-filled doc: arguments 1 to 4 and the built-in defaults, then the
// PPD's defaults, then the job's options.
void set_pstops_options(label_doc_t *doc, char **argv, int num_options, cups_option_t *options);
