// SPDX-License-Identifier: Apache-2.0
#include "app/command/command_line.h"

#include <cstdlib>
#include <cstring>
#include <pappl/pappl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

// PAPPL's sub-commands, and those that reach the local server.
const char *const kSubcommands[] = {
    "add",     "autoadd", "cancel",   "default", "delete", "devices",  "drivers", "jobs",  "modify",
    "options", "pause",   "printers", "resume",  "server", "shutdown", "status",  "submit"};
const char *const kServerSubcommands[] = {"add",    "autoadd",  "cancel",  "default", "delete",
                                          "jobs",   "modify",   "options", "pause",   "printers",
                                          "resume", "shutdown", "status",  "submit"};

// The options that take the next argument as their value.
bool takes_value(const char *argument) {
  return argument[0] == '-' && argument[1] && !argument[2] && strchr("cdhjmnotuv", argument[1]);
}

bool is_one_of(const std::string &word, const char *const *list, size_t count) {
  for (size_t i = 0; i < count; i++)
    if (word == list[i])
      return true;
  return false;
}

// Whether text is a copy count a job may ask for: digits only, 1 to kMaxCopies.
bool is_copy_count(const char *text) {
  if (!*text || strlen(text) > 3 || strspn(text, "0123456789") != strlen(text))
    return false;
  int count = atoi(text);
  return count >= 1 && count <= kMaxCopies;
}

// The local server's socket paths: this user's own server's, then root's.
std::vector<std::string> socket_paths(const char *baseName) {
  std::vector<std::string> paths;
  if (getuid() != 0)
    paths.push_back(local_socket_path(baseName, getuid()));
  paths.push_back(local_socket_path(baseName, 0));
  return paths;
}

// True when something listens on the Unix socket at path.
bool socket_answers(const std::string &path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0)
    return false;
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  bool answers = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return answers;
}

} // namespace

command_line_t read_command_line(int argc, char *argv[]) {
  command_line_t line;
  bool uri = false, help = false;
  for (int i = 0; i < argc; i++) {
    std::string argument = argv[i];
    if (i > 0 && (argument == "-n" || argument == "-c") && i + 1 < argc) {
      const char *count = argv[++i];
      if (!is_copy_count(count) && line.error.empty())
        line.error = "Bad copy count '" + std::string(count) + "' for " + argument +
                     ": give a number from 1 to " + std::to_string(kMaxCopies) + ".";
      line.arguments.push_back("-o");
      line.arguments.push_back(std::string("copies=") + count);
      continue;
    }
    line.arguments.push_back(argument);
    if (i == 0)
      continue;
    if (argument == "--help" || argument == "--version") {
      help = true;
    } else if (argument == "--") {
      if (i + 1 < argc)
        line.arguments.push_back(argv[++i]);
    } else if (takes_value(argv[i]) && i + 1 < argc) {
      uri = uri || argument == "-u";
      if (argument == "-d")
        line.printer = argv[i + 1];
      line.arguments.push_back(argv[++i]);
    } else if (line.subcommand.empty() &&
               is_one_of(argument, kSubcommands, sizeof kSubcommands / sizeof *kSubcommands)) {
      line.subcommand = argument;
    }
  }
  if (line.subcommand.empty())
    line.subcommand = "submit";
  line.serve = line.subcommand == "server";
  line.needsServer = !uri && !help &&
                     is_one_of(line.subcommand, kServerSubcommands,
                               sizeof kServerSubcommands / sizeof *kServerSubcommands);
  return line;
}

std::string local_socket_path(const char *baseName, uid_t uid) {
  if (uid == 0)
    return std::string("/run/") + baseName + ".sock";
  return std::string(papplGetTempDir()) + "/" + baseName + std::to_string(static_cast<long>(uid)) +
         ".sock";
}

bool local_server_answers(const char *baseName) {
  for (const std::string &path : socket_paths(baseName))
    if (socket_answers(path))
      return true;
  return false;
}

bool reports_on_printer(const command_line_t &line) {
  return !line.printer.empty() && (line.subcommand == "status" || line.subcommand == "jobs");
}

bool local_printer_exists(const char *baseName, const std::string &printer) {
  for (const std::string &path : socket_paths(baseName)) {
    http_t *http =
        httpConnect2(path.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    if (!http)
      continue;
    char uri[1024];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                     "/ipp/print/%s", printer.c_str());
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "printer-state");
    ippDelete(cupsDoRequest(http, request, (std::string("/ipp/print/") + printer).c_str()));
    bool missing = cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND;
    httpClose(http);
    return !missing;
  }
  return true;
}
