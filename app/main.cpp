// SPDX-License-Identifier: Apache-2.0
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pappl/pappl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "app/command/command_line.h"
#include "app/job/label_driver.h"
#include "app/label_system.h"
#include "app/printer/label_models.h"
#include "app/server/app_name.h"

namespace {

const char kVersion[] = "1.0.0";

} // namespace

// The printer application's command line: server, add, submit, status and the rest.
int main(int argc, char *argv[]) {
  const char *slash = strrchr(argv[0], '/');
  const char *baseName = slash ? slash + 1 : argv[0];
  command_line_t line = read_command_line(argc, argv);
  if (!line.error.empty()) {
    fprintf(stderr, "%s: %s\n", baseName, line.error.c_str());
    return 1;
  }
  if (line.needsServer && !local_server_answers(baseName)) {
    fprintf(stderr,
            "%s: No server is running; start one with \"%s server\" or \"systemctl start "
            "%s\".\n",
            baseName, baseName, kAppName);
    return 1;
  }
  if (reports_on_printer(line) && !local_printer_exists(baseName, line.printer)) {
    fprintf(stderr, "%s: No printer named '%s'.\n", baseName, line.printer.c_str());
    return 1;
  }
  std::vector<char *> arguments;
  for (std::string &argument : line.arguments)
    arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  // A printer or client that closes its connection fails the write, not the server.
  signal(SIGPIPE, SIG_IGN);
  // State, spool, log and TLS key are the service's alone.
  umask(077);
  static server_settings_t settings;
  settings.line = &line;
  name_service_account(argv[0], &settings.account);
  int status =
      papplMainloop(static_cast<int>(line.arguments.size()), arguments.data(), kVersion, nullptr,
                    kModelCount, label_driver_list(), pick_label_driver, describe_label_driver,
                    nullptr, nullptr, create_label_system, nullptr, &settings);
  // The server has ended: its socket and lock files go, so the next server finds neither.
  unlock_server_files(&settings.locks);
  return status;
}
