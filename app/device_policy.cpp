// SPDX-License-Identifier: Apache-2.0
#include "app/device_policy.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <pappl/pappl.h>

#include "app/access_policy.h"

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

// Every printer is made here, by an administrator's request or from the state file; PAPPL
// calls this definition in place of its own, which takes any file the server can write.
extern "C" pappl_printer_t *papplPrinterCreate(pappl_system_t *system, int printer_id,
                                               const char *printer_name, const char *driver_name,
                                               const char *device_id, const char *device_uri) {
  using create_t = pappl_printer_t *(*)(pappl_system_t *, int, const char *, const char *,
                                        const char *, const char *);
  static auto create = reinterpret_cast<create_t>(dlsym(RTLD_NEXT, "papplPrinterCreate"));
  const access_policy_t *policy = access_policy();
  std::string reason;
  if (!create ||
      !is_device_allowed(device_uri, policy ? policy->deviceDirectory : nullptr, &reason)) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Printer '%s' refused: %s.",
             printer_name ? printer_name : "", reason.c_str());
    errno = EPERM;
    return nullptr;
  }
  return create(system, printer_id, printer_name, driver_name, device_id, device_uri);
}

// A device is opened for every job: checked again, for a printer that an older state file
// brought with it.
extern "C" pappl_device_t *papplDeviceOpen(const char *device_uri, const char *name,
                                           pappl_deverror_cb_t err_cb, void *err_data) {
  using open_t = pappl_device_t *(*)(const char *, const char *, pappl_deverror_cb_t, void *);
  static auto open = reinterpret_cast<open_t>(dlsym(RTLD_NEXT, "papplDeviceOpen"));
  const access_policy_t *policy = access_policy();
  std::string reason;
  if (!open ||
      !is_device_allowed(device_uri, policy ? policy->deviceDirectory : nullptr, &reason)) {
    if (err_cb)
      err_cb(("Device refused: " + reason + ".").c_str(), err_data);
    return nullptr;
  }
  return open(device_uri, name, err_cb, err_data);
}
