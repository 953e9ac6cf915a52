// SPDX-License-Identifier: Apache-2.0
#include "app/server/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

// Sync a file's bytes, or a directory's entries, to the disk.
bool sync_path(const char *path, int flags) {
  int fd = open(path, flags | O_CLOEXEC);
  if (fd < 0)
    return false;
  bool synced = fsync(fd) == 0;
  return close(fd) == 0 && synced;
}

// The directory that holds path, for syncing the rename into it.
std::string directory_of(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string failed(const std::string &what, const std::string &path) {
  return "Unable to " + what + " '" + path + "': " + strerror(errno ? errno : EIO);
}

} // namespace

bool replace_file(const std::string &path, const std::function<bool(const char *newPath)> &write,
                  std::string *error) {
  // Two saves at once (PAPPL saves from whichever thread changed something) would write
  // the same new file, and one could rename the other's half-written bytes into place.
  static std::mutex saving;
  std::lock_guard<std::mutex> held(saving);
  std::string newPath = path + ".new";
  errno = 0;
  if (!write(newPath.c_str())) {
    *error = failed("write", newPath);
  } else if (!sync_path(newPath.c_str(), O_RDONLY)) {
    *error = failed("sync", newPath);
  } else if (rename(newPath.c_str(), path.c_str())) {
    *error = failed("rename over", path);
  } else {
    // The rename is made durable too; the new file is whole either way.
    sync_path(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY);
    return true;
  }
  int saved = errno;
  unlink(newPath.c_str());
  errno = saved;
  return false;
}

bool replace_file_with_text(const std::string &path, const std::string &text, std::string *error) {
  return replace_file(
      path,
      [&text](const char *newPath) {
        int fd = open(newPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
          return false;
        size_t done = 0;
        while (done < text.size()) {
          ssize_t written = ::write(fd, text.data() + done, text.size() - done);
          if (written < 0 && errno == EINTR)
            continue;
          if (written <= 0) {
            if (written == 0)
              errno = ENOSPC;
            int saved = errno;
            close(fd);
            errno = saved;
            return false;
          }
          done += static_cast<size_t>(written);
        }
        return close(fd) == 0;
      },
      error);
}
