// SPDX-License-Identifier: Apache-2.0
// A job's pages in, one label command block per page to the device.
#pragma once

#include <pappl/pappl.h>

// Work out the job's label settings and copies before its first page.
bool start_label_job(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

// Check the page against the print head and make room for it.
bool start_label_job_page(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device,
                          unsigned page);

// Take one raster line of the page.
bool write_label_line(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device,
                      unsigned y, const unsigned char *line);

// Convert the page and send its command block.
bool end_label_job_page(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device,
                        unsigned page);

// Release what the job held.
bool end_label_job(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

// Whether the job is cancelled or the application is stopping: it stops at the next block
// boundary, since PAPPL would otherwise finish every page of it before it exits. A
// spooled job whose printer has reported out every block sent (or lost the last one, of
// one label) waits here, parked, for the stop to put it back in the queue and end the
// server: it prints the rest after the next start. One whose last block is still coming
// out is not stopped until it is out; one that cannot say which labels came out stops.
bool job_is_stopping(pappl_job_t *job);

// Whether the job waits, parked, for the stop to put it back in the queue.
bool job_is_parked(pappl_job_t *job);

// Whether some of the job's bytes have gone to its printer.
bool job_sent_labels(pappl_job_t *job);
