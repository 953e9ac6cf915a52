// SPDX-License-Identifier: Apache-2.0
#include "app/label_system.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/document/document_filters.h"
#include "app/document/render_process.h"
#include "app/job/label_driver.h"
#include "app/printer/label_models.h"
#include "app/printer/printer_identify.h"
#include "app/queue/document_spool.h"
#include "app/queue/scheduler.h"
#include "app/server/app_name.h"
#include "app/server/request_limits.h"
#include "app/server/saved_settings.h"
#include "app/server/server_lock.h"
#include "app/server/state_file.h"
#include "app/web/label_handling.h"
#include "app/web/last_label.h"
#include "app/web/page_guard.h"
#include "app/web/web_strings.h"

namespace {

// Where a user's own server keeps its printers and settings between runs.
void default_state_file(char *path, size_t size) {
  if (const char *home = getenv("HOME"))
    snprintf(path, size, "%s/.%s.state", home, kAppName);
  else
    snprintf(path, size, "%s/%s-%d.state", papplGetTempDir(), kAppName, static_cast<int>(getuid()));
}

// Set up each printer as it is created or loaded, with its web pages: its last label and
// its label handling.
void set_up_printer(pappl_printer_t *printer, void *data) {
  set_up_label_printer(printer, data);
  add_last_label_page(printer);
  add_device_actions_page(printer);
}

// Listen on the loopback addresses always, and on another address only when the
// administrator names one ("*" for every address, loopback included), each on every
// address it has; then on the local socket, where its clients look for it (PAPPL then
// adds no other), shared with the admin group alone. False, with the reason on standard
// error, when one cannot be listened on, as when another server has the port.
bool listen_for_clients(pappl_system_t *system, const char *listen, int port,
                        const std::string &socketPath) {
  share_local_socket(system);
  std::vector<const char *> names;
  if (!listen || strcmp(listen, "*"))
    names.push_back("localhost");
  if (listen)
    names.push_back(listen);
  for (const char *name : names) {
    if (papplSystemAddListeners(system, name))
      continue;
    // PAPPL's failed listen leaves its reason as libcups's last error.
    std::string reason = cupsLastErrorString();
    pid_t holder = process_listening_on(port);
    std::string by =
        holder ? "; process " + std::to_string(static_cast<long>(holder)) + " listens on that port"
               : "";
    fprintf(stderr, "%s: Unable to listen on '%s' port %d: %s%s.\n", kAppName, name, port,
            reason.c_str(), by.c_str());
    return false;
  }
  if (papplSystemAddListeners(system, socketPath.c_str()))
    return true;
  fprintf(stderr, "%s: Unable to listen on '%s'.\n", kAppName, socketPath.c_str());
  return false;
}

// Save the state as the server stops, after ending its renders: none of their programs
// outlives the server, nor any of their folders.
bool save_at_stop(pappl_system_t *system, void *stateFile) {
  end_render_runs();
  remove_render_dirs(render_parent_dir(), render_owner(kAppName, static_cast<char *>(stateFile)));
  return save_label_state(system, stateFile);
}

} // namespace

