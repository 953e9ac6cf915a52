// SPDX-License-Identifier: Apache-2.0
// Commands the printer takes outside a job: a beep to find it, a blank label fed, the
// label sensor calibrated.
#pragma once

#include <pappl/pappl.h>

// The line that makes the printer beep.
inline constexpr char kSoundCommand[] = "SOUND 5,200";

// Send one command line to the printer outside any job; false when a job holds the
// printer or its device cannot be opened or written.
bool send_device_command(pappl_printer_t *printer, const char *command);

// Write one command line to a device already open; false when it cannot be written.
bool write_device_command(pappl_device_t *device, const char *command);
