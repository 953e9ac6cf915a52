// SPDX-License-Identifier: Apache-2.0
#include "app/document/render_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <mutex>
#include <pwd.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// Newer than some kernels' headers; the value is the kernel's ABI.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif

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

// The rights to change the file system that Landlock governs, by the first version of its
// ABI that knows each: a program is given them beneath its directory only.
constexpr struct {
  int abi;
  __u64 rights;
} kWriteRights[] = {
    {1, LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
            LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
            LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
            LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
            LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM},
    {2, LANDLOCK_ACCESS_FS_REFER},
    {3, LANDLOCK_ACCESS_FS_TRUNCATE},
};

// Of those, the rights that a rule for a single file may give.
constexpr __u64 kFileWriteRights = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_TRUNCATE;

// Landlock's ABI version, 0 where the kernel has none or it is turned off.
int landlock_abi() {
  long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return abi > 0 ? static_cast<int>(abi) : 0;
}

// Give the rights beneath path, a directory, or on path, a file.
bool allow_writes(int ruleset, const char *path, __u64 rights) {
  int fd = open(path, O_PATH | O_CLOEXEC);
  if (fd < 0)
    return false;
  landlock_path_beneath_attr rule = {rights, fd};
  bool added = syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
  close(fd);
  return added;
}

// A Landlock ruleset that lets a program change nothing but what lies beneath dir, and
// write to /dev/null: -1 where the kernel has no Landlock, -2 when it cannot be made.
int make_write_ruleset(const std::string &dir) {
  int abi = landlock_abi();
  if (abi == 0)
    return -1;
  __u64 rights = 0;
  for (const auto &entry : kWriteRights)
    if (abi >= entry.abi)
      rights |= entry.rights;
  landlock_ruleset_attr attr = {};
  attr.handled_access_fs = rights;
  int ruleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0));
  if (ruleset < 0)
    return -2;
  if (!allow_writes(ruleset, dir.c_str(), rights) ||
      !allow_writes(ruleset, "/dev/null", rights & kFileWriteRights)) {
    close(ruleset);
    return -2;
  }
  return ruleset;
}

// The architecture whose system call numbers the socket filter names.
#if defined(__x86_64__)
#define RENDER_AUDIT_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define RENDER_AUDIT_ARCH AUDIT_ARCH_AARCH64
#elif defined(__arm__)
#define RENDER_AUDIT_ARCH AUDIT_ARCH_ARM
#endif

#ifdef RENDER_AUDIT_ARCH
// A seccomp filter that refuses to make a socket of any family, or an io_uring (which makes
// sockets of its own): no network, and no way to the server's local socket, which the
// account could otherwise connect to. Each refusal is a test and the return after it;
// calls of another architecture, whose numbers differ, are all refused.
constexpr sock_filter kNoSockets[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, RENDER_AUDIT_ARCH, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
#if defined(__x86_64__)
    // x32's calls, on the same architecture, have this bit set.
    BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
#endif
#ifdef __NR_socketcall
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socketcall, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
#endif
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
};
#endif

// Take away the calling process's sockets and its writes outside its directory; these
// hold for the programs it runs, and under any account.
bool confine(int ruleset) {
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
    return false;
  if (ruleset >= 0 && syscall(SYS_landlock_restrict_self, ruleset, 0) != 0)
    return false;
#ifdef RENDER_AUDIT_ARCH
  sock_fprog program = {static_cast<unsigned short>(sizeof kNoSockets / sizeof kNoSockets[0]),
                        const_cast<sock_filter *>(kNoSockets)};
  return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0;
#else
  return true;
#endif
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
                            const render_account_t &account, int ruleset) {
  setpgid(0, group);
  if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
    _exit(127);
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
      !set_limit(RLIMIT_CORE, 0) || chdir(dir) != 0 || !confine(ruleset))
    _exit(127);
  close_range(3, ~0U, 0);
  execve(argv[0], argv, envp);
  _exit(127);
}

