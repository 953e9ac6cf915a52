// SPDX-License-Identifier: Apache-2.0
// Each printer's "Last Label" web page: the block last sent to its device, read back
// and drawn by the viewer's code, so that the page shows what the printer received.
#pragma once

#include <pappl/pappl.h>

// Add the "Last Label" page and its picture to the printer's web interface.
void add_last_label_page(pappl_printer_t *printer);
