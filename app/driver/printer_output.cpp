// SPDX-License-Identifier: Apache-2.0
#include "app/driver/printer_output.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "app/pappl-1.3.1/internals.h"

namespace {

constexpr int kPollStepMs = 100;

} // namespace

bool send_to_printer(pappl_device_t *device, const void *data, size_t size, std::string *error) {
  int fd = pappl_device_socket(device);
  if (fd < 0) {
    if (papplDeviceWrite(device, data, size) >= 0)
      return true;
    *error = "The printer's device could not be written.";
    return false;
  }
  // What PAPPL holds (a status query) goes first; it fits the socket's buffer.
  papplDeviceFlush(device);
  const auto *bytes = static_cast<const char *>(data);
  auto lastProgress = std::chrono::steady_clock::now();
  while (size > 0) {
    ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      bytes += sent;
      size -= static_cast<size_t>(sent);
      lastProgress = std::chrono::steady_clock::now();
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      *error = std::string("The printer's connection failed: ") + strerror(errno) + ".";
      shutdown(fd, SHUT_RDWR);
      return false;
    }
    if (std::chrono::steady_clock::now() - lastProgress >= std::chrono::seconds(kStallSeconds)) {
      *error = "The printer took no data for " + std::to_string(kStallSeconds) +
               " s: it was given up on, and the connection closed.";
      shutdown(fd, SHUT_RDWR);
      return false;
    }
    pollfd output = {fd, POLLOUT, 0};
    poll(&output, 1, kPollStepMs);
  }
  return true;
}

bool wait_until_sent(pappl_device_t *device, pappl_job_t *job, bool (*stopping)(pappl_job_t *),
                     std::string *error) {
  int fd = pappl_device_socket(device);
  if (fd < 0)
    return true;
  papplDeviceFlush(device);
  int pending = 0, last = -1;
  auto lastProgress = std::chrono::steady_clock::now();
  while (!ioctl(fd, SIOCOUTQ, &pending) && pending > 0 && !stopping(job)) {
    if (pending != last) {
      last = pending;
      lastProgress = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - lastProgress >=
               std::chrono::seconds(kStallSeconds)) {
      *error = "The printer did not take the job's last " + std::to_string(pending) +
               " bytes within " + std::to_string(kStallSeconds) +
               " s: its last labels may be missing.";
      shutdown(fd, SHUT_RDWR);
      return false;
    }
    poll(nullptr, 0, kPollStepMs);
  }
  return true;
}

void size_printer_buffer(pappl_device_t *device, size_t blockBytes) {
  int fd = pappl_device_socket(device);
  if (fd < 0)
    return;
  // The kernel doubles what it is given, for its own bookkeeping.
  int bytes = blockBytes / 2 > INT_MAX ? INT_MAX : static_cast<int>(blockBytes / 2);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}
