// SPDX-License-Identifier: Apache-2.0
// Each printer's "Last Label" web page: the block last sent to its device, read back
// and drawn by the viewer's code, so that the page shows what the printer received.
#pragma once

#include <pappl/pappl.h>
#include <string>

// Keep the block just sent to the printer's device as its last label; an empty block
// says that it could not be kept.
void keep_last_label(pappl_printer_t *printer, pappl_job_t *job, unsigned page, std::string block);

// Add the "Last Label" page and its picture to the printer's web interface.
void add_last_label_page(pappl_printer_t *printer);
