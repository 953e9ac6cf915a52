// SPDX-License-Identifier: Apache-2.0
#include "filter_process.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace testkit {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kPollInterval(5);

// The environment a run gets: this process's, without PPD, with the changes applied.
std::vector<std::string> child_environment(const EnvChanges &env) {
  std::vector<std::string> entries;
  for (char **entry = environ; *entry; entry++) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('='));
    if (name != "PPD" && !env.count(name))
      entries.push_back(text);
  }
  for (const auto &[name, value] : env)
    if (value)
      entries.push_back(name + "=" + *value);
  return entries;
}

// Poll until the condition holds or the limit passes; returns the condition's last value.
bool poll_until(const std::function<bool()> &condition, std::chrono::milliseconds limit) {
  Clock::time_point deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() >= deadline)
      return condition();
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

} // namespace

FilterProcess::FilterProcess(const std::vector<std::string> &args, InputKind input,
                             OutputKind output, PipeSignal pipeSignal, const EnvChanges &env) {
  // A filter that has gone must show up as a failed write here, not end the test.
  signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> environment = child_environment(env);
  std::vector<char *> envp;
  for (std::string &entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> arguments = {"label"};
  arguments.insert(arguments.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &arg : arguments)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::string errPath = dir_.file("err");

  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if ((input == InputKind::Pipe && pipe2(in, O_CLOEXEC) != 0) || pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe2 failed");
  int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);

  // Only async-signal-safe calls between fork and exec: other threads may hold locks.
  pid_ = fork();
  if (pid_ == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, pipeSignal == PipeSignal::Ignored ? SIG_IGN : SIG_DFL);
    if (input == InputKind::Pipe)
      dup2(in[0], 0);
    else
      close(0);
    dup2(out[1], 1);
    dup2(err, 2);
    execve(STROBANE_BIN, argv.data(), envp.data());
    _exit(127);
  }
  close(err);
  if (input == InputKind::Pipe) {
    close(in[0]);
    input_ = in[1];
  }
  close(out[1]);
  if (output == OutputKind::ClosedPipe) {
    close(out[0]);
    std::lock_guard<std::mutex> lock(mutex_);
    outputEnded_ = true;
  } else {
    output_ = out[0];
    reader_ = std::thread(&FilterProcess::drain_output, this);
  }
}

FilterProcess::~FilterProcess() {
  if (running()) {
    kill(pid_, SIGKILL);
    wait_exit(std::chrono::seconds(30));
  }
  if (writer_.joinable())
    writer_.join();
  close_input();
  pause_output(false);
  if (reader_.joinable())
    reader_.join();
  if (output_ >= 0)
    close(output_);
}

bool FilterProcess::write_input(const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t count = write(input_, bytes.data() + done, bytes.size() - done);
    if (count < 0 && errno == EINTR)
      continue;
    if (count <= 0)
      return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

void FilterProcess::feed_input(std::string bytes) {
  writer_ = std::thread([this, bytes = std::move(bytes)] {
    write_input(bytes);
    close_input();
  });
}

void FilterProcess::close_input() {
  if (input_ >= 0) {
    close(input_);
    input_ = -1;
  }
}

void FilterProcess::pause_output(bool paused) {
  std::lock_guard<std::mutex> lock(mutex_);
  paused_ = paused;
  changed_.notify_all();
}

void FilterProcess::drain_output() {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return !paused_; });
    }
    ssize_t count = read(output_, buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR)
      continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (count <= 0) {
      outputEnded_ = true;
      changed_.notify_all();
      return;
    }
    drained_.append(buffer.data(), static_cast<size_t>(count));
    changed_.notify_all();
  }
}

bool FilterProcess::wait_for_output(const std::function<bool(const std::string &)> &condition,
                                    std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return condition(drained_) || outputEnded_; }) &&
         condition(drained_);
}

