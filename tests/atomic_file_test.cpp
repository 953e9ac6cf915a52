// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/server/atomic_file.h"

namespace {

// The calls made under the test's folder, in order, with paths relative to it.
std::string folder;
std::vector<std::string> calls;
// The errno that the next fsync or rename fails with; 0 lets it through.
int failFsync = 0, failRename = 0;

template <typename F> F real(const char *name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

std::string under_folder(const std::string &path) {
  if (folder.empty() || path.compare(0, folder.size(), folder))
    return std::string();
  return path.size() == folder.size() ? "." : path.substr(folder.size() + 1);
}

std::string contents(const std::string &path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

// The library, linked into this program, calls these: they note each call and fail it when
// asked, before passing it on to the C library.
extern "C" int fsync(int fd) {
  char path[PATH_MAX];
  ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
  std::string target = length > 0 ? std::string(path, length) : std::string();
  struct stat st;
  if (!under_folder(target).empty() && fstat(fd, &st) == 0)
    calls.push_back("fsync " + under_folder(target) +
                    (S_ISREG(st.st_mode) ? " = " + contents(target) : ""));
  if (failFsync) {
    errno = failFsync;
    failFsync = 0;
    return -1;
  }
  return real<int (*)(int)>("fsync")(fd);
}

extern "C" int rename(const char *from, const char *to) noexcept {
  if (!under_folder(from).empty())
    calls.push_back("rename " + under_folder(from) + " " + under_folder(to));
  if (failRename) {
    errno = failRename;
    failRename = 0;
    return -1;
  }
  return real<int (*)(const char *, const char *)>("rename")(from, to);
}

namespace {

// Each save writes and syncs the whole new file, renames it over the old one and syncs
// the folder; a failed step leaves the old file as it was and no new file behind.
TEST(AtomicFile, TheNewFileIsSyncedWholeBeforeItsRenameAndAFailedStepKeepsTheOldFile) {
  char dir[] = "/tmp/strobane-atomic.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  char *resolved = realpath(dir, nullptr);
  folder = resolved;
  free(resolved);
  const std::string path = folder + "/state", oldText = "old line 1\nold line 2\n",
                    newText = "new line 1\nnew line 2\nnew line 3\n";
  enum class step_t { none, write, sync, rename };
  struct Case {
    const char *what;
    step_t fails;
    int failure;
    std::vector<std::string> calls;
    std::string error;
  } cases[] = {
      {"saved",
       step_t::none,
       0,
       {"fsync state.new = " + newText, "rename state.new state", "fsync ."},
       ""},
      {"the writer fails",
       step_t::write,
       ENOSPC,
       {},
       "Unable to write '" + path + ".new': " + strerror(ENOSPC)},
      {"the new file's sync fails",
       step_t::sync,
       EIO,
       {"fsync state.new = " + newText},
       "Unable to sync '" + path + ".new': " + strerror(EIO)},
      {"the rename fails",
       step_t::rename,
       EXDEV,
       {"fsync state.new = " + newText, "rename state.new state"},
       "Unable to rename over '" + path + "': " + strerror(EXDEV)},
  };
  for (const Case &c : cases) {
    std::ofstream(path) << oldText;
    calls.clear();
    failFsync = c.fails == step_t::sync ? c.failure : 0;
    failRename = c.fails == step_t::rename ? c.failure : 0;
    std::string error;
    bool saved;
    if (c.fails == step_t::write)
      saved = replace_file(
          path,
          [&](const char *newPath) {
            std::ofstream(newPath) << newText.substr(0, 5);
            errno = c.failure;
            return false;
          },
          &error);
    else
      saved = replace_file_with_text(path, newText, &error);
    int failure = saved ? 0 : errno;
    EXPECT_EQ(saved, c.fails == step_t::none) << c.what;
    EXPECT_EQ(failure, c.failure) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
    EXPECT_EQ(calls, c.calls) << c.what;
    EXPECT_EQ(contents(path), saved ? newText : oldText) << c.what;
    EXPECT_NE(access((path + ".new").c_str(), F_OK), 0) << c.what;
  }
  failFsync = failRename = 0;
  folder.clear();
  unlink(path.c_str());
  unlink((path + ".new").c_str());
  rmdir(dir);
}

} // namespace
