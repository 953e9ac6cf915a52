// SPDX-License-Identifier: Apache-2.0
#include "app/access_policy.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

const char kAppName[] = "strobane-printer-app";

// PAPPL asks "is this client an administrator?" through a function that carries no data
// of ours, so the policy it answers from is kept here, set once before the server runs.
const access_policy_t *g_policy;

// What an unsigned client on this computer may do: send a job of its own and follow it,
// as a print queue on this host does.
const ipp_op_t kUnsignedOperations[] = {IPP_OP_PRINT_JOB,  IPP_OP_VALIDATE_JOB,
                                        IPP_OP_CREATE_JOB, IPP_OP_SEND_DOCUMENT,
                                        IPP_OP_CLOSE_JOB,  IPP_OP_GET_JOB_ATTRIBUTES};

// The account name and password a PAM module asks for.
struct pam_answers_t {
  const char *account;
  const char *password;
};

// Answer PAM's prompts: the account for an echoed prompt, the password for a hidden one.
int answer_pam(int count, const pam_message **messages, pam_response **responses, void *data) {
  auto *answers = static_cast<pam_answers_t *>(data);
  auto *replies =
      static_cast<pam_response *>(calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (!replies)
    return PAM_BUF_ERR;
  for (int i = 0; i < count; i++) {
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_ON)
      replies[i].resp = strdup(answers->account);
    else if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF)
      replies[i].resp = strdup(answers->password);
  }
  *responses = replies;
  return PAM_SUCCESS;
}

// Check an account's password and that the account may be used now.
bool password_is_right(pappl_client_t *client, const char *account, const char *password) {
  pam_answers_t answers{account, password};
  pam_conv conversation{answer_pam, &answers};
  pam_handle_t *pamh = nullptr;
  char host[256];
  httpGetHostname(papplClientGetHTTP(client), host, sizeof host);
  int status = pam_start(g_policy->pamService, account, &conversation, &pamh);
  if (status == PAM_SUCCESS)
    status = pam_set_item(pamh, PAM_RHOST, host);
  if (status == PAM_SUCCESS)
    status = pam_authenticate(pamh, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (status == PAM_SUCCESS)
    status = pam_acct_mgmt(pamh, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (status != PAM_SUCCESS)
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Sign-in of '%s' refused: %s", account,
                   pam_strerror(pamh, status));
  if (pamh)
    pam_end(pamh, status);
  return status == PAM_SUCCESS;
}

enum class sign_in_t { none, refused, accepted };

// Check the account and password that the client sent (HTTP Basic), if it sent any.
sign_in_t check_sign_in(pappl_client_t *client, char *account, size_t size) {
  const char *field = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
  if (!field || !*field)
    return sign_in_t::none;
  if (strncasecmp(field, "Basic ", 6))
    return sign_in_t::refused;
  char decoded[512];
  int length = sizeof decoded;
  httpDecode64_2(decoded, &length, field + 6);
  char *password = strchr(decoded, ':');
  if (!password || password == decoded || static_cast<size_t>(password - decoded) >= size)
    return sign_in_t::refused;
  size_t nameLength = static_cast<size_t>(password - decoded);
  *password++ = '\0';
  if (!password_is_right(client, decoded, password))
    return sign_in_t::refused;
  memcpy(account, decoded, nameLength + 1);
  return sign_in_t::accepted;
}

bool is_unsigned_operation(ipp_op_t operation) {
  for (ipp_op_t allowed : kUnsignedOperations)
    if (operation == allowed)
      return true;
  return false;
}

// An unsigned job belongs to the name it gives, marked as unsigned ("NAME@localhost"), so
// that it can be followed under that name but never passes for an account's own job.
void set_unsigned_owner(pappl_client_t *client) {
  ipp_attribute_t *name =
      ippFindAttribute(papplClientGetRequest(client), "requesting-user-name", IPP_TAG_NAME);
  const char *given = name ? ippGetString(name, 0, nullptr) : nullptr;
  char owner[256];
  snprintf(owner, sizeof owner, "%s@localhost", given && *given ? given : "anonymous");
  papplClientSetUsername(client, owner);
}

// Decide for a client on TCP: an administrator's request when forAdmin, else printing.
http_status_t authorize_tcp(pappl_client_t *client, bool forAdmin) {
  http_t *http = papplClientGetHTTP(client);
  bool loopback = httpAddrLocalhost(httpGetAddress(http));
  if (g_policy->trustLoopback && loopback)
    return HTTP_STATUS_CONTINUE;
  char account[256];
  switch (check_sign_in(client, account, sizeof account)) {
  case sign_in_t::refused:
    return HTTP_STATUS_UNAUTHORIZED;
  case sign_in_t::none:
    if (forAdmin || !loopback || !is_unsigned_operation(papplClientGetOperation(client)))
      return HTTP_STATUS_UNAUTHORIZED;
    set_unsigned_owner(client);
    return HTTP_STATUS_CONTINUE;
  case sign_in_t::accepted:
    break;
  }
  papplClientSetUsername(client, account);
  // Listing a printer's jobs, or following its events, shows other accounts' job names.
  ipp_op_t operation = papplClientGetOperation(client);
  if (forAdmin || operation == IPP_OP_GET_JOBS || operation == IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS)
    return is_group_member(account, g_policy->adminGid) ? HTTP_STATUS_CONTINUE
                                                        : HTTP_STATUS_FORBIDDEN;
  return HTTP_STATUS_CONTINUE;
}

// PAPPL's question for a TCP client: printing (any group but the admin group) or, for
// another account's job, administering (the admin group).
http_status_t authorize_request(pappl_client_t *client, const char *, gid_t groupid, void *) {
  return authorize_tcp(client, groupid == g_policy->adminGid);
}

// Whether the process at the other end of the local socket may administer: root, the
// server's own account, or a member of the admin group.
bool peer_may_administer(pappl_client_t *client) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(httpGetFd(papplClientGetHTTP(client)), SOL_SOCKET, SO_PEERCRED, &peer, &length))
    return false;
  if (peer.uid == 0 || peer.uid == geteuid())
    return true;
  passwd entry, *found = nullptr;
  char buffer[4096];
  if (getpwuid_r(peer.uid, &entry, buffer, sizeof buffer, &found) || !found)
    return false;
  return is_group_member(found->pw_name, g_policy->adminGid);
}

} // namespace