std::string FilterProcess::output() {
  // Once the filter has gone, what is left in the pipe still belongs to its output.
  std::unique_lock<std::mutex> lock(mutex_);
  if (status_)
    changed_.wait_for(lock, std::chrono::seconds(30), [this] { return outputEnded_ || paused_; });
  return drained_;
}

bool FilterProcess::wait_until_blocked_in(const std::string &kernelFunction,
                                          std::chrono::milliseconds limit) {
  std::string path = "/proc/" + std::to_string(pid_) + "/wchan";
  return poll_until(
      [&] {
        std::string wchan = read_file(path);
        return wchan.size() >= kernelFunction.size() &&
               wchan.compare(wchan.size() - kernelFunction.size(), std::string::npos,
                             kernelFunction) == 0;
      },
      limit);
}

bool FilterProcess::wait_for_handler(int signalNumber, std::chrono::milliseconds limit) {
  std::string path = "/proc/" + std::to_string(pid_) + "/status";
  uint64_t bit = uint64_t{1} << (signalNumber - 1);
  return poll_until(
      [&] {
        std::string status = read_file(path);
        size_t at = status.find("SigCgt:");
        return at != std::string::npos &&
               (std::stoull(status.substr(at + 7), nullptr, 16) & bit) != 0;
      },
      limit);
}

void FilterProcess::send_signal(int signalNumber) {
  kill(pid_, signalNumber);
}

std::optional<int> FilterProcess::wait_exit(std::chrono::milliseconds limit) {
  poll_until([this] { return !running(); }, limit);
  return status_;
}

bool FilterProcess::running() {
  if (status_)
    return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_)
    return true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return false;
}

std::string FilterProcess::error_text() const {
  return read_file(dir_.file("err"));
}

std::optional<std::vector<size_t>> block_boundaries(const std::string &stream) {
  std::vector<size_t> ends = {0};
  size_t pos = 0;
  while (pos < stream.size()) {
    size_t cls = stream.find("CLS\r\n", pos);
    if (stream.compare(pos, 5, "SIZE ") != 0 || cls == std::string::npos)
      return std::nullopt;
    pos = cls + 5;

    int x = 0, y = 0, consumed = 0;
    unsigned bytesPerRow = 0, rows = 0;
    std::string head = stream.substr(pos, 80);
    if (sscanf(head.c_str(), "BITMAP %d,%d,%u,%u,1,%n", &x, &y, &bytesPerRow, &rows, &consumed) !=
            4 ||
        consumed == 0)
      return std::nullopt;
    pos += static_cast<size_t>(consumed);
    size_t imageBytes = static_cast<size_t>(bytesPerRow) * rows;
    if (stream.size() - pos < imageBytes + 2 || stream.compare(pos + imageBytes, 2, "\r\n") != 0)
      return std::nullopt;
    pos += imageBytes + 2;
    ends.push_back(pos);

    // Only the last block may lack its PRINT line.
    if (pos == stream.size())
      break;
    size_t lineEnd = stream.find("\r\n", pos);
    if (stream.compare(pos, 8, "PRINT 1,") != 0 || lineEnd == std::string::npos)
      return std::nullopt;
    pos = lineEnd + 2;
    ends.push_back(pos);
  }
  return ends;
}

testing::AssertionResult same_stream(const std::string &actual, const std::string &expected) {
  if (actual == expected)
    return testing::AssertionSuccess();
  size_t shorter = std::min(actual.size(), expected.size());
  size_t at = static_cast<size_t>(std::mismatch(actual.begin(),
                                                actual.begin() + static_cast<ptrdiff_t>(shorter),
                                                expected.begin())
                                      .first -
                                  actual.begin());
  return testing::AssertionFailure()
         << "the streams part at byte " << at << " of " << actual.size() << " (expected "
         << expected.size() << " bytes); from there the output reads \"" << actual.substr(at, 40)
         << "\" and the expected \"" << expected.substr(at, 40) << "\"";
}

} // namespace testkit