pappl_system_t *create_label_system(int num_options, cups_option_t *options, void *data) {
  auto *settings = static_cast<server_settings_t *>(data);
  // A sub-command such as "drivers" needs the drivers only: no listeners, no state.
  if (!settings->line->serve) {
    pappl_system_t *bare = papplSystemCreate(PAPPL_SOPTIONS_NONE, kAppName, 0, nullptr, nullptr,
                                             "-", PAPPL_LOGLEVEL_ERROR, nullptr, false);
    if (bare)
      papplSystemSetPrinterDrivers(bare, kModelCount, label_driver_list(), pick_label_driver,
                                   set_up_label_printer, describe_label_driver, nullptr);
    return bare;
  }
  request_limits_t limits;
  if (!read_access_policy(num_options, options, &settings->policy) ||
      !read_request_limits(num_options, options, &limits) ||
      !take_service_account(num_options, options, settings->policy.adminGid, &settings->account))
    return nullptr;
  const char *value;
  int port = 8000;
  if ((value = cupsGetOption("server-port", num_options, options)) != nullptr)
    port = atoi(value);
  if (port < 1 || port > 65535) {
    fprintf(stderr, "%s: Bad 'server-port' value.\n", kAppName);
    return nullptr;
  }
  pappl_loglevel_t level = PAPPL_LOGLEVEL_INFO;
  if ((value = cupsGetOption("log-level", num_options, options)) != nullptr) {
    if (!strcmp(value, "debug"))
      level = PAPPL_LOGLEVEL_DEBUG;
    else if (!strcmp(value, "warn"))
      level = PAPPL_LOGLEVEL_WARN;
    else if (!strcmp(value, "error"))
      level = PAPPL_LOGLEVEL_ERROR;
  }
  bool noTls = (value = cupsGetOption("server-options", num_options, options)) != nullptr &&
               strstr(value, "no-tls");
  // No "Security" page: the admin group is the command line's alone.
  auto soptions = static_cast<pappl_soptions_t>(
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG |
      (noTls ? PAPPL_SOPTIONS_NO_TLS : PAPPL_SOPTIONS_WEB_TLS));

  // The system's server spools in its state directory; the log goes to standard error,
  // which journald collects under systemd, unless log-file names a file.
  const char *spool = cupsGetOption("spool-directory", num_options, options);
  if (!spool && settings->account.isService)
    spool = settings->account.spoolDirectory;
  const char *log = cupsGetOption("log-file", num_options, options);
  const char *listen = cupsGetOption("listen-hostname", num_options, options);
  static char stateFile[1024];
  if ((value = cupsGetOption("state-file", num_options, options)) != nullptr)
    snprintf(stateFile, sizeof stateFile, "%s", value);
  else if (settings->account.isService)
    snprintf(stateFile, sizeof stateFile, "%s", settings->account.stateFile);
  else
    default_state_file(stateFile, sizeof stateFile);
  std::string socketPath = settings->account.socketPath[0]
                               ? settings->account.socketPath
                               : local_socket_path(settings->account.baseName, getuid());
  // Before the state is read and the socket bound (binding it would take another server's
  // over): a second server that shares one of them does not start.
  if (!lock_server_files({stateFile, spool ? spool : "", socketPath}, &settings->locks))
    return nullptr;

  // Passwords are checked by the access policy's callback, not by PAPPL's own PAM code.
  pappl_system_t *system =
      papplSystemCreate(soptions, "Strobane Label Printers", port, "_print,_universal", spool,
                        log ? log : "-", level, nullptr, false);
  if (!system || !listen_for_clients(system, listen, port, socketPath) ||
      !keep_files_private(stateFile, spool)) {
    papplSystemDelete(system);
    unlock_server_files(&settings->locks);
    return nullptr;
  }
  // The filters print through the job's raster callbacks for as long as the system runs;
  // render folders are named for the server's state, so that a server finds those that it
  // left when it was killed in the middle of a render, and no other server's.
  static document_printing_t printing;
  printing = label_document_printing(limits.renderSeconds, render_owner(kAppName, stateFile));
  add_label_filters(system, &printing);
  apply_access_policy(system, &settings->policy);
  guard_web_forms(system);
  schedule_label_jobs(system);
  limit_documents(system);
  papplSystemSetPrinterDrivers(system, kModelCount, label_driver_list(), pick_label_driver,
                               set_up_printer, describe_label_driver, nullptr);
  add_web_strings(system);
  papplSystemSetFooterHTML(system, "Strobane label printer application");
  papplSystemSetIdentifyCallback(system, identify_label_printer, nullptr);

  // A server killed in the middle of a render left its folder behind.
  if (int removed = remove_render_dirs(render_parent_dir(), printing.renderOwner))
    papplLog(system, PAPPL_LOGLEVEL_INFO, "Removed %d PDF render folder%s left by an earlier run.",
             removed, removed == 1 ? "" : "s");
  papplSystemLoadState(system, stateFile);
  name_dropped_printers(system, stateFile);
  end_jobs_cut_short(system);
  restore_label_settings(system, stateFile);
  // An admin group kept in the state file gives way to the command line's.
  papplSystemSetAdminGroup(system, settings->policy.adminGroup);
  keep_label_state(system, stateFile);
  tend_job_queues(system, save_at_stop, stateFile);
  enforce_header_deadlines(system);
  return system;
}
