// SPDX-License-Identifier: Apache-2.0
// Bytes on their way to a printer, through PAPPL's device writes with a bound: a printer
// that takes no data is given up on instead of holding the job, its cancel and the
// server for ever. A socket:// printer's connection (papplDeviceGetSocket) is sized to a
// block, watched until the printer has taken every byte, and replaced by a new one when
// the printer went away within a job.
#pragma once

#include <cstddef>
#include <pappl/pappl.h>
#include <string>

// How long a printer may take no data before the job gives it up.
inline constexpr int kStallSeconds = 10;

// How a write to the printer ended.
enum class send_result_t {
  kSent,   // every byte is with the kernel or the device
  kGone,   // the printer closed or reset the connection: it may come back
  kFailed, // the printer took no data for kStallSeconds, or the device failed
};

// Write bytes to the device, with the reason in *error unless all were sent. A printer
// that took no data for kStallSeconds is given up on and its connection shut. A block
// begun is always sent whole, even when its job stops, since a printer may read the
// next connection's bytes as the rest of a bitmap cut short.
send_result_t send_to_printer(pappl_device_t *device, const void *data, size_t size,
                              std::string *error);

// Wait until a socket:// printer has taken every byte sent (the socket's send queue is
// empty) or the job stops; false, with the bytes it left in *unsent and the connection
// shut, once it took none for kStallSeconds.
bool wait_until_sent(pappl_device_t *device, pappl_job_t *job, bool (*stopping)(pappl_job_t *),
                     int *unsent);

// Why a printer that took no data was given up on.
std::string stall_message();

// Keep what the kernel holds for a socket:// printer to about one block, so that a cancel
// or a stop lets little more than the block begun reach the printer.
void size_printer_buffer(pappl_device_t *device, size_t blockBytes);

// Connect to the socket:// printer at uri again, in place of the device's connection, which
// is closed; false with the reason when the printer cannot be reached.
bool reconnect_printer(pappl_device_t *device, const char *uri, std::string *error);
