// SPDX-License-Identifier: Apache-2.0
// Who may do what with the printer application: administrators (root and the admin
// group's members) change printers and see every job; any account that signs in prints
// and manages its own jobs; an unsigned client on this computer may only print.
#pragma once

#include <pappl/pappl.h>
#include <sys/types.h>

// The rules the server keeps, read from its options once at the start.
struct access_policy_t {
  char adminGroup[64]; // its members administer (-o admin-group, default lpadmin)
  gid_t adminGid;
  char pamService[64];        // the PAM service that checks passwords (-o auth-service)
  bool trustLoopback;         // -o auth-service=none: every loopback client administers
  char deviceDirectory[4096]; // file:// devices only under it (-o device-directory)
};

// Read the policy from the server options; false, with a message on standard error,
// when the options ask for something that cannot be kept (a group that does not exist).
bool read_access_policy(int num_options, cups_option_t *options, access_policy_t *policy);

// Keep the policy on the system; it must live as long as the system.
void apply_access_policy(pappl_system_t *system, const access_policy_t *policy);

// The policy in force, for the functions PAPPL calls without any data of ours.
const access_policy_t *access_policy();

// PAPPL's question before every administrator's request and page: whether the client
// may administer, or what it must do first (sign in, use TLS).
http_status_t authorize_administrator(pappl_client_t *client);

// Whether the account belongs to the group, as its primary group or a supplementary one.
bool is_group_member(const char *account, gid_t gid);
