// SPDX-License-Identifier: Apache-2.0
#include "app/document/render_process.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool never_canceled(void *) {
  return false;
}

// A directory anyone may write to, as /tmp is, and listeners on a TCP port and a local
// socket in it: what a renderer that breaks out would reach for.
class RenderProcessTest : public ::testing::Test {
protected:
  void SetUp() override {
    char parent[] = "/tmp/render-test-XXXXXX";
    ASSERT_NE(mkdtemp(parent), nullptr);
    root = parent;
    ASSERT_EQ(chmod(root.c_str(), 01777), 0);
    dir = make_render_dir(root, "test");
    ASSERT_FALSE(dir.empty());

    tcp = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(tcp, reinterpret_cast<sockaddr *>(&address), size), 0);
    ASSERT_EQ(listen(tcp, 4), 0);
    ASSERT_EQ(getsockname(tcp, reinterpret_cast<sockaddr *>(&address), &size), 0);
    port = ntohs(address.sin_port);

    local = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un path = {};
    path.sun_family = AF_UNIX;
    socketPath = root + "/server.sock";
    snprintf(path.sun_path, sizeof path.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(bind(local, reinterpret_cast<sockaddr *>(&path), sizeof path), 0);
    ASSERT_EQ(chmod(socketPath.c_str(), 0777), 0);
    ASSERT_EQ(listen(local, 4), 0);
  }

  void TearDown() override {
    close(tcp);
    close(local);
    remove_render_dir(dir);
    std::string command = "rm -rf '" + root + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }

  // Run a shell command as the renderer runs; true when it exits 0.
  bool run(const std::string &command) {
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out = open("/dev/null", O_WRONLY | O_CLOEXEC);
    render_result_t result =
        run_render_steps({{"/bin/bash", {"-c", command}}}, {}, in, out, out, dir,
                         {20, 1LL << 30, 1 << 20}, never_canceled, nullptr);
    close(in);
    close(out);
    return result.end == render_end_t::finished;
  }

  // Whether a client has connected to either listener.
  bool reached() {
    int tcpClient = accept(tcp, nullptr, nullptr), localClient = accept(local, nullptr, nullptr);
    bool any = tcpClient >= 0 || localClient >= 0;
    if (tcpClient >= 0)
      close(tcpClient);
    if (localClient >= 0)
      close(localClient);
    return any;
  }

  std::string root, dir, socketPath;
  int tcp = -1, local = -1, port = 0;
};

TEST_F(RenderProcessTest, RendererWritesOnlyInItsDirectoryAndReachesNoSocket) {
  ASSERT_TRUE(render_writes_confined()) << "the kernel has no Landlock";
  struct {
    const char *what;
    std::string command;
    bool allowed;
  } rows[] = {
      {"a file in its directory", "echo x >inside && mkdir sub && rmdir sub && rm inside", true},
      {"a file beside its directory", "echo x >'" + root + "/outside'", false},
      {"a folder beside its directory", "mkdir '" + root + "/folder'", false},
      {"a link beside its directory", "ln -s inside '" + root + "/link'", false},
      {"a TCP port on loopback", "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port), false},
      {"a local socket it may open",
       "exec python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).connect(sys.argv[1])' '" +
           socketPath + "'",
       false},
  };
  for (const auto &row : rows) {
    EXPECT_EQ(run(row.command), row.allowed) << row.what;
    EXPECT_FALSE(reached()) << row.what;
  }
  for (const char *name : {"outside", "folder", "link"})
    EXPECT_NE(access((root + "/" + name).c_str(), F_OK), 0) << name;
}

} // namespace
