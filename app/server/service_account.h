// SPDX-License-Identifier: Apache-2.0
// The account the server runs as, and where it keeps its files and its local socket: a
// system account of its own, never root unless asked for in so many words.
#pragma once

#include <cups/cups.h>
#include <pappl/pappl.h>
#include <sys/types.h>

// Where the server of one account keeps things.
struct service_account_t {
  char baseName[256];        // the program's name, which names its socket as PAPPL does
  bool isService;            // runs as the service account: the system's directories
  char stateFile[1024];      // default state file
  char spoolDirectory[1024]; // default spool directory; empty: PAPPL's own
  char socketPath[1024];     // the local socket; empty: where PAPPL puts it
  gid_t socketGid;           // the group that may use the socket: the admin group
};

// Set the account's program name from argv[0].
void name_service_account(const char *argv0, service_account_t *account);

// Become the account that serves: as root, the service account (-o user=NAME, default
// strobane-printer-app), after making its directories; -o user=root stays root. False,
// with the reason on standard error, when that cannot be done.
bool take_service_account(int num_options, cups_option_t *options, gid_t adminGid,
                          service_account_t *account);

// Make the state file and the spool directory the server's alone (0600 and 0700), as
// files an older version or another umask left readable are; false if one cannot be.
bool keep_files_private(const char *stateFile, const char *spoolDirectory);

// Let only the server's account and the admin group use each local socket PAPPL binds;
// one that cannot be protected is not listened on.
void share_local_socket(pappl_system_t *system);
