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


namespace {

constexpr int kPollStepMs = 100;
constexpr int kConnectMs = 1000;

// Whether the error of a failed write means that the printer closed or reset the
// connection, rather than that it took nothing for the stall bound.
bool is_gone_error(int error) {
  return error != ETIMEDOUT && error != EAGAIN && error != EWOULDBLOCK;
}

} // namespace

send_result_t send_to_printer(pappl_device_t *device, const void *data, size_t size,
                              std::string *error) {
  // PAPPL's write waits at most this long while the printer takes nothing, and counts
  // the bytes that reached the device: the flush that sends what it buffered says nothing
  // of a failure, so the count does.
  papplDeviceSetTimeout(device, kStallSeconds * 1000);
  pappl_devmetrics_t before, after;
  papplDeviceGetMetrics(device, &before);
  errno = 0;
  bool written = papplDeviceWrite(device, data, size) >= 0;
  if (written) {
    papplDeviceFlush(device);
    papplDeviceGetMetrics(device, &after);
    written = after.write_bytes - before.write_bytes >= size;
  }
  if (written)
    return send_result_t::kSent;
  int failure = errno;
  int fd = papplDeviceGetSocket(device);
  if (fd < 0) {
    *error = "The printer's device could not be written.";
    return send_result_t::kFailed;
  }
  shutdown(fd, SHUT_RDWR);
  if (is_gone_error(failure)) {
    *error = std::string("The printer's connection failed: ") +
             strerror(failure ? failure : EPIPE) + ".";
    return send_result_t::kGone;
  }
  *error = stall_message();
  return send_result_t::kFailed;
}

bool wait_until_sent(pappl_device_t *device, pappl_job_t *job, bool (*stopping)(pappl_job_t *),
                     int *unsent) {
  int fd = papplDeviceGetSocket(device);
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
  int fd = papplDeviceGetSocket(device);
  if (fd < 0)
    return;
  // The kernel doubles what it is given, for its own bookkeeping.
  int bytes = blockBytes / 2 > INT_MAX ? INT_MAX : static_cast<int>(blockBytes / 2);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

bool reconnect_printer(pappl_device_t *device, const char *uri, std::string *error) {
  int fd = papplDeviceGetSocket(device);
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
