// SPDX-License-Identifier: Apache-2.0
// The real filter binary run as one link of a CUPS filter chain: pipes on its
// standard input and output, so that a test can feed it slowly, stall its reader,
// signal it mid-job and watch where it waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "testkit.h"

namespace testkit {

// What the filter's standard input is.
enum class InputKind { Pipe, Closed };

// What the filter's standard output is: a pipe drained by the test, or one
// whose reading end is already closed.
enum class OutputKind { Drained, ClosedPipe };

// The filter's SIGPIPE disposition at start: the default, as cupsd leaves it, or ignored.
enum class PipeSignal { Default, Ignored };

class FilterProcess {
public:
  // Start the filter with argv[1..] = args; PPD is unset unless env sets it.
  FilterProcess(const std::vector<std::string> &args, InputKind input = InputKind::Pipe,
                OutputKind output = OutputKind::Drained,
                PipeSignal pipeSignal = PipeSignal::Default, const EnvChanges &env = {});
  ~FilterProcess();
  FilterProcess(const FilterProcess &) = delete;
  FilterProcess &operator=(const FilterProcess &) = delete;

  pid_t pid() const {
    return pid_;
  }

  // Write bytes to the filter's input; false once the filter no longer reads it.
  bool write_input(const std::string &bytes);

  // Write bytes to the filter's input from a background thread, then close it.
  void feed_input(std::string bytes);

  // Close the filter's input: the writer has finished.
  void close_input();

  // Stop or resume draining the filter's output.
  void pause_output(bool paused);

  // Wait until the output drained so far satisfies the condition; false on timeout.
  bool wait_for_output(const std::function<bool(const std::string &)> &condition,
                       std::chrono::milliseconds limit);

  // The output drained so far; once the filter has exited, all of it.
  std::string output();

  // Wait until the filter blocks in a kernel function (its /proc wchan) whose name ends in
  // the given one, such as pipe_read or pipe_write; false on timeout.
  bool wait_until_blocked_in(const std::string &kernelFunction, std::chrono::milliseconds limit);

  // Wait until the filter has installed a handler for the signal; false on timeout.
  bool wait_for_handler(int signalNumber, std::chrono::milliseconds limit);

  void send_signal(int signalNumber);

  // Wait for the filter to end: its status as RunResult::status, or nothing on timeout.
  std::optional<int> wait_exit(std::chrono::milliseconds limit);

  // Whether the filter is still running.
  bool running();

  // Everything the filter wrote to standard error (complete once it has ended).
  std::string error_text() const;

private:
  // Read the filter's output into drained_ until it ends, waiting while paused.
  void drain_output();

  pid_t pid_ = -1;
  std::optional<int> status_;
  int input_ = -1;
  int output_ = -1;
  TempDir dir_;
  std::thread reader_;
  std::thread writer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string drained_;
  bool paused_ = false;
  bool outputEnded_ = false;
};

// Offsets at which a well-formed command stream may end: 0, the end of every
// PRINT line, and the end of each BITMAP's data and line end. Nothing when the
// stream is not a sequence of complete blocks.
std::optional<std::vector<size_t>> block_boundaries(const std::string &stream);

// Compare two command streams, telling where they part rather than printing their images.
testing::AssertionResult same_stream(const std::string &actual, const std::string &expected);

} // namespace testkit
