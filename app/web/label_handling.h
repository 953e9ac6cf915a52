// SPDX-License-Identifier: Apache-2.0
// The printer's "Label Handling" page: a blank label fed, the label sensor calibrated,
// and the label mode.
#pragma once

#include <pappl/pappl.h>

// Add the printer's "Label Handling" page and its link; when the printer is created.
void add_device_actions_page(pappl_printer_t *printer);
