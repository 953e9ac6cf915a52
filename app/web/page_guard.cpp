// SPDX-License-Identifier: Apache-2.0
#include "app/web/page_guard.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

char *form_token(pappl_client_t *client, char *buffer, size_t size, void *) {
  return make_form_token(client, buffer, size) ? buffer : nullptr;
}

bool form_is_valid(pappl_client_t *client, int num_form, cups_option_t *form, void *) {
  return is_valid_form(client, num_form, form);
}

} // namespace

void guard_web_forms(pappl_system_t *system) {
  papplSystemSetCSRFCallback(system, form_token, nullptr);
  papplSystemSetFormCallback(system, form_is_valid, nullptr);
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