bool is_group_member(const char *account, gid_t gid) {
  passwd entry, *found = nullptr;
  char buffer[4096];
  if (getpwnam_r(account, &entry, buffer, sizeof buffer, &found) || !found)
    return false;
  if (found->pw_gid == gid)
    return true;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(account, found->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (getgrouplist(account, found->pw_gid, groups.data(), &count) < 0)
      return false;
  }
  for (int i = 0; i < count; i++)
    if (groups[static_cast<size_t>(i)] == gid)
      return true;
  return false;
}

bool read_access_policy(int num_options, cups_option_t *options, access_policy_t *policy) {
  *policy = {};
  const char *value = cupsGetOption("admin-group", num_options, options);
  snprintf(policy->adminGroup, sizeof policy->adminGroup, "%s", value ? value : "lpadmin");
  group entry, *found = nullptr;
  char buffer[8192];
  if (getgrnam_r(policy->adminGroup, &entry, buffer, sizeof buffer, &found) || !found) {
    fprintf(stderr,
            "%s: The admin group '%s' does not exist: create it (addgroup --system %s) or "
            "name another with -o admin-group=GROUP.\n",
            kAppName, policy->adminGroup, policy->adminGroup);
    return false;
  }
  policy->adminGid = found->gr_gid;
  value = cupsGetOption("auth-service", num_options, options);
  policy->trustLoopback = value && !strcmp(value, "none");
  snprintf(policy->pamService, sizeof policy->pamService, "%s",
           value && !policy->trustLoopback ? value : kAppName);
  if ((value = cupsGetOption("device-directory", num_options, options)) != nullptr) {
    char resolved[PATH_MAX];
    if (!realpath(value, resolved) || strlen(resolved) >= sizeof policy->deviceDirectory) {
      fprintf(stderr, "%s: Bad 'device-directory' value '%s': %s.\n", kAppName, value,
              strerror(errno ? errno : ENAMETOOLONG));
      return false;
    }
    snprintf(policy->deviceDirectory, sizeof policy->deviceDirectory, "%s", resolved);
  }
  return true;
}

void apply_access_policy(pappl_system_t *system, const access_policy_t *policy) {
  g_policy = policy;
  // The admin group passes through PAPPL to our callback: it tells the administrator's
  // question from the printing one. The state file may name another; ours wins.
  papplSystemSetAdminGroup(system, policy->adminGroup);
  papplSystemSetAuthCallback(system, "Basic", authorize_request, nullptr);
}

const access_policy_t *access_policy() {
  return g_policy;
}

// PAPPL asks this before every administrator's request and page; its own version lets
// anyone on the local socket through and, without an admin group, any account that signs
// in. The dynamic linker gives PAPPL this definition in place of its own.
extern "C" http_status_t papplClientIsAuthorized(pappl_client_t *client) {
  if (!client || !g_policy)
    return HTTP_STATUS_FORBIDDEN;
  http_t *http = papplClientGetHTTP(client);
  if (httpAddrFamily(httpGetAddress(http)) == AF_LOCAL)
    return peer_may_administer(client) ? HTTP_STATUS_CONTINUE : HTTP_STATUS_FORBIDDEN;
  if (!httpAddrLocalhost(httpGetAddress(http)) && !httpIsEncrypted(http) &&
      !(papplSystemGetOptions(papplClientGetSystem(client)) & PAPPL_SOPTIONS_NO_TLS))
    return HTTP_STATUS_UPGRADE_REQUIRED;
  return authorize_tcp(client, true);
}
