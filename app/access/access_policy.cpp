// SPDX-License-Identifier: Apache-2.0
#include "app/access/access_policy.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "app/access/access_rules.h"
#include "app/access/device_rule.h"
#include "app/access/printer_name.h"
#include "app/server/app_name.h"

namespace {

// PAPPL asks "is this client an administrator?" through a function that carries no data
// of ours, so the policy it answers from is kept here, set once before the server runs.
const access_policy_t *g_policy;

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

// Gather what the decision needs to know of the client, checking its account and
// password only when the decision depends on them.
access_request_t describe_client(pappl_client_t *client, access_question_t question, char *account,
                                 size_t size) {
  http_t *http = papplClientGetHTTP(client);
  http_addr_t *address = httpGetAddress(http);
  access_request_t request{};
  request.peer = httpAddrFamily(address) == AF_LOCAL ? access_peer_t::local_socket
                 : httpAddrLocalhost(address)        ? access_peer_t::loopback
                                                     : access_peer_t::network;
  request.encrypted = httpIsEncrypted(http);
  request.tlsOffered =
      !(papplSystemGetOptions(papplClientGetSystem(client)) & PAPPL_SOPTIONS_NO_TLS);
  request.trustLoopback = g_policy->trustLoopback;
  request.question = question;
  request.operation = papplClientGetOperation(client);
  if (request.peer == access_peer_t::local_socket)
    request.mayAdminister = peer_may_administer(client);
  else if (needs_sign_in(request))
    request.signIn = check_sign_in(client, account, size);
  if (request.signIn == sign_in_t::accepted)
    request.mayAdminister = is_group_member(account, g_policy->adminGid);
  return request;
}

// Decide for a client and act on the answer: the account signed in, or the name an
// unsigned client gives, becomes the owner of what it does.
http_status_t authorize(pappl_client_t *client, access_question_t question) {
  char account[256] = "";
  access_request_t request = describe_client(client, question, account, sizeof account);
  access_answer_t answer = decide_access(request);
  if (request.signIn == sign_in_t::accepted)
    papplClientSetUsername(client, account);
  if (answer.unsignedOwner)
    set_unsigned_owner(client);
  return answer.status;
}

// PAPPL's question for a TCP client: printing (any group but the admin group) or, for
// another account's job, administering (the admin group).
http_status_t authorize_request(pappl_client_t *client, const char *, gid_t groupid, void *) {
  return authorize(client, groupid == g_policy->adminGid ? access_question_t::others_job
                                                         : access_question_t::print);
}

// PAPPL asks before every administrator's request and page.
http_status_t answer_administrator(pappl_client_t *client, void *) {
  return authorize_administrator(client);
}

// PAPPL asks before it creates a printer (added, or brought back by the state file) and
// before each time it opens the printer's device; errno tells PAPPL's answer to a client.
bool check_printer(pappl_system_t *system, const char *name, const char *deviceUri, void *) {
  std::string reason;
  if (!is_printer_name(name)) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Printer '%s' refused: its name is not allowed.",
             name ? name : "");
    errno = EINVAL;
    return false;
  }
  if (!may_use_device(deviceUri, &reason)) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Printer '%s' refused: %s.", name, reason.c_str());
    errno = EPERM;
    return false;
  }
  return true;
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
  papplSystemSetAdminCallback(system, answer_administrator, nullptr);
  papplSystemSetPrinterCheckCallback(system, check_printer, nullptr);
}

const access_policy_t *access_policy() {
  return g_policy;
}

http_status_t authorize_administrator(pappl_client_t *client) {
  if (!client || !g_policy)
    return HTTP_STATUS_FORBIDDEN;
  return authorize(client, access_question_t::administer);
}
