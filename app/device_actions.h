// SPDX-License-Identifier: Apache-2.0
// What the printer does outside a job: a beep to find it, a blank label fed, the label
// sensor calibrated, and the page that offers the last two with the label mode.
#pragma once

#include <pappl/pappl.h>

// The line that makes the printer beep.
inline constexpr char kSoundCommand[] = "SOUND 5,200";

// Send one command line to the printer outside any job; false when a job holds the
// printer or its device cannot be opened or written.
bool send_device_command(pappl_printer_t *printer, const char *command);

// Add the printer's "Label Handling" page and its link; when the printer is created.
void add_device_actions_page(pappl_printer_t *printer);
