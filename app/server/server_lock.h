// SPDX-License-Identifier: Apache-2.0
// One server for each state file, spool directory and local socket: the server locks each
// for its whole life, through a lock file beside it that holds its process ID, before it
// reads the state or binds the socket; a second server then refuses to start and names
// the process of the one that runs.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A lock file that this process holds for as long as fd stays open.
struct held_lock_t {
  std::string path;
  int fd = -1;
};

// Take the lock file at path (made if missing) and write this process's ID into it. False
// when another open file holds it, with *holder the process ID written in it (0 when none
// can be read), or when it cannot be taken, with *error saying why.
bool take_lock_file(const std::string &path, held_lock_t *lock, pid_t *holder, std::string *error);

// Remove a lock file that this process holds, then give up the lock.
void give_up_lock_file(held_lock_t *lock);

// The files that only one server may use at a time.
struct server_files_t {
  std::string stateFile;
  std::string spoolDirectory; // empty: PAPPL's folder of this process alone
  std::string socketPath;
};

// The locks that a running server holds on its files.
struct server_locks_t {
  std::vector<held_lock_t> held;
  std::string socketPath; // removed with its lock once the server ends
};

// Lock the state file (STATE.lock), the spool directory (SPOOL/server.lock, the directory
// made if missing) and the local socket (SOCKET.lock). False, with the reason on standard
// error, when another server holds one (its process ID named) or one cannot be locked;
// the locks already taken are then given up.
bool lock_server_files(const server_files_t &files, server_locks_t *locks);

// Once the server has ended: remove its local socket and its lock files, and give up the
// locks.
void unlock_server_files(server_locks_t *locks);

// The process that listens on a TCP port of this host, as far as this process may see
// other processes' sockets; 0 when none is found.
pid_t process_listening_on(int port);
