// SPDX-License-Identifier: Apache-2.0
#include "app/printer/printer_output.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/pappl-1.3.1/internals.h"

namespace {

constexpr int kPollStepMs = 100;
constexpr int kConnectMs = 1000;

} // namespace

send_result_t send_to_printer(pappl_device_t *device, const void *data, size_t size,
                              std::string *error) {
  int fd = pappl_device_socket(device);
  if (fd < 0) {
    if (papplDeviceWrite(device, data, size) >= 0)
      return send_result_t::kSent;
    *error = "The printer's device could not be written.";
    return send_result_t::kFailed;
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
      return send_result_t::kGone;
    }
    if (std::chrono::steady_clock::now() - lastProgress >= std::chrono::seconds(kStallSeconds)) {
      *error = stall_message();
      shutdown(fd, SHUT_RDWR);
      return send_result_t::kFailed;
    }
    pollfd output = {fd, POLLOUT, 0};
    poll(&output, 1, kPollStepMs);
  }
  return send_result_t::kSent;
}

bool wait_until_sent(pappl_device_t *device, pappl_job_t *job, bool (*stopping)(pappl_job_t *),
                     int *unsent) {
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
      *unsent = pending;
      shutdown(fd, SHUT_RDWR);
      return false;
    }
    poll(nullptr, 0, kPollStepMs);
  }
  return true;
}

std::string stall_message() {
  return "The printer took no data for " + std::to_string(kStallSeconds) +
         " s: it was given up on, and the connection closed.";
}

void size_printer_buffer(pappl_device_t *device, size_t blockBytes) {
  int fd = pappl_device_socket(device);
  if (fd < 0)
    return;
  // The kernel doubles what it is given, for its own bookkeeping.
  int bytes = blockBytes / 2 > INT_MAX ? INT_MAX : static_cast<int>(blockBytes / 2);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

bool reconnect_printer(pappl_device_t *device, const char *uri, std::string *error) {
  int fd = pappl_device_socket(device);
  char scheme[32], userpass[256], host[256], resource[256];
  int port = 0;
  if (fd < 0 ||
      httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, userpass, sizeof userpass,
                      host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    *error = "its address cannot be read";
    return false;
  }
  http_addrlist_t *addresses = httpAddrGetList(host, AF_UNSPEC, std::to_string(port).c_str());
  if (!addresses) {
    *error = std::string("its name cannot be looked up: ") + cupsLastErrorString();
    return false;
  }
  int connected = -1;
  httpAddrConnect2(addresses, &connected, kConnectMs, nullptr);
  httpAddrFreeList(addresses);
  if (connected < 0) {
    *error = "it takes no connection";
    return false;
  }
  // The new connection takes the old one's descriptor, which PAPPL holds and closes.
  bool moved = dup3(connected, fd, O_CLOEXEC) >= 0;
  if (!moved)
    *error = strerror(errno);
  close(connected);
  return moved;
}
