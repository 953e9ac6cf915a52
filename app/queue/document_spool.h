// SPDX-License-Identifier: Apache-2.0
// A job's document spooled within the server's size limits. PAPPL receives the document
// into its spool file and asks here before it writes each part; a document past the
// document's or the spool's limit is refused then, and PAPPL removes its file and ends
// its job. PAPPL itself refuses a document cut short by its client and one whose file
// cannot be written.
#pragma once

#include <pappl/pappl.h>
#include <string>

// Have PAPPL ask the limits before it writes each part of a spooled document.
void limit_documents(pappl_system_t *system);

// Read the job's document from its client into the spool (a raster document too),
// within the limits; a document refused is logged and its job ends with the reason.
void spool_document(pappl_client_t *client, pappl_job_t *job);

// How the copy of a document ended.
struct document_copy_result_t {
  bool tooLarge;  // more than the limit came
  bool spoolFull; // the documents waiting and this one came to more than the spool's limit
};

// The status and message a document is refused with; IPP_STATUS_OK when it is taken.
struct document_refusal_t {
  ipp_status_t status;
  std::string message;
};
document_refusal_t document_refusal(const document_copy_result_t &result, long long limitBytes,
                                    long long spoolBytes);
