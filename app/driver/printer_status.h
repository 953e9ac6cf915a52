// SPDX-License-Identifier: Apache-2.0
// The printer's status byte: asked over its device, shown as printer-state-reasons,
// and waited on before each block and until the labels are out.
#pragma once

#include <pappl/pappl.h>

// The printer-state-reasons that a status byte sets.
pappl_preason_t status_reasons(int byte);

// Put the byte's meaning in words for the log and the job's message ("printing, out of
// labels").
void describe_status(int byte, char *text, size_t size);

// What a job knows of its printer's answers.
struct printer_watch_t {
  bool asking;         // false for devices that cannot answer and after a missed answer
  bool answered;       // the printer has answered in this job
  bool waiting;        // the job's message says it waits for the printer
  unsigned char last;  // the last status byte, for logging changes only
  double printSeconds; // how long the labels sent so far take to come out
};

// Decide whether the job's device can be asked, and drop answers left from before.
void start_printer_watch(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device);

// Wait until the printer may take the next block; false when the job is stopping.
bool wait_for_printer(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                      bool (*stopping)(pappl_job_t *));

// Count a block's labels into the time they take to come out.
void add_printed_labels(printer_watch_t *watch, int copies, int lengthMm, int speed);

// Wait until the printer reports it has stopped printing, within a bound from the labels,
// or for a printer that does not answer until it has taken every byte; false, with the
// job's message saying what may be missing, when it did neither.
bool wait_for_labels_out(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                         bool (*stopping)(pappl_job_t *));

// PAPPL's status callback: ask an idle printer for its state.
bool update_printer_status(pappl_printer_t *printer);
