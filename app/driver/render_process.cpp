// SPDX-License-Identifier: Apache-2.0
#include "app/driver/render_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// The processor time a program may take beyond the wall clock, which ends the run first
// and says so; the bound stays for a program that outlives its group somehow.
constexpr rlim_t kCpuGraceSeconds = 5;

// The account the programs run as when the server is root: one that owns nothing.
struct render_account_t {
  bool drop;
  uid_t uid;
  gid_t gid;
};

render_account_t render_account() {
  render_account_t account = {geteuid() == 0, 65534, 65534};
  if (!account.drop)
    return account;
  struct passwd entry, *found = nullptr;
  char buffer[1024];
  if (!getpwnam_r("nobody", &entry, buffer, sizeof buffer, &found) && found) {
    account.uid = found->pw_uid;
    account.gid = found->pw_gid;
  }
  return account;
}

// Set one bound on the calling process, hard and soft alike.
bool set_limit(int resource, rlim_t value) {
  struct rlimit limit = {value, value};
  return setrlimit(resource, &limit) == 0;
}

// Become one program of the run; only calls that are safe after fork in a process with
// threads are made here.
[[noreturn]] void exec_step(char *const argv[], char *const envp[], int in, int out, int err,
                            pid_t group, const char *dir, const render_limits_t &limits,
                            const render_account_t &account) {
  setpgid(0, group);
  if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
    _exit(127);
  close_range(3, ~0U, 0);
  // The server ignores SIGPIPE and blocks some signals in its threads; a program starts
  // with neither.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  // A namespace of its own without interfaces but loopback: root may make one, and an
  // account may within a user namespace of its own where the kernel allows those.
  if (unshare(CLONE_NEWNET) != 0)
    unshare(CLONE_NEWUSER | CLONE_NEWNET);
  if (account.drop &&
      (setgroups(0, nullptr) != 0 || setgid(account.gid) != 0 || setuid(account.uid) != 0))
    _exit(127);
  if (!set_limit(RLIMIT_AS, static_cast<rlim_t>(limits.addressBytes)) ||
      !set_limit(RLIMIT_FSIZE, static_cast<rlim_t>(limits.fileBytes)) ||
      !set_limit(RLIMIT_CPU, static_cast<rlim_t>(limits.seconds) + kCpuGraceSeconds) ||
      !set_limit(RLIMIT_CORE, 0) || chdir(dir) != 0)
    _exit(127);
  execve(argv[0], argv, envp);
  _exit(127);
}

double now_seconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// Pointers to the strings, ending in a null, as execve takes them.
std::vector<char *> string_pointers(std::vector<std::string> &strings) {
  std::vector<char *> pointers;
  for (std::string &text : strings)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

} // namespace

render_result_t run_render_steps(const std::vector<render_step_t> &steps,
                                 const std::vector<std::string> &env, int inFd, int outFd,
                                 int errFd, const std::string &dir, const render_limits_t &limits,
                                 bool (*canceled)(void *), void *context) {
  // Everything a child needs is made before the fork.
  std::vector<std::string> envStrings = {"PATH=/usr/bin:/bin", "LANG=C", "TMPDIR=" + dir,
                                         "HOME=" + dir};
  envStrings.insert(envStrings.end(), env.begin(), env.end());
  std::vector<char *> envp = string_pointers(envStrings);
  std::vector<std::vector<std::string>> argStrings;
  for (const render_step_t &step : steps) {
    argStrings.push_back({step.path});
    argStrings.back().insert(argStrings.back().end(), step.args.begin(), step.args.end());
  }
  std::vector<std::vector<char *>> argvs;
  for (auto &strings : argStrings)
    argvs.push_back(string_pointers(strings));
  render_account_t account = render_account();

  render_result_t result = {render_end_t::finished, {}, 0};
  std::vector<pid_t> pids(steps.size(), -1);
  std::vector<int> statuses(steps.size(), 0);
  pid_t group = 0;
  int in = inFd;
  for (size_t i = 0; i < steps.size(); i++) {
    int link[2] = {-1, -1};
    bool last = i + 1 == steps.size();
    if (!last && pipe2(link, O_CLOEXEC) != 0)
      break;
    int out = last ? outFd : link[1];
    pid_t pid = fork();
    if (pid == 0)
      exec_step(argvs[i].data(), envp.data(), in, out, errFd, group, dir.c_str(), limits, account);
    if (in != inFd)
      close(in);
    if (!last)
      close(link[1]);
    in = last ? -1 : link[0];
    if (pid < 0)
      break;
    if (!group)
      group = pid;
    setpgid(pid, group);
    pids[i] = pid;
  }
  if (in >= 0 && in != inFd)
    close(in);

  double deadline = now_seconds() + limits.seconds;
  size_t running = 0;
  for (pid_t pid : pids)
    running += pid > 0;
  if (running < steps.size()) {
    result.end = render_end_t::not_started;
    if (group)
      kill(-group, SIGKILL);
  }
  while (running > 0) {
    int status = 0;
    pid_t pid = waitpid(-group, &status, result.end == render_end_t::finished ? WNOHANG : 0);
    if (pid > 0) {
      for (size_t i = 0; i < pids.size(); i++)
        if (pids[i] == pid) {
          statuses[i] = status;
          running--;
        }
      continue;
    }
    if (pid < 0 && errno != EINTR)
      break;
    if (pid < 0)
      continue;
    if (canceled(context))
      result.end = render_end_t::canceled;
    else if (now_seconds() > deadline)
      result.end = render_end_t::timed_out;
    if (result.end != render_end_t::finished) {
      kill(-group, SIGKILL);
      continue;
    }
    struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  if (result.end != render_end_t::finished)
    return result;
  for (size_t i = 0; i < steps.size(); i++) {
    int status = statuses[i];
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (code != 0) {
      result = {render_end_t::failed, steps[i].path, code};
      // A program that ended leaves none of its own behind it.
      kill(-group, SIGKILL);
      break;
    }
  }
  return result;
}

std::string make_render_dir(const std::string &parent) {
  std::string dir = parent + "/render-XXXXXX";
  if (!mkdtemp(dir.data()))
    return {};
  render_account_t account = render_account();
  if (account.drop && chown(dir.c_str(), account.uid, account.gid) != 0) {
    rmdir(dir.c_str());
    return {};
  }
  return dir;
}

void remove_render_dir(const std::string &dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return;
  if (DIR *entries = fdopendir(fd)) {
    while (struct dirent *entry = readdir(entries))
      if (strcmp(entry->d_name, ".") && strcmp(entry->d_name, ".."))
        unlinkat(fd, entry->d_name, 0);
    closedir(entries);
  } else {
    close(fd);
  }
  rmdir(dir.c_str());
}
