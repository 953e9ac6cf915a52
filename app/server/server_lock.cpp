// SPDX-License-Identifier: Apache-2.0
#include "app/server/server_lock.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "app/server/app_name.h"

namespace {

// The process ID in a lock file, 0 when it holds none.
pid_t written_holder(int fd) {
  char text[32] = {};
  ssize_t got = pread(fd, text, sizeof text - 1, 0);
  char *end = nullptr;
  long pid = got > 0 ? strtol(text, &end, 10) : 0;
  return pid > 0 && end && *end == '\n' ? static_cast<pid_t>(pid) : 0;
}

// A holder writes its ID right after it takes the lock: a start that comes between the
// two reads the file again for a while.
pid_t read_holder(int fd) {
  pid_t holder = 0;
  for (int tries = 0; tries < 50 && !(holder = written_holder(fd)); tries++)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return holder;
}

// Write this process's ID over what the file held, then cut it to that length: the
// bytes go in place, so a disk that is full takes them too, and only the holder of the
// lock ever reads them as its ID.
bool write_holder(int fd) {
  std::string text = std::to_string(static_cast<long>(getpid())) + "\n";
  ssize_t written = pwrite(fd, text.data(), text.size(), 0);
  if (written >= 0 && static_cast<size_t>(written) != text.size())
    errno = ENOSPC;
  return static_cast<size_t>(written) == text.size() &&
         ftruncate(fd, static_cast<off_t>(text.size())) == 0;
}

std::string failed(const std::string &what, const std::string &path) {
  return "Unable to " + what + " '" + path + "': " + strerror(errno);
}

// The inodes of the TCP sockets that listen on port, from one of /proc/net/tcp and tcp6.
void listening_inodes(const char *table, int port, std::set<std::string> *inodes) {
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> inode;
    size_t colon = local.rfind(':');
    // State 0A is LISTEN.
    if (colon != std::string::npos && state == "0A" &&
        strtol(local.c_str() + colon + 1, nullptr, 16) == port)
      inodes->insert("socket:[" + inode + "]");
  }
}

// The first process other than this one with a descriptor of one of the sockets.
pid_t process_with_socket(const std::set<std::string> &sockets) {
  pid_t found = 0;
  DIR *proc = opendir("/proc");
  while (dirent *entry = proc && !found ? readdir(proc) : nullptr) {
    pid_t pid = static_cast<pid_t>(atol(entry->d_name));
    if (pid <= 0 || pid == getpid())
      continue;
    std::string fdDirectory = std::string("/proc/") + entry->d_name + "/fd";
    DIR *fds = opendir(fdDirectory.c_str());
    while (dirent *fd = fds && !found ? readdir(fds) : nullptr) {
      char target[64];
      std::string link = fdDirectory + "/" + fd->d_name;
      ssize_t size = readlink(link.c_str(), target, sizeof target - 1);
      if (size > 0 && sockets.count(std::string(target, static_cast<size_t>(size))))
        found = pid;
    }
    if (fds)
      closedir(fds);
  }
  if (proc)
    closedir(proc);
  return found;
}

} // namespace

bool take_lock_file(const std::string &path, held_lock_t *lock, pid_t *holder, std::string *error) {
  *holder = 0;
  // A server that ends removes its lock file: one opened just before that is no longer
  // the file at path, and is opened again.
  for (int tries = 0; tries < 10; tries++) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      *error = failed("open", path);
      return false;
    }
    struct stat opened, named;
    if (fstat(fd, &opened) || !S_ISREG(opened.st_mode)) {
      *error = "Unable to lock '" + path + "': it is not a file";
      close(fd);
      return false;
    }
    // A lock of the open file, not of the process: it lasts until fd is closed, whatever
    // else of the file the process opens and closes, and two servers in one process (a
    // test's) shut each other out too.
    struct flock region = {};
    region.l_type = F_WRLCK;
    region.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &region)) {
      if (errno == EAGAIN || errno == EACCES)
        *holder = read_holder(fd);
      else
        *error = failed("lock", path);
      close(fd);
      return false;
    }
    if (stat(path.c_str(), &named) || named.st_dev != opened.st_dev ||
        named.st_ino != opened.st_ino) {
      close(fd);
      continue;
    }
    if (!write_holder(fd)) {
      *error = failed("write", path);
      close(fd);
      return false;
    }
    lock->path = path;
    lock->fd = fd;
    return true;
  }
  *error = "Unable to lock '" + path + "': it is removed each time it is opened";
  return false;
}

void give_up_lock_file(held_lock_t *lock) {
  if (lock->fd < 0)
    return;
  unlink(lock->path.c_str());
  close(lock->fd);
  lock->fd = -1;
}

bool lock_server_files(const server_files_t &files, server_locks_t *locks) {
  if (!files.spoolDirectory.empty() && mkdir(files.spoolDirectory.c_str(), 0700) &&
      errno != EEXIST) {
    fprintf(stderr, "%s: Unable to create '%s': %s\n", kAppName, files.spoolDirectory.c_str(),
            strerror(errno));
    return false;
  }
  struct guarded_t {
    const char *what;
    std::string path;
    std::string lockPath;
  };
  const guarded_t guarded[] = {
      {"state file", files.stateFile, files.stateFile + ".lock"},
      {"spool directory", files.spoolDirectory, files.spoolDirectory + "/server.lock"},
      {"local socket", files.socketPath, files.socketPath + ".lock"}};
  for (const guarded_t &file : guarded) {
    if (file.path.empty())
      continue;
    held_lock_t lock;
    pid_t holder;
    std::string error;
    if (take_lock_file(file.lockPath, &lock, &holder, &error)) {
      locks->held.push_back(lock);
      continue;
    }
    if (!error.empty())
      fprintf(stderr, "%s: %s\n", kAppName, error.c_str());
    else if (holder)
      fprintf(stderr, "%s: The %s '%s' is in use by the server running as process %ld.\n", kAppName,
              file.what, file.path.c_str(), static_cast<long>(holder));
    else
      fprintf(stderr, "%s: The %s '%s' is in use by another server.\n", kAppName, file.what,
              file.path.c_str());
    unlock_server_files(locks);
    return false;
  }
  locks->socketPath = files.socketPath;
  return true;
}

void unlock_server_files(server_locks_t *locks) {
  // The socket is this server's as long as its lock is held: no other server is bound there.
  if (!locks->socketPath.empty())
    unlink(locks->socketPath.c_str());
  locks->socketPath.clear();
  for (held_lock_t &lock : locks->held)
    give_up_lock_file(&lock);
  locks->held.clear();
}

pid_t process_listening_on(int port) {
  std::set<std::string> sockets;
  listening_inodes("/proc/net/tcp", port, &sockets);
  listening_inodes("/proc/net/tcp6", port, &sockets);
  return sockets.empty() ? 0 : process_with_socket(sockets);
}
