// SPDX-License-Identifier: Apache-2.0
// The printer's test label: its model, its settings and a few bars.
#pragma once

#include <pappl/pappl.h>

// Write the test label as a PNG file and return its name for PAPPL to print.
const char *make_label_test_page(pappl_printer_t *printer, char *buffer, size_t bufsize);
