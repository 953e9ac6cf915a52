// SPDX-License-Identifier: Apache-2.0
#include "app/queue/document_spool.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/pappl-1.3.1/internals.h"
#include "app/server/request_limits.h"

namespace {

// The copy of one document from PAPPL's pipe to its spool file.
struct document_copy_t {
  pappl_job_t *job;
  long long limit;
  long long spoolRoom; // what the spool's limit leaves, less what other copies take
  bool spoolFull = false;
  long long counted = 0; // of this copy's bytes, those in g_receiving
  int from = -1;         // the pipe's end we read
  int to = -1;           // the spool file
  long long total = 0;
  bool tooLarge = false;
  int writeError = 0;
  bool started = false;
  pthread_t thread{};
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

bool write_all(int fd, const char *data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0) {
      // A regular file that takes nothing more without saying why is full.
      if (written == 0)
        errno = ENOSPC;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

void *copy_document(void *data) {
  auto *copy = static_cast<document_copy_t *>(data);
  char buffer[65536];
  for (;;) {
    ssize_t bytes = read(copy->from, buffer, sizeof buffer);
    if (bytes < 0 && errno == EINTR)
      continue;
    if (bytes <= 0)
      break;
    copy->total += bytes;
    if (copy->total > copy->limit) {
      copy->tooLarge = true;
      break;
    }
    copy->counted += bytes;
    if ((g_receiving += bytes) > copy->spoolRoom) {
      copy->spoolFull = true;
      break;
    }
    if (!write_all(copy->to, buffer, static_cast<size_t>(bytes))) {
      copy->writeError = errno;
      break;
    }
  }
  // With the pipe closed, PAPPL's next write fails and it stops reading the document.
  close(copy->from);
  if (close(copy->to) && !copy->writeError)
    copy->writeError = errno;
  return nullptr;
}

// Whether the client's connection ended, or was given up as stalled, inside the document:
// PAPPL takes the end of what came as the end of the document.
bool cut_short(pappl_client_t *client) {
  http_t *http = papplClientGetHTTP(client);
  return httpGetRemaining(http) > 0 || httpError(http) != 0;
}

// Set the response's status-message, which belongs to its operation group: where PAPPL
// answered success, the job's attributes already follow that group and are moved after it.
void set_status_message(ipp_t *response, const std::string &text) {
  ipp_attribute_t *message = ippFindAttribute(response, "status-message", IPP_TAG_TEXT);
  if (message) {
    ippSetString(response, &message, 0, text.c_str());
    return;
  }
  ipp_t *rest = ippNew();
  for (ipp_attribute_t *attr = ippFirstAttribute(response); attr;) {
    if (ippGetGroupTag(attr) == IPP_TAG_OPERATION) {
      attr = ippNextAttribute(response);
      continue;
    }
    ippCopyAttribute(rest, attr, 0);
    ippDeleteAttribute(response, attr);
    attr = ippFirstAttribute(response);
  }
  ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_TEXT, "status-message", nullptr, text.c_str());
  for (ipp_attribute_t *attr = ippFirstAttribute(rest); attr; attr = ippNextAttribute(rest))
    ippCopyAttribute(response, attr, 0);
  ippDelete(rest);
}

// Answer the client with the refusal, in place of what PAPPL answered, and end the job
// unless PAPPL has ended it already (removing its spool file either way).
void refuse_document(pappl_client_t *client, pappl_job_t *job, const document_refusal_t &refusal) {
  if (ipp_t *response = papplClientGetResponse(client)) {
    ippSetStatusCode(response, refusal.status);
    set_status_message(response, refusal.message);
  }
  if (papplJobGetState(job) < IPP_JSTATE_CANCELED)
    pappl_abort_job(job, refusal.message.c_str());
  else
    papplJobSetMessage(job, "%s", refusal.message.c_str());
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
  if (result.writeError)
    return {IPP_STATUS_ERROR_INTERNAL,
            std::string("Unable to write print file: ") + strerror(result.writeError)};
  if (result.cutShort)
    return {IPP_STATUS_ERROR_BAD_REQUEST, "The connection ended before the whole document came."};
  return {IPP_STATUS_OK, ""};
}

void spool_document(pappl_client_t *client, pappl_job_t *job) {
  document_copy_t copy;
  copy.job = job;
  copy.limit = request_limits().documentBytes;
  long long spoolLimit = request_limits().spoolBytes;
  copy.spoolRoom = spoolLimit - spool_in_use(papplPrinterGetSystem(papplJobGetPrinter(job)));
  t_copy = &copy;
  pappl_copy_document(client, job);
  t_copy = nullptr;
  if (copy.started)
    pthread_join(copy.thread, nullptr);
  g_receiving -= copy.counted;
  document_refusal_t refusal = document_refusal(
      {copy.tooLarge, copy.spoolFull, copy.writeError, copy.started && cut_short(client)},
      copy.limit, spoolLimit);
  if (refusal.status != IPP_STATUS_OK) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Document refused after %lld bytes: %s", copy.total,
                refusal.message.c_str());
    refuse_document(client, job, refusal);
  }
}

int limit_document_file(pappl_job_t *job, int fd, const char *filename) {
  document_copy_t *copy = t_copy;
  if (fd < 0 || !copy || copy->job != job || copy->started)
    return fd;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) == 0) {
    copy->from = ends[0];
    copy->to = fd;
    int error = pthread_create(&copy->thread, nullptr, copy_document, copy);
    if (!error) {
      copy->started = true;
      return ends[1];
    }
    close(ends[0]);
    close(ends[1]);
    errno = error;
  }
  // PAPPL refuses the document with errno's text when it cannot open its file.
  int error = errno;
  close(fd);
  unlink(filename);
  errno = error;
  return -1;
}
