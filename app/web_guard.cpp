// SPDX-License-Identifier: Apache-2.0
#include "app/web_guard.h"

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/socket.h>

namespace {

// Set while a status page is drawn for a visitor who may not see job names.
thread_local bool t_hideJobNames;

// Whether the request comes over the network in plain HTTP while TLS is on.
bool needs_tls(pappl_client_t *client) {
  http_t *http = papplClientGetHTTP(client);
  http_addr_t *address = httpGetAddress(http);
  return httpAddrFamily(address) != AF_LOCAL && !httpAddrLocalhost(address) &&
         !httpIsEncrypted(http) &&
         !(papplSystemGetOptions(papplClientGetSystem(client)) & PAPPL_SOPTIONS_NO_TLS);
}

// PAPPL's own status pages, which its headers do not declare; the guard calls them once
// it has decided what the visitor may see.
using system_page_t = void (*)(pappl_client_t *, pappl_system_t *);
using printer_page_t = void (*)(pappl_client_t *, pappl_printer_t *);

bool serve_status_page(pappl_client_t *client, void *page) {
  if (needs_tls(client))
    return papplClientRespond(client, HTTP_STATUS_UPGRADE_REQUIRED, nullptr, nullptr, 0, 0);
  // A signed-in visitor's forms carry the token of their account.
  papplClientIsAuthorized(client);
  reinterpret_cast<system_page_t>(page)(client, papplClientGetSystem(client));
  return true;
}

bool serve_printer_page(pappl_client_t *client, void *printerId) {
  static auto page = reinterpret_cast<printer_page_t>(dlsym(RTLD_DEFAULT, "_papplPrinterWebHome"));
  pappl_printer_t *printer =
      papplSystemFindPrinter(papplClientGetSystem(client), nullptr,
                             static_cast<int>(reinterpret_cast<intptr_t>(printerId)), nullptr);
  if (!printer || !page)
    return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  if (needs_tls(client))
    return papplClientRespond(client, HTTP_STATUS_UPGRADE_REQUIRED, nullptr, nullptr, 0, 0);
  // PAPPL's page acts on its buttons (hold, pause, test page, default printer) without
  // asking who sends them.
  if (papplClientGetMethod(client) == HTTP_STATE_POST && !papplClientHTMLAuthorize(client))
    return true;
  t_hideJobNames = papplClientIsAuthorized(client) != HTTP_STATUS_CONTINUE;
  page(client, printer);
  t_hideJobNames = false;
  return true;
}

// The text for a job list's cell, withheld from a visitor who may not see it.
const char *job_list_text(const char *text) {
  return t_hideJobNames ? "(private)" : text;
}

// The origin that the application's own pages have for this request.
std::string own_origin(pappl_client_t *client) {
  http_t *http = papplClientGetHTTP(client);
  return std::string(httpIsEncrypted(http) ? "https://" : "http://") +
         httpGetField(http, HTTP_FIELD_HOST);
}

// Whether the browser says that the form comes from one of our own pages.
bool is_own_origin(pappl_client_t *client) {
  http_t *http = papplClientGetHTTP(client);
  std::string origin = own_origin(client);
  const char *sent = httpGetField(http, HTTP_FIELD_ORIGIN);
  if (sent && *sent)
    return origin == sent;
  const char *referer = httpGetField(http, HTTP_FIELD_REFERER);
  return referer && !strncmp(referer, (origin + "/").c_str(), origin.size() + 1);
}

} // namespace

void guard_status_page(pappl_system_t *system) {
  if (void *page = dlsym(RTLD_DEFAULT, "_papplSystemWebHome"))
    papplSystemAddResourceCallback(system, "/", "text/html", serve_status_page, page);
  else
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "The status page cannot be guarded: it is PAPPL's own.");
}

void guard_printer_page(pappl_printer_t *printer) {
  char path[256];
  papplPrinterGetPath(printer, "", path, sizeof path);
  papplSystemAddResourceCallback(
      papplPrinterGetSystem(printer), path, "text/html", serve_printer_page,
      reinterpret_cast<void *>(static_cast<intptr_t>(papplPrinterGetID(printer))));
}

// The token that PAPPL puts in every form: bound to the account signed in (the request's
// credentials are gone by the time the page is written), where PAPPL's own is the same
// for every visitor from one address. The dynamic linker
// gives PAPPL these definitions in place of its own.
extern "C" char *papplClientGetCSRFToken(pappl_client_t *client, char *buffer, size_t bufsize) {
  if (!client || !buffer || bufsize < 65) {
    if (buffer && bufsize)
      *buffer = '\0';
    return nullptr;
  }
  char key[65], peer[256];
  http_t *http = papplClientGetHTTP(client);
  const char *username = papplClientGetUsername(client);
  std::string data =
      std::string(papplSystemGetSessionKey(papplClientGetSystem(client), key, sizeof key)) + ":" +
      (username ? username : "") + ":" + httpGetHostname(http, peer, sizeof peer);
  unsigned char hash[32];
  cupsHashData("sha2-256", data.data(), data.size(), hash, sizeof hash);
  cupsHashString(hash, sizeof hash, buffer, bufsize);
  return buffer;
}

extern "C" bool papplClientIsValidForm(pappl_client_t *client, int num_form, cups_option_t *form) {
  char token[65];
  const char *session = cupsGetOption("session", num_form, form);
  return session && papplClientGetCSRFToken(client, token, sizeof token) &&
         !strcmp(session, token) && is_own_origin(client);
}

extern "C" const char *papplJobGetName(pappl_job_t *job) {
  using get_t = const char *(*)(pappl_job_t *);
  static auto get = reinterpret_cast<get_t>(dlsym(RTLD_NEXT, "papplJobGetName"));
  return job_list_text(get ? get(job) : nullptr);
}

extern "C" const char *papplJobGetUsername(pappl_job_t *job) {
  using get_t = const char *(*)(pappl_job_t *);
  static auto get = reinterpret_cast<get_t>(dlsym(RTLD_NEXT, "papplJobGetUsername"));
  return job_list_text(get ? get(job) : nullptr);
}
