// SPDX-License-Identifier: Apache-2.0
// The PAPPL functions the application defines in PAPPL's place. PAPPL calls each through
// the dynamic linker, which resolves it to the executable's exported definition; each
// is a shim that asks the application's own code (README.md says why each is here).
#include <cerrno>
#include <cstring>
#include <pappl/pappl.h>
#include <string>

#include "app/access/access_policy.h"
#include "app/access/device_rule.h"
#include "app/access/printer_name.h"
#include "app/pappl-1.3.1/private.h"
#include "app/printer/device_errors.h"
#include "app/queue/document_spool.h"
#include "app/queue/scheduler.h"
#include "app/server/attribute_copy.h"
#include "app/server/request_limits.h"
#include "app/server/saved_settings.h"
#include "app/server/service_account.h"
#include "app/server/state_file.h"
#include "app/web/page_guard.h"

namespace {

// PAPPL's own definition of the function named, as the start-up check found it; each
// shim keeps it in a static, looked up at its first call.
template <typename F> F original(const char *name) {
  return reinterpret_cast<F>(pappl_original(name));
}

// The device URI being opened in this thread, for its error messages.
thread_local const char *t_openingUri;

// Log a device's error as PAPPL does, with the reason its address gave while it opens.
void log_device_error(const char *message, void *system) {
  papplLogDevice(t_openingUri ? explain_device_error(t_openingUri, message).c_str() : message,
                 system);
}

// The text for a job list's cell, withheld from a visitor who may not see it.
const char *job_list_text(const char *text) {
  return pappl_hides_job_names() ? "(private)" : text;
}

} // namespace

extern "C" http_status_t papplClientIsAuthorized(pappl_client_t *client) {
  return authorize_administrator(client);
}

extern "C" char *papplClientGetCSRFToken(pappl_client_t *client, char *buffer, size_t bufsize) {
  return make_form_token(client, buffer, bufsize) ? buffer : nullptr;
}

extern "C" bool papplClientIsValidForm(pappl_client_t *client, int num_form, cups_option_t *form) {
  return is_valid_form(client, num_form, form);
}

extern "C" const char *papplJobGetName(pappl_job_t *job) {
  static const auto get = original<const char *(*)(pappl_job_t *)>("papplJobGetName");
  return job_list_text(get(job));
}

extern "C" const char *papplJobGetUsername(pappl_job_t *job) {
  static const auto get = original<const char *(*)(pappl_job_t *)>("papplJobGetUsername");
  return job_list_text(get(job));
}

extern "C" pappl_printer_t *papplPrinterCreate(pappl_system_t *system, int printer_id,
                                               const char *printer_name, const char *driver_name,
                                               const char *device_id, const char *device_uri) {
  std::string reason;
  if (!is_printer_name(printer_name)) {
    // PAPPL answers this errno with the rule for names.
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Printer '%s' refused: its name is not allowed.",
             printer_name ? printer_name : "");
    errno = EINVAL;
    return nullptr;
  }
  if (!may_use_device(device_uri, &reason)) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Printer '%s' refused: %s.",
             printer_name ? printer_name : "", reason.c_str());
    errno = EPERM;
    return nullptr;
  }
  using create_t = pappl_printer_t *(*)(pappl_system_t *, int, const char *, const char *,
                                        const char *, const char *);
  static const auto create = original<create_t>("papplPrinterCreate");
  pappl_printer_t *printer =
      create(system, printer_id, printer_name, driver_name, device_id, device_uri);
  // A printer that cannot be saved would be gone at the next start: the client is told
  // (PAPPL answers with errno's text) and the printer is not added.
  if (printer && !save_added_printer(system)) {
    int error = errno ? errno : EIO;
    papplPrinterDelete(printer);
    errno = error;
    return nullptr;
  }
  return printer;
}

extern "C" pappl_device_t *papplDeviceOpen(const char *device_uri, const char *name,
                                           pappl_deverror_cb_t err_cb, void *err_data) {
  std::string reason;
  if (!may_use_device(device_uri, &reason)) {
    if (err_cb)
      err_cb(("Device refused: " + reason + ".").c_str(), err_data);
    return nullptr;
  }
  using open_t = pappl_device_t *(*)(const char *, const char *, pappl_deverror_cb_t, void *);
  static const auto open = original<open_t>("papplDeviceOpen");
  // PAPPL logs every device's errors through papplLogDevice, and keeps the callback for
  // the device's life: ours takes its place, with the system as its data.
  if (err_cb != papplLogDevice)
    return open(device_uri, name, err_cb, err_data);
  t_openingUri = device_uri;
  pappl_device_t *device = open(device_uri, name, log_device_error, err_data);
  t_openingUri = nullptr;
  return device;
}

