// SPDX-License-Identifier: Apache-2.0
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pappl/pappl.h>
#include <unistd.h>

#include <vector>

#include "app/command_line.h"
#include "app/label_driver.h"
#include "app/label_preview.h"
#include "app/saved_settings.h"
#include "app/web_strings.h"

namespace {

const char kAppName[] = "strobane-printer-app";
const char kVersion[] = "1.0.0";

// Where the printers and their settings are kept between runs.
void default_state_file(char *path, size_t size) {
  if (getuid() == 0)
    snprintf(path, size, "/var/lib/%s.state", kAppName);
  else if (const char *home = getenv("HOME"))
    snprintf(path, size, "%s/.%s.state", home, kAppName);
  else
    snprintf(path, size, "%s/%s-%d.state", papplGetTempDir(), kAppName, static_cast<int>(getuid()));
}

// Save the printers and their settings whenever they change.
bool save_label_state(pappl_system_t *system, void *stateFile) {
  save_label_settings(system, static_cast<const char *>(stateFile));
  return papplSystemSaveState(system, static_cast<const char *>(stateFile));
}

// Create the system: it listens on the loopback addresses and the local socket that the
// command line uses, and on another address when listen-hostname names one.
pappl_system_t *create_label_system(int num_options, cups_option_t *options, void *data) {
  // A sub-command such as "drivers" needs the drivers only: no listeners, no state.
  if (!static_cast<const command_line_t *>(data)->serve) {
    pappl_system_t *bare = papplSystemCreate(PAPPL_SOPTIONS_NONE, kAppName, 0, nullptr, nullptr,
                                             "-", PAPPL_LOGLEVEL_ERROR, nullptr, false);
    if (bare)
      papplSystemSetPrinterDrivers(bare, kDriverCount, g_label_drivers, pick_label_driver,
                                   set_up_label_printer, describe_label_driver, nullptr);
    return bare;
  }
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
  auto soptions = static_cast<pappl_soptions_t>(
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG |
      PAPPL_SOPTIONS_WEB_SECURITY | (noTls ? PAPPL_SOPTIONS_NO_TLS : PAPPL_SOPTIONS_WEB_TLS));

  // As root, jobs spool under /var/spool; the log goes to standard error, which
  // journald collects under systemd, unless log-file names a file.
  const char *spool = cupsGetOption("spool-directory", num_options, options);
  if (!spool && getuid() == 0)
    spool = "/var/spool/strobane-printer-app";
  const char *log = cupsGetOption("log-file", num_options, options);
  // Served beyond loopback, requests over the network other than reading the status ask
  // for an account's password (PAM: our own service file, else the system's "other");
  // only the local socket is exempt, so loopback clients log in too in that case.
  // auth-service=none opens it all, as it is on loopback alone.
  const char *listen = cupsGetOption("listen-hostname", num_options, options);
  const char *auth = cupsGetOption("auth-service", num_options, options);
  if (!auth && listen)
    auth = kAppName;
  else if (auth && !strcmp(auth, "none"))
    auth = nullptr;
  pappl_system_t *system =
      papplSystemCreate(soptions, "Strobane Label Printers", port, "_print,_universal", spool,
                        log ? log : "-", level, auth, false);
  if (!system)
    return nullptr;

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
                               set_up_label_printer, describe_label_driver, nullptr);
  add_web_strings(system);
  papplSystemSetFooterHTML(system, "Strobane label printer application");
  if ((value = cupsGetOption("admin-group", num_options, options)) != nullptr)
    papplSystemSetAdminGroup(system, value);

  static char stateFile[1024];
  if ((value = cupsGetOption("state-file", num_options, options)) != nullptr)
    snprintf(stateFile, sizeof stateFile, "%s", value);
  else
    default_state_file(stateFile, sizeof stateFile);
  papplSystemLoadState(system, stateFile);
  restore_label_settings(system, stateFile);
  papplSystemSetSaveCallback(system, save_label_state, stateFile);
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
  return papplMainloop(static_cast<int>(line.arguments.size()), arguments.data(), kVersion, nullptr,
                       kDriverCount, g_label_drivers, pick_label_driver, describe_label_driver,
                       nullptr, nullptr, create_label_system, nullptr, &line);
}
