// SPDX-License-Identifier: Apache-2.0
// PAPPL 1.3.1's private declarations that this folder uses, copied from its sources
// (file and line of each prototype, and of the definition); nothing outside this
// folder includes this file. They are never called directly: the start-up check looks
// each one up, so that a library without it is refused with its name instead of
// crashing at the first call.
#pragma once

#include <pappl/pappl.h>
#include <time.h>

extern "C" {
// pappl/job-private.h:69; job-process.c:531. Prints a job in the calling thread.
using pappl_job_process_t = void *(*)(pappl_job_t *job);
// pappl/job-private.h:58; job-ipp.c:101. Reads a job's document from the client.
using pappl_copy_document_t = void (*)(pappl_client_t *client, pappl_job_t *job);
// pappl/job-private.h:75; job-accessors.c:436. Sets job-state, with its times and reasons.
using pappl_job_set_state_t = void (*)(pappl_job_t *job, ipp_jstate_t state);
// pappl/dnssd-private.h:52; dnssd.c:75. Returns PAPPL's one DNS-SD connection, made at
// the first call; null when no daemon answers.
using pappl_dnssd_init_t = void *(*)(pappl_system_t *system);
// pappl/job-private.h:63; job-filter.c:599. PAPPL's JPEG decoder, a document filter
// (pappl_mime_filter_cb_t).
// pappl/system-private.h:192; system-webif.c:673. The system's status page.
using pappl_system_home_t = void (*)(pappl_client_t *client, pappl_system_t *system);
// pappl/printer-private.h:140; printer-webif.c:716. A printer's status page; and
// printer-private.h:144, printer-webif.c:1377, its supplies page.
using pappl_printer_page_t = void (*)(pappl_client_t *client, pappl_printer_t *printer);
}

// The head of struct _pappl_job_s, pappl/job-private.h:22-39, up to the hold time:
// PAPPL has no accessor for when a held job is due.
struct pappl_job_head_t {
  pthread_rwlock_t rwlock;
  pappl_system_t *system;
  pappl_printer_t *printer;
  int job_id;
  const char *name, *username, *format;
  ipp_jstate_t state;
  pappl_jreason_t state_reasons;
  bool is_canceled;
  char *message;
  pappl_loglevel_t msglevel;
  time_t created, processing, completed, hold_until;
};

// The head of struct _pappl_socket_s, pappl/device-network.c:81-83: the data of a
// socket:// device begins with its descriptor.
struct pappl_socket_head_t {
  int fd;
};

// The replacements' own prototypes where PAPPL's headers have none:
// pappl/printer-private.h:122, job-private.h:58, client-private.h:55, :57, :62 and
// base-private.h:143.
extern "C" {
void _papplPrinterCheckJobs(pappl_printer_t *printer);
void _papplJobCopyDocumentData(pappl_client_t *client, pappl_job_t *job);
pappl_client_t *_papplClientCreate(pappl_system_t *system, int sock);
void _papplClientDelete(pappl_client_t *client);
bool _papplClientProcessHTTP(pappl_client_t *client);
void _papplCopyAttributes(ipp_t *to, ipp_t *from, cups_array_t *ra, ipp_tag_t group_tag,
                          int quickcopy);
}

// PAPPL's own definition of a replaced function, looked up by the start-up check.
void *pappl_original(const char *name);

// Whether the printer status page being written withholds job names and owners.
bool pappl_hides_job_names();

// Whether a DNS-SD daemon answers PAPPL's connection.
bool pappl_dnssd_answers();