// PAPPL stops a printer whose device cannot be opened as it stops a paused one (state
// stopped, no reason, job-process.c:1098): the pause that is kept is the person's.
extern "C" void papplPrinterPause(pappl_printer_t *printer) {
  if (printer)
    note_printer_paused(printer, true);
  static const auto pause = original<void (*)(pappl_printer_t *)>("papplPrinterPause");
  pause(printer);
}

extern "C" void papplPrinterResume(pappl_printer_t *printer) {
  if (printer)
    note_printer_paused(printer, false);
  static const auto resume = original<void (*)(pappl_printer_t *)>("papplPrinterResume");
  resume(printer);
}

extern "C" bool papplSystemAddListeners(pappl_system_t *system, const char *name) {
  using add_t = bool (*)(pappl_system_t *, const char *);
  static const auto add = original<add_t>("papplSystemAddListeners");
  if (!name || name[0] != '/')
    return add(system, name);
  const char *path = local_socket_path(name);
  return add(system, path) && protect_local_socket(system, path);
}

// PAPPL 1.3.1 asserts, and so ends the whole server, when it browses DNS-SD without a
// connection to the daemon (dnssd.c): DNS-SD is left out of the search then.
extern "C" bool papplDeviceList(pappl_devtype_t types, pappl_device_cb_t cb, void *data,
                                pappl_deverror_cb_t err_cb, void *err_data) {
  if ((types & PAPPL_DEVTYPE_DNS_SD) && !pappl_dnssd_answers())
    types = static_cast<pappl_devtype_t>(types & ~PAPPL_DEVTYPE_DNS_SD);
  using list_t = bool (*)(pappl_devtype_t, pappl_device_cb_t, void *, pappl_deverror_cb_t, void *);
  static const auto list = original<list_t>("papplDeviceList");
  return list(types, cb, data, err_cb, err_data);
}

extern "C" void _papplPrinterCheckJobs(pappl_printer_t *printer) {
  check_printer_jobs(printer);
}

extern "C" void _papplJobCopyDocumentData(pappl_client_t *client, pappl_job_t *job) {
  receive_job_document(client, job);
}

// PAPPL 1.3.1 spools a document of any size (job-ipp.c:153): the file it writes a
// document to is the size limit's counting copy.
extern "C" int papplJobOpenFile(pappl_job_t *job, char *fname, size_t fnamesize,
                                const char *directory, const char *ext, const char *mode) {
  using open_t = int (*)(pappl_job_t *, char *, size_t, const char *, const char *, const char *);
  static const auto open = original<open_t>("papplJobOpenFile");
  int fd = open(job, fname, fnamesize, directory, ext, mode);
  // PAPPL opens a document's file with no extension of its own, unlike a job's attributes.
  return !ext && mode && !strcmp(mode, "w") ? limit_document_file(job, fd, fname) : fd;
}

// PAPPL 1.3.1 waits 60 s for each line of a request's header and for ever for a body that
// stops coming (client.c:254, :645; job-ipp.c:153): each connection is watched instead.
extern "C" pappl_client_t *_papplClientCreate(pappl_system_t *system, int sock) {
  using create_t = pappl_client_t *(*)(pappl_system_t *, int);
  static const auto create = original<create_t>("_papplClientCreate");
  pappl_client_t *client = create(system, sock);
  if (client)
    watch_connection(client);
  return client;
}

extern "C" void _papplClientDelete(pappl_client_t *client) {
  forget_connection(client);
  static const auto remove = original<void (*)(pappl_client_t *)>("_papplClientDelete");
  remove(client);
}

extern "C" bool _papplClientProcessHTTP(pappl_client_t *client) {
  static const auto process = original<bool (*)(pappl_client_t *)>("_papplClientProcessHTTP");
  begin_request(client);
  bool kept = process(client);
  end_request(client);
  return kept;
}

// PAPPL 1.3.1 copies a job's, printer's or system's attributes into each response, and a
// request's into its job, sharing every collection (util.c:45, from job-ipp.c:52, :846,
// printer-ipp.c:77-78, system-ipp.c:747): a response that is written while the state file
// writes the same job's media-col, or while another response does, can lose part of it.
extern "C" void _papplCopyAttributes(ipp_t *to, ipp_t *from, cups_array_t *ra, ipp_tag_t group_tag,
                                     int quickcopy) {
  copy_attributes_owned(to, from, ra, group_tag, quickcopy);
}

// PAPPL 1.3.1 saves each waiting job's attributes with ippWriteFile (system-loadsave.c:591)
// under the job's read lock, while the job's thread finds attributes in the same message
// (papplJobGetAttribute, job-accessors.c:65; papplJobCreatePrintOptions, job-process.c:135,
// with no job lock): both move the message's one cursor, and the saved file could skip or
// repeat attributes.
extern "C" ipp_state_t ippWriteFile(int fd, ipp_t *ipp) {
  return write_attributes_file(fd, ipp);
}
