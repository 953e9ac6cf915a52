// SPDX-License-Identifier: Apache-2.0
#include "app/server/service_account.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <initializer_list>
#include <pappl/pappl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/server/app_name.h"

namespace {

const char kStateDirectory[] = "/var/lib/strobane-printer-app";

// The socket's place, read by the listener function PAPPL calls without data of ours.
const service_account_t *g_account;

// Make a directory, or take an existing one, with this owner and mode (as root).
bool own_directory(const char *path, uid_t uid, gid_t gid, mode_t mode) {
  if (mkdir(path, 0700) && errno != EEXIST) {
    fprintf(stderr, "%s: Unable to create '%s': %s\n", kAppName, path, strerror(errno));
    return false;
  }
  struct stat info;
  if (lstat(path, &info) || !S_ISDIR(info.st_mode) || chown(path, uid, gid) || chmod(path, mode)) {
    fprintf(stderr, "%s: Unable to take '%s' for the server: %s\n", kAppName, path,
            errno ? strerror(errno) : "not a directory");
    return false;
  }
  return true;
}

// Whether the state file or the spool directory is left in the state directory.
bool uses_state_directory(int num_options, cups_option_t *options) {
  return !cupsGetOption("state-file", num_options, options) ||
         !cupsGetOption("spool-directory", num_options, options);
}

// The state file and spool directory of the system's server.
void set_system_places(service_account_t *account) {
  account->isService = true;
  snprintf(account->stateFile, sizeof account->stateFile, "%s/%s.state", kStateDirectory, kAppName);
  snprintf(account->spoolDirectory, sizeof account->spoolDirectory, "%s/spool", kStateDirectory);
}

// The system's places for the service account's files and socket; made here as root,
// by the package's tmpfiles and the unit's StateDirectory under systemd.
bool use_system_places(int num_options, cups_option_t *options, const passwd *user, gid_t adminGid,
                       service_account_t *account) {
  set_system_places(account);
  char runDirectory[512], link[512];
  snprintf(runDirectory, sizeof runDirectory, "/run/%s", account->baseName);
  snprintf(account->socketPath, sizeof account->socketPath, "%s/%s.sock", runDirectory,
           account->baseName);
  snprintf(link, sizeof link, "/run/%s.sock", account->baseName);
  if (getuid() != 0) {
    struct stat info;
    if (stat(runDirectory, &info) || access(runDirectory, W_OK))
      account->socketPath[0] = '\0';
    return true;
  }
  if (uses_state_directory(num_options, options) &&
      !own_directory(kStateDirectory, user->pw_uid, user->pw_gid, 0700))
    return false;
  // The socket's directory is the admin group's (set-group-ID, so the socket is too):
  // other accounts cannot reach the socket at all.
  if (!own_directory(runDirectory, user->pw_uid, adminGid, 02750))
    return false;
  // Clients look for the server's socket where PAPPL puts a root server's.
  struct stat info;
  if (!lstat(link, &info) && (S_ISLNK(info.st_mode) || S_ISSOCK(info.st_mode)))
    unlink(link);
  if (symlink(account->socketPath, link) && errno != EEXIST) {
    fprintf(stderr, "%s: Unable to link '%s': %s\n", kAppName, link, strerror(errno));
    return false;
  }
  return true;
}

// Leave root for the account for good, with its groups (lp, for USB printers).
bool become(const passwd *user) {
  if (initgroups(user->pw_name, user->pw_gid) || setgid(user->pw_gid) || setuid(user->pw_uid)) {
    fprintf(stderr, "%s: Unable to become user '%s': %s\n", kAppName, user->pw_name,
            strerror(errno));
    return false;
  }
  if (setuid(0) == 0) {
    fprintf(stderr, "%s: Still able to become root after leaving it; stopping.\n", kAppName);
    return false;
  }
  // The TLS certificate and key that libcups makes go under the account's home.
  setenv("HOME", user->pw_dir, 1);
  setenv("USER", user->pw_name, 1);
  setenv("LOGNAME", user->pw_name, 1);
  return true;
}

// PAPPL asks once it has bound a local socket (mode 0600, its own account's).
bool protect_local_socket(pappl_system_t *system, const char *path, void *) {
  if (!g_account)
    return true;
  struct stat info;
  if (geteuid() == 0 && chown(path, static_cast<uid_t>(-1), g_account->socketGid))
    papplLog(system, PAPPL_LOGLEVEL_WARN, "Unable to give '%s' to the admin group: %s", path,
             strerror(errno));
  bool shared = !stat(path, &info) && info.st_gid == g_account->socketGid;
  if (chmod(path, shared ? 0660 : 0600)) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to protect '%s': %s", path, strerror(errno));
    return false;
  }
  return true;
}

} // namespace

void name_service_account(const char *argv0, service_account_t *account) {
  const char *slash = argv0 ? strrchr(argv0, '/') : nullptr;
  snprintf(account->baseName, sizeof account->baseName, "%s",
           slash   ? slash + 1
           : argv0 ? argv0
                   : kAppName);
}

bool take_service_account(int num_options, cups_option_t *options, gid_t adminGid,
                          service_account_t *account) {
  g_account = account;
  account->socketGid = adminGid;
  const char *name = cupsGetOption("user", num_options, options);
  if (getuid() == 0 && name && !strcmp(name, "root")) {
    fprintf(stderr, "%s: Serving as root, as -o user=root asks.\n", kAppName);
    set_system_places(account);
    return !uses_state_directory(num_options, options) ||
           own_directory(kStateDirectory, 0, 0, 0700);
  }
  passwd entry, *user = nullptr;
  char buffer[4096];
  if (getpwnam_r(name ? name : kAppName, &entry, buffer, sizeof buffer, &user) || !user) {
    if (getuid() != 0 && !name)
      return true;
    fprintf(stderr,
            "%s: There is no account '%s' to serve as: the package creates it; -o user=NAME "
            "names another%s.\n",
            kAppName, name ? name : kAppName, getuid() == 0 ? ", -o user=root stays root" : "");
    return false;
  }
  if (getuid() != 0)
    return user->pw_uid != getuid() ||
           use_system_places(num_options, options, user, adminGid, account);
  if (user->pw_uid == 0) {
    fprintf(stderr, "%s: '%s' is root; name the server's own account.\n", kAppName, user->pw_name);
    return false;
  }
  fprintf(stderr, "%s: Started as root: serving as user '%s'.\n", kAppName, user->pw_name);
  return use_system_places(num_options, options, user, adminGid, account) && become(user);
}

bool keep_files_private(const char *stateFile, const char *spoolDirectory) {
  bool kept = true;
  struct stat info;
  for (const char *path : {stateFile, spoolDirectory}) {
    if (!path || lstat(path, &info))
      continue;
    mode_t mode = S_ISDIR(info.st_mode) ? 0700 : 0600;
    if ((info.st_mode & 07777) != mode && (info.st_uid != geteuid() || chmod(path, mode))) {
      fprintf(stderr, "%s: '%s' is mode %04o and cannot be made %04o.\n", kAppName, path,
              static_cast<unsigned>(info.st_mode & 07777), static_cast<unsigned>(mode));
      kept = false;
    }
  }
  return kept;
}

void share_local_socket(pappl_system_t *system) {
  papplSystemSetDomainSocketCallback(system, protect_local_socket, nullptr);
}