double now_seconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// What a run directory's name holds after its owner, before mkdtemp's letters.
constexpr char kRenderDirMark[] = "-render-";

// How deep a run's programs may nest directories and still have them removed.
constexpr int kRenderDirDepth = 16;

// Remove what the directory open at fd holds, following no link, and close it.
void remove_entries(int fd, int depth) {
  DIR *entries = fdopendir(fd);
  if (!entries) {
    close(fd);
    return;
  }
  while (struct dirent *entry = readdir(entries)) {
    if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..") ||
        unlinkat(dirfd(entries), entry->d_name, 0) == 0 || errno != EISDIR || depth == 0)
      continue;
    int inner =
        openat(dirfd(entries), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (inner >= 0) {
      remove_entries(inner, depth - 1);
      unlinkat(dirfd(entries), entry->d_name, AT_REMOVEDIR);
    }
  }
  closedir(entries);
}

// The process groups of the runs under way, which a stop ends.
std::mutex g_runsLock;
std::vector<pid_t> g_runGroups;

// Keeps a run's process group listed while the run lasts.
struct listed_group_t {
  pid_t group = 0;
  void list(pid_t pid) {
    std::lock_guard<std::mutex> held(g_runsLock);
    group = pid;
    g_runGroups.push_back(group);
  }
  ~listed_group_t() {
    std::lock_guard<std::mutex> held(g_runsLock);
    if (group)
      g_runGroups.erase(std::remove(g_runGroups.begin(), g_runGroups.end(), group),
                        g_runGroups.end());
  }
};

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
  int ruleset = make_write_ruleset(dir);
  if (ruleset == -2)
    return {render_end_t::not_started, {}, 0};

  render_result_t result = {render_end_t::finished, {}, 0};
  listed_group_t listed;
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
      exec_step(argvs[i].data(), envp.data(), in, out, errFd, group, dir.c_str(), limits, account,
                ruleset);
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
    if (group == pid)
      listed.list(group);
    pids[i] = pid;
  }
  if (in >= 0 && in != inFd)
    close(in);
  if (ruleset >= 0)
    close(ruleset);

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

void end_render_runs() {
  std::lock_guard<std::mutex> held(g_runsLock);
  for (pid_t group : g_runGroups)
    kill(-group, SIGKILL);
}

bool render_writes_confined() {
  return landlock_abi() > 0;
}

std::string render_parent_dir() {
  const char *tmp = getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

std::string render_owner(const char *program, const char *stateFile) {
  // FNV-1a: the same digest for the same path in every run.
  uint64_t digest = 14695981039346656037ULL;
  for (const char *at = stateFile; *at; at++)
    digest = (digest ^ static_cast<unsigned char>(*at)) * 1099511628211ULL;
  char text[32];
  snprintf(text, sizeof text, "-%016llx", static_cast<unsigned long long>(digest));
  return program + std::string(text);
}

std::string make_render_dir(const std::string &parent, const std::string &owner) {
  std::string dir = parent + "/" + owner + kRenderDirMark + "XXXXXX";
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
  remove_entries(fd, kRenderDirDepth);
  rmdir(dir.c_str());
}

int remove_render_dirs(const std::string &parent, const std::string &owner) {
  DIR *entries = opendir(parent.c_str());
  if (!entries)
    return 0;
  std::string start = owner + kRenderDirMark;
  // Only a directory of the account that runs make: another account's look-alike stays.
  render_account_t account = render_account();
  uid_t maker = account.drop ? account.uid : geteuid();
  int removed = 0;
  while (struct dirent *entry = readdir(entries)) {
    struct stat info;
    if (strncmp(entry->d_name, start.c_str(), start.size()) ||
        fstatat(dirfd(entries), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(info.st_mode) || info.st_uid != maker)
      continue;
    int fd = openat(dirfd(entries), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
      continue;
    remove_entries(fd, kRenderDirDepth);
    removed += unlinkat(dirfd(entries), entry->d_name, AT_REMOVEDIR) == 0;
  }
  closedir(entries);
  return removed;
}
