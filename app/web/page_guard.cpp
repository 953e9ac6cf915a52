// SPDX-License-Identifier: Apache-2.0
#include "app/web/page_guard.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/socket.h>

#include "app/pappl-1.3.1/internals.h"

namespace {

// Whether the request comes over the network in plain HTTP while TLS is on.
bool needs_tls(pappl_client_t *client) {
  http_t *http = papplClientGetHTTP(client);
  http_addr_t *address = httpGetAddress(http);
  return httpAddrFamily(address) != AF_LOCAL && !httpAddrLocalhost(address) &&
         !httpIsEncrypted(http) &&
         !(papplSystemGetOptions(papplClientGetSystem(client)) & PAPPL_SOPTIONS_NO_TLS);
}

bool serve_status_page(pappl_client_t *client, void *) {
  if (needs_tls(client))
    return papplClientRespond(client, HTTP_STATUS_UPGRADE_REQUIRED, nullptr, nullptr, 0, 0);
  // A signed-in visitor's forms carry the token of their account.
  papplClientIsAuthorized(client);
  pappl_show_system_home(client);
  return true;
}

bool serve_printer_page(pappl_client_t *client, void *pageData) {
  pappl_printer_t *printer = page_printer(client, pageData);
  if (!printer)
    return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  if (needs_tls(client))
    return papplClientRespond(client, HTTP_STATUS_UPGRADE_REQUIRED, nullptr, nullptr, 0, 0);
  // PAPPL's page acts on its buttons (hold, pause, test page, default printer) without
  // asking who sends them.
  if (papplClientGetMethod(client) == HTTP_STATE_POST && !papplClientHTMLAuthorize(client))
    return true;
  pappl_show_printer_home(client, printer, papplClientIsAuthorized(client) != HTTP_STATUS_CONTINUE);
  return true;
}

// PAPPL's supplies page asks nothing, so it would be served in plain HTTP to the network
// while every other page of the printer is redirected to TLS.
bool serve_supplies_page(pappl_client_t *client, void *pageData) {
  pappl_printer_t *printer = page_printer(client, pageData);
  if (!printer)
    return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  if (needs_tls(client))
    return papplClientRespond(client, HTTP_STATUS_UPGRADE_REQUIRED, nullptr, nullptr, 0, 0);
  pappl_show_printer_supplies(client, printer);
  return true;
}

} // namespace

void guard_status_page(pappl_system_t *system) {
  pappl_take_system_home(system, serve_status_page);
}

void guard_printer_page(pappl_printer_t *printer) {
  pappl_take_printer_page(printer, "", serve_printer_page, printer_page_data(printer));
  pappl_take_printer_page(printer, "supplies", serve_supplies_page, printer_page_data(printer));
}

void *printer_page_data(pappl_printer_t *printer) {
  return reinterpret_cast<void *>(static_cast<intptr_t>(papplPrinterGetID(printer)));
}

pappl_printer_t *page_printer(pappl_client_t *client, void *pageData) {
  return papplSystemFindPrinter(papplClientGetSystem(client), nullptr,
                                static_cast<int>(reinterpret_cast<intptr_t>(pageData)), nullptr);
}

bool make_form_token(pappl_client_t *client, char *buffer, size_t size) {
  if (!client || !buffer || size < 65) {
    if (buffer && size)
      *buffer = '\0';
    return false;
  }
  char key[65], peer[256];
  http_t *http = papplClientGetHTTP(client);
  const char *username = papplClientGetUsername(client);
  std::string data =
      std::string(papplSystemGetSessionKey(papplClientGetSystem(client), key, sizeof key)) + ":" +
      (username ? username : "") + ":" + httpGetHostname(http, peer, sizeof peer);
  unsigned char hash[32];
  cupsHashData("sha2-256", data.data(), data.size(), hash, sizeof hash);
  cupsHashString(hash, sizeof hash, buffer, size);
  return true;
}

bool is_valid_form(pappl_client_t *client, int num_form, cups_option_t *form) {
  char token[65];
  const char *session = cupsGetOption("session", num_form, form);
  http_t *http = papplClientGetHTTP(client);
  return session && make_form_token(client, token, sizeof token) && !strcmp(session, token) &&
         is_own_origin(httpIsEncrypted(http), httpGetField(http, HTTP_FIELD_HOST),
                       httpGetField(http, HTTP_FIELD_ORIGIN),
                       httpGetField(http, HTTP_FIELD_REFERER));
}

bool is_own_origin(bool encrypted, const char *host, const char *origin, const char *referer) {
  std::string own = std::string(encrypted ? "https://" : "http://") + (host ? host : "");
  if (origin && *origin)
    return own == origin;
  return referer && !strncmp(referer, (own + "/").c_str(), own.size() + 1);
}
