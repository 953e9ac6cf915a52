// SPDX-License-Identifier: Apache-2.0
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pappl/pappl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "app/access_policy.h"
#include "app/command_line.h"
#include "app/document_filters.h"
#include "app/job_queue.h"
#include "app/label_driver.h"
#include "app/label_preview.h"
#include "app/saved_settings.h"
#include "app/service_user.h"
#include "app/web_guard.h"
#include "app/web_strings.h"

namespace {

const char kAppName[] = "strobane-printer-app";
const char kVersion[] = "1.0.0";

// Where a user's own server keeps its printers and settings between runs.
void default_state_file(char *path, size_t size) {
  if (const char *home = getenv("HOME"))
    snprintf(path, size, "%s/.%s.state", home, kAppName);
  else
    snprintf(path, size, "%s/%s-%d.state", papplGetTempDir(), kAppName, static_cast<int>(getuid()));
}

// The server's account and rules, read once when it starts.
struct server_settings_t {
  const command_line_t *line;
  service_account_t account;
  access_policy_t policy;
};

// Set up each printer as it is created or loaded, its status page behind the web guard.
void set_up_printer(pappl_printer_t *printer, void *data) {
  set_up_label_printer(printer, data);
  guard_printer_page(printer);
}

// Save the printers and their settings whenever they change.
// PAPPL writes the state in place, so a stop or a crash during the write would lose
// every printer: it is written to a new file, synced, and renamed over the old one.
bool save_label_state(pappl_system_t *system, void *data) {
  const char *stateFile = static_cast<const char *>(data);
  save_label_settings(system, stateFile);
  char newFile[1100];
  snprintf(newFile, sizeof newFile, "%s.new", stateFile);
  bool saved = papplSystemSaveState(system, newFile);
  if (saved) {
    int fd = open(newFile, O_RDONLY);
    saved = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0)
      close(fd);
  }
  if (saved && rename(newFile, stateFile) == 0)
    return true;
  unlink(newFile);
  return false;
}

// Create the system: it listens on the loopback addresses and the local socket that the
// command line uses, and on another address when listen-hostname names one.
pappl_system_t *create_label_system(int num_options, cups_option_t *options, void *data) {
  auto *settings = static_cast<server_settings_t *>(data);
  // A sub-command such as "drivers" needs the drivers only: no listeners, no state.
  if (!settings->line->serve) {
    pappl_system_t *bare = papplSystemCreate(PAPPL_SOPTIONS_NONE, kAppName, 0, nullptr, nullptr,
                                             "-", PAPPL_LOGLEVEL_ERROR, nullptr, false);
    if (bare)
      papplSystemSetPrinterDrivers(bare, kDriverCount, g_label_drivers, pick_label_driver,
                                   set_up_label_printer, describe_label_driver, nullptr);
    return bare;
  }
  if (!read_access_policy(num_options, options, &settings->policy) ||
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
  // Passwords are checked by the access policy's callback, not by PAPPL's own PAM code.
  pappl_system_t *system =
      papplSystemCreate(soptions, "Strobane Label Printers", port, "_print,_universal", spool,
                        log ? log : "-", level, nullptr, false);
  if (!system)
    return nullptr;
  add_label_filters(system);
  apply_access_policy(system, &settings->policy);
  guard_status_page(system);

  // The loopback addresses always; another address only when the administrator names
  // one ("*" for every address, loopback included).
  bool listening = (listen && !strcmp(listen, "*")) || papplSystemAddListeners(system, "localhost");
  if (listening && listen)
    listening = papplSystemAddListeners(system, listen);
  if (!listening) {
    fprintf(stderr, "%s: Unable to listen on '%s'.\n", kAppName, listen ? listen : "localhost");
    papplSystemDelete(system);
    return nullptr;
  }
  papplSystemSetPrinterDrivers(system, kDriverCount, g_label_drivers, pick_label_driver,
                               set_up_printer, describe_label_driver, nullptr);
  add_web_strings(system);
  papplSystemSetFooterHTML(system, "Strobane label printer application");

  static char stateFile[1024];
  if ((value = cupsGetOption("state-file", num_options, options)) != nullptr)
    snprintf(stateFile, sizeof stateFile, "%s", value);
  else if (settings->account.isService)
    snprintf(stateFile, sizeof stateFile, "%s", settings->account.stateFile);
  else
    default_state_file(stateFile, sizeof stateFile);
  if (!keep_files_private(stateFile, spool)) {
    papplSystemDelete(system);
    return nullptr;
  }
  papplSystemLoadState(system, stateFile);
  restore_label_settings(system, stateFile);
  // An admin group kept in the state file gives way to the command line's.
  papplSystemSetAdminGroup(system, settings->policy.adminGroup);
  papplSystemSetSaveCallback(system, save_label_state, stateFile);
  tend_job_queues(system, save_label_state, stateFile);
  return system;
}

} // namespace

// The printer application's command line: server, add, submit, status and the rest.
int main(int argc, char *argv[]) {
  command_line_t line = read_command_line(argc, argv);
  const char *slash = strrchr(argv[0], '/');
  const char *baseName = slash ? slash + 1 : argv[0];
  if (line.needsServer && !local_server_answers(baseName)) {
    fprintf(stderr,
            "%s: No server is running; start one with \"%s server\" or \"systemctl start "
            "%s\".\n",
            baseName, baseName, kAppName);
    return 1;
  }
  std::vector<char *> arguments;
  for (std::string &argument : line.arguments)
    arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  // State, spool, log and TLS key are the service's alone.
  umask(077);
  static server_settings_t settings;
  settings.line = &line;
  name_service_account(argv[0], &settings.account);
  return papplMainloop(static_cast<int>(line.arguments.size()), arguments.data(), kVersion, nullptr,
                       kDriverCount, g_label_drivers, pick_label_driver, describe_label_driver,
                       nullptr, nullptr, create_label_system, nullptr, &settings);
}
