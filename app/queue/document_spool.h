// SPDX-License-Identifier: Apache-2.0
// A job's document spooled within the server's size limit. PAPPL 1.3.1 copies the
// document from the client to the spool file it opens; the file it is given to write is
// a pipe, which a thread of ours copies to the spool file, counting, and closes once the
// document is past the limit, so that PAPPL's next write fails and it ends the job as it
// ends one whose file cannot be written (removing the file, reading the rest away).
#pragma once

#include <pappl/pappl.h>
#include <string>

// Read the job's document from its client as PAPPL spools it, within the size limit; a
// document past the limit, one that cannot be written, and one that the client's
// connection cut short are refused, with their job ended and the client told why.
void spool_document(pappl_client_t *client, pappl_job_t *job);

// The descriptor PAPPL is to write the job's document to, in place of fd, the spool file
// filename it has just opened to write: the pipe to the counting copy while
// spool_document receives that job in this thread, else fd itself; -1 with errno, and
// the file removed, when no copy can be started.
int limit_document_file(pappl_job_t *job, int fd, const char *filename);

// How the copy of a document ended.
struct document_copy_result_t {
  bool tooLarge;  // more than the limit came
  bool spoolFull; // the documents waiting and this one came to more than the spool's limit
  int writeError; // errno of the spool file's failed write or close; 0 when none failed
  bool cutShort;  // the client's connection ended, or stalled, before the document did
};

// The status and message a document is refused with; IPP_STATUS_OK when it is taken.
struct document_refusal_t {
  ipp_status_t status;
  std::string message;
};
document_refusal_t document_refusal(const document_copy_result_t &result, long long limitBytes,
                                    long long spoolBytes);
