// SPDX-License-Identifier: Apache-2.0
#include "app/queue/document_spool.h"

#include <atomic>
#include <cstring>
#include <sys/stat.h>

#include "app/queue/scheduler.h"
#include "app/server/request_limits.h"

namespace {

// One document as PAPPL receives it into its spool file.
struct document_copy_t {
  pappl_job_t *job;
  long long limit;
  long long spoolRoom; // what the spool's limit leaves, less what other copies take
  bool spoolFull = false;
  long long counted = 0; // of this copy's bytes, those in g_receiving
  long long total = 0;
  bool tooLarge = false;
};

// Set while this thread has PAPPL read a document through spool_document.
thread_local document_copy_t *t_copy;

// The bytes of the documents being received now, which the spool's limit counts too.
std::atomic<long long> g_receiving{0};

void add_spooled_job(pappl_job_t *job, void *data) {
  struct stat info;
  const char *filename = papplJobGetFilename(job);
  if (filename && !stat(filename, &info))
    *static_cast<long long *>(data) += info.st_size;
}

void add_printer_spool(pappl_printer_t *printer, void *data) {
  papplPrinterIterateActiveJobs(printer, add_spooled_job, data, 1, 0);
}

// The bytes of the documents in the spool that wait or print.
long long spool_in_use(pappl_system_t *system) {
  long long bytes = 0;
  papplSystemIteratePrinters(system, add_printer_spool, &bytes);
  return bytes;
}

// PAPPL asks before it writes each part of a document to the spool file, with the bytes
// received so far; a document past a limit is refused here, and PAPPL removes the file
// and ends the job.
bool take_document_part(pappl_client_t *client, pappl_job_t *job, size_t total, void *) {
  document_copy_t *copy = t_copy;
  if (!copy || copy->job != job)
    return true;
  long long added = static_cast<long long>(total) - copy->total;
  copy->total = static_cast<long long>(total);
  if (copy->total > copy->limit)
    copy->tooLarge = true;
  else if ((g_receiving += added, copy->counted += added, g_receiving > copy->spoolRoom))
    copy->spoolFull = true;
  else
    return true;
  document_refusal_t refusal = document_refusal({copy->tooLarge, copy->spoolFull},
                                                copy->limit, request_limits().spoolBytes);
  papplClientRespondIPP(client, refusal.status, "%s", refusal.message.c_str());
  return false;
}

// What PAPPL answered a document it refused itself: one cut short by its client, or one
// whose spool file could not be written.
document_refusal_t refusal_answered(pappl_client_t *client) {
  ipp_t *response = papplClientGetResponse(client);
  ipp_status_t status = response ? ippGetStatusCode(response) : IPP_STATUS_OK;
  if (status < IPP_STATUS_ERROR_BAD_REQUEST)
    return {IPP_STATUS_OK, ""};
  ipp_attribute_t *message = ippFindAttribute(response, "status-message", IPP_TAG_TEXT);
  return {status, message ? ippGetString(message, 0, nullptr) : ippErrorString(status)};
}

} // namespace

document_refusal_t document_refusal(const document_copy_result_t &result, long long limitBytes,
                                    long long spoolBytes) {
  if (result.tooLarge)
    return {IPP_STATUS_ERROR_REQUEST_ENTITY,
            "The document is larger than this server's limit of " + size_text(limitBytes) + "."};
  if (result.spoolFull)
    return {IPP_STATUS_ERROR_BUSY, "The spool is full: the jobs waiting and this one come to "
                                   "more than its limit of " +
                                       size_text(spoolBytes) +
                                       ". Send it again once they have printed."};
  return {IPP_STATUS_OK, ""};
}

void limit_documents(pappl_system_t *system) {
  papplSystemSetJobDataCallback(system, take_document_part, nullptr);
}

void spool_document(pappl_client_t *client, pappl_job_t *job) {
  document_copy_t copy;
  copy.job = job;
  copy.limit = request_limits().documentBytes;
  long long spoolLimit = request_limits().spoolBytes;
  copy.spoolRoom = spoolLimit - spool_in_use(papplPrinterGetSystem(papplJobGetPrinter(job)));
  t_copy = &copy;
  papplJobReceiveDocument(client, job, true);
  t_copy = nullptr;
  g_receiving -= copy.counted;
  document_refusal_t refusal =
      document_refusal({copy.tooLarge, copy.spoolFull}, copy.limit, spoolLimit);
  if (refusal.status == IPP_STATUS_OK)
    refusal = refusal_answered(client);
  if (refusal.status == IPP_STATUS_OK)
    return;
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Document refused after %lld bytes: %s", copy.total,
              refusal.message.c_str());
  // PAPPL has ended the job already; it keeps the reason.
  if (papplJobGetState(job) < IPP_JSTATE_CANCELED)
    abort_job(job, refusal.message.c_str());
  else
    papplJobSetMessage(job, "%s", refusal.message.c_str());
}
