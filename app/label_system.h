// SPDX-License-Identifier: Apache-2.0
// The PAPPL system that serves the label printers: its account, rules, listeners,
// drivers, web pages, state and queues, made once the command line is read.
#pragma once

#include <pappl/pappl.h>

#include "app/access/access_policy.h"
#include "app/command/command_line.h"
#include "app/server/service_account.h"

// The server's account and rules, read once when it starts.
struct server_settings_t {
  const command_line_t *line;
  service_account_t account;
  access_policy_t policy;
};

// PAPPL's system callback: create the system for the command line in data (a
// server_settings_t). A server listens on the loopback addresses and the local socket that
// the command line uses, and on another address when listen-hostname names one; a
// sub-command such as "drivers" gets a bare system with the drivers alone.
pappl_system_t *create_label_system(int num_options, cups_option_t *options, void *data);
