// SPDX-License-Identifier: Apache-2.0
// The block last sent to each printer's device, byte for byte, kept for the "Last Label"
// page: jobs on several printers store while web clients read.
#pragma once

#include <ctime>
#include <memory>
#include <pappl/pappl.h>
#include <string>

// A printer's last label as it was sent; an empty block says it could not be kept.
struct last_label_t {
  std::string block;
  int jobId;
  unsigned page;
  time_t sent;
  unsigned serial; // new for every label kept, so that a browser fetches each new picture
};

// Keep the block just sent to the printer's device as its last label.
void keep_last_label(pappl_printer_t *printer, pappl_job_t *job, unsigned page, std::string block);

// The printer's last label, or null when it has printed none since the start.
std::shared_ptr<const last_label_t> find_last_label(int printerId);
