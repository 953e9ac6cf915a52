// SPDX-License-Identifier: Apache-2.0
// The PAPPL system that serves the label printers: its account, rules, listeners,
// drivers, web pages, state and queues, made once the command line is read.
#pragma once

#include <pappl/pappl.h>

#include "app/access/access_policy.h"
#include "app/command/command_line.h"
#include "app/server/server_lock.h"
#include "app/server/service_account.h"

// The server's account and rules, read once when it starts, and the locks on its files,
// held until it ends.
struct server_settings_t {
  const command_line_t *line;
  service_account_t account;
  access_policy_t policy;
  server_locks_t locks;
};

// PAPPL's system callback: create the system for the command line in data (a
// server_settings_t). A server first locks its state file, spool directory and local
// socket, and is not created while another server holds one; it listens on every loopback
// address and the local socket that the command line uses (account.socketPath, or where
// PAPPL's main loop puts it), and on every address of listen-hostname when that names
// one, and is not created when one of them cannot be listened on. A sub-command such as
// "drivers" gets a bare system with the drivers alone.
pappl_system_t *create_label_system(int num_options, cups_option_t *options, void *data);
