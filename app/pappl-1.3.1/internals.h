// SPDX-License-Identifier: Apache-2.0
// What the application needs of PAPPL 1.3.1 beyond its public API, in one place: see
// README.md in this folder for each symbol, the fault it works around and what would
// let it go. The rest of the application reaches PAPPL's insides only through here.
#pragma once

#include <pappl/pappl.h>
#include <string>
#include <time.h>

// The PAPPL version these shims were written against, which the build and the package
// require and the start-up check looks for.
inline constexpr char kPapplVersion[] = "1.3.1";

// Check, before the server listens, that the loaded libpappl is the one these shims fit:
// every replaced function is ours where PAPPL calls it through the dynamic linker, every
// original and private function we call exists, and no symbol of a later PAPPL is there.
// False with the symbol and the PAPPL version found in *problem.
bool check_pappl_internals(std::string *problem);

// Print a job in the calling thread, as PAPPL's own job thread does.
void pappl_process_job(pappl_job_t *job);

// Print a JPEG job through PAPPL's own decoder, which PAPPL registers as a filter only.
bool pappl_print_jpeg(pappl_job_t *job, pappl_device_t *device);

// Read a job's document from its client as PAPPL does (streamed raster or a spool file).
void pappl_copy_document(pappl_client_t *client, pappl_job_t *job);

// End a job that has no thread as aborted, with its message; it leaves the queue.
void pappl_abort_job(pappl_job_t *job, const char *message);

// Put a job that waits for its printer back in the queue as pending, for the state saved
// at a stop: it prints after the next start.
void pappl_requeue_job(pappl_job_t *job);

// When a held job is due for release; 0 for a job held indefinitely or not held.
time_t pappl_job_hold_until(pappl_job_t *job);

// Put format in place of the job's document format, returning the one it had; null, and
// nothing changed, when the job's layout is not the one this build knows. PAPPL spools
// a document to a file unless its format is PWG or Apple raster, which it streams.
const char *pappl_set_job_format(pappl_job_t *job, const char *format);

// The descriptor of a socket:// device's connection; -1 for any other device.
int pappl_device_socket(pappl_device_t *device);

// Serve the system's status page at "/" through page; before the system runs.
void pappl_take_system_home(pappl_system_t *system, pappl_resource_cb_t page);

// Serve a printer's page at its path plus subpath ("" for its status page) through page,
// with printerId as its data; when the printer is created, before PAPPL adds its own.
void pappl_take_printer_page(pappl_printer_t *printer, const char *subpath,
                             pappl_resource_cb_t page, void *printerId);

// Write PAPPL's own status pages; a printer's with its jobs' names and owners withheld
// when hideJobNames.
void pappl_show_system_home(pappl_client_t *client);
void pappl_show_printer_home(pappl_client_t *client, pappl_printer_t *printer, bool hideJobNames);

// Write PAPPL's own page of a printer's supplies.
void pappl_show_printer_supplies(pappl_client_t *client, pappl_printer_t *printer);
