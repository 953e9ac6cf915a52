// SPDX-License-Identifier: Apache-2.0
// The command line as the help and the manual page describe it, on top of PAPPL 1.3.1's.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// What the command line asks for, as the system callback needs to know it.
struct command_line_t {
  std::vector<std::string> arguments; // argv with "-n N" and "-c N" as "-o copies=N"
  std::string subcommand;             // "submit" when none is named
  bool serve;                         // true for the server, false for a bare system
  bool needsServer;                   // talks to the local server's socket
  std::string error;                  // what is wrong with the line, for standard error
  std::string printer;                // the printer named with -d, if any
};

// The copies a job may ask for, as the printer advertises them.
inline constexpr int kMaxCopies = 999;

// Read argv: PAPPL 1.3.1 drops the copy count of "-n" and refuses the "-c" that its
// "options" sub-command lists, so both become "-o copies=N"; a count that is no number
// from 1 to kMaxCopies, which PAPPL would print once, is an error.
command_line_t read_command_line(int argc, char *argv[]);

// The local socket of uid's server under the program's name, where PAPPL's main loop puts
// it: PAPPL's temporary folder for a user's own server, /run for root's.
std::string local_socket_path(const char *baseName, uid_t uid);

// True when the local server's socket answers, for this user or for root; PAPPL would
// otherwise start a server with the default settings behind the command's back.
bool local_server_answers(const char *baseName);

// Whether the sub-command reports on the printer named with -d: PAPPL 1.3.1's "status"
// and "jobs" report a printer that does not exist as idle, or as having no jobs.
bool reports_on_printer(const command_line_t &line);

// Whether the local server has a printer of that name; true when it cannot be asked, so
// that PAPPL's own command says why.
bool local_printer_exists(const char *baseName, const std::string &printer);
