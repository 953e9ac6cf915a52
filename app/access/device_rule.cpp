// SPDX-License-Identifier: Apache-2.0
#include "app/access/device_rule.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cups/http.h>

#include "app/access/access_policy.h"

namespace {

// The path of a file:// URI as PAPPL opens it (without its "?ext=..." options) and
// resolved through its links; a file not there yet resolves through its directory.
bool resolve_file_path(const char *uri, std::string *path) {
  char scheme[32], userpass[256], host[256], resource[1024];
  int port;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, userpass, sizeof userpass,
                      host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
    return false;
  if (char *options = strchr(resource, '?'))
    *options = '\0';
  char resolved[PATH_MAX];
  if (realpath(resource, resolved)) {
    *path = resolved;
    return true;
  }
  char *slash = strrchr(resource, '/');
  if (errno != ENOENT || !slash || !slash[1] || !strcmp(slash, "/..") || !strcmp(slash, "/."))
    return false;
  *slash = '\0';
  if (!realpath(*resource ? resource : "/", resolved))
    return false;
  *path = std::string(resolved) + "/" + (slash + 1);
  return true;
}

} // namespace

bool is_device_allowed(const char *device_uri, const char *allowed_directory, std::string *reason) {
  if (!device_uri || strncmp(device_uri, "file:", 5))
    return true;
  std::string path;
  if (!allowed_directory || !*allowed_directory) {
    *reason =
        "file devices are not allowed (the server's -o device-directory=DIR allows them in DIR)";
    return false;
  }
  if (!resolve_file_path(device_uri, &path)) {
    *reason = "the file device's path cannot be resolved";
    return false;
  }
  std::string directory = allowed_directory;
  if (path != directory && path.compare(0, directory.size() + 1, directory + "/")) {
    *reason = path + " is outside the directory allowed for file devices, " + directory;
    return false;
  }
  return true;
}

bool may_use_device(const char *device_uri, std::string *reason) {
  const access_policy_t *policy = access_policy();
  return is_device_allowed(device_uri, policy ? policy->deviceDirectory : nullptr, reason);
}
