// SPDX-License-Identifier: Apache-2.0
// Bytes on their way to a printer. A socket:// printer is written directly, so that a
// printer that takes no data is given up on after a bound instead of holding the job,
// its cancel and the server for ever (PAPPL's own write retries without end).
#pragma once

#include <cstddef>
#include <pappl/pappl.h>
#include <string>

// How long a printer may take no data before the job gives it up.
inline constexpr int kStallSeconds = 10;

// Write bytes to the device; false, with the reason in *error, when the printer took no
// data for kStallSeconds or closed the connection (the connection is then shut, so that
// nothing more reaches the printer) or the device failed.
bool send_to_printer(pappl_device_t *device, const void *data, size_t size, std::string *error);

// Wait until a socket:// printer has taken every byte sent (the socket's send queue is
// empty), giving up once it took none for kStallSeconds; false with the reason.
bool wait_until_sent(pappl_device_t *device, pappl_job_t *job, bool (*stopping)(pappl_job_t *),
                     std::string *error);

// Keep what the kernel holds for a socket:// printer to about one block, so that a cancel
// or a stop lets little more than the block begun reach the printer.
void size_printer_buffer(pappl_device_t *device, size_t blockBytes);
