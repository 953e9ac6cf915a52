// SPDX-License-Identifier: Apache-2.0
// Programs that read a client's document run apart from the server: in a process group of
// their own, with a clean environment, none of the server's descriptors, no socket of any
// kind, no write outside their own directory where the kernel has Landlock, an
// unprivileged account when the server is root, and bounds on time, memory and the size of
// what they write.
#pragma once

#include <string>
#include <vector>

// One program of a pipeline: its path and its arguments after the name.
struct render_step_t {
  std::string path;
  std::vector<std::string> args;
};

// The bounds of one run: every program shares the wall clock, each has the memory and
// file size bounds.
struct render_limits_t {
  int seconds;
  long long addressBytes;
  long long fileBytes;
};

// How a run ended.
enum class render_end_t { finished, failed, timed_out, canceled, not_started };

struct render_result_t {
  render_end_t end;
  std::string program; // the program that failed
  int status;          // its exit status, or 128 + the signal that ended it
};

// Run the steps as a pipeline from inFd to outFd, every program's standard error to
// errFd, in the directory dir (also its TMPDIR and HOME) with the environment env added
// to its own; canceled is asked every 10 ms and a true answer, like the wall clock
// running out, kills the whole group.
render_result_t run_render_steps(const std::vector<render_step_t> &steps,
                                 const std::vector<std::string> &env, int inFd, int outFd,
                                 int errFd, const std::string &dir, const render_limits_t &limits,
                                 bool (*canceled)(void *), void *context);

// Where runs make their directories: TMPDIR, or /tmp.
std::string render_parent_dir();

// The name that a server's run directories begin with: the program's name and a digest
// of its state file, which no other server running shares.
std::string render_owner(const char *program, const char *stateFile);

// Make a private, empty directory for a run under parent, named for its owner (a
// render_owner), writable by the account the programs run as; empty when it cannot be
// made.
std::string make_render_dir(const std::string &parent, const std::string &owner);

// Remove the directory of a run and whatever its programs left in it, following no link.
void remove_render_dir(const std::string &dir);

// Remove the run directories under parent that owner made, as a server killed in the
// middle of a run leaves them, and nothing else; the number removed.
int remove_render_dirs(const std::string &parent, const std::string &owner);

// End the runs under way, as the server stops: their programs are killed at once; their
// directories are the caller's to remove.
void end_render_runs();

// Whether the kernel lets a run's programs be kept from writing outside their directory
// (Landlock); without it they may write wherever the server's account may.
bool render_writes_confined();
