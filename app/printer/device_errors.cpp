// SPDX-License-Identifier: Apache-2.0
#include "app/printer/device_errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cups/cups.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How long the second connection may take: CUPS reports "Host is down" only for
// addresses that failed at once, so an answer comes within this if it comes at all.
constexpr int kRetryMs = 1000;

// The error a connection to one address ends with; 0 when it is made or nothing answers.
int connect_error(http_addr_t *address) {
  int fd = socket(httpAddrFamily(address), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return 0;
  int error = 0;
  if (connect(fd, &address->addr, static_cast<socklen_t>(httpAddrLength(address))) != 0) {
    error = errno;
    pollfd watch = {fd, POLLOUT, 0};
    socklen_t size = sizeof error;
    if (error == EINPROGRESS &&
        (poll(&watch, 1, kRetryMs) != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size)))
      error = 0;
  }
  close(fd);
  return error;
}

} // namespace

std::string explain_device_error(const char *device_uri, const char *message) {
  const char *down = strerror(EHOSTDOWN);
  size_t length = strlen(message), downLength = strlen(down);
  char scheme[32], userpass[256], host[256], resource[256];
  int port = 0;
  if (length < downLength || strcmp(message + length - downLength, down) ||
      httpSeparateURI(HTTP_URI_CODING_ALL, device_uri, scheme, sizeof scheme, userpass,
                      sizeof userpass, host, sizeof host, &port, resource,
                      sizeof resource) < HTTP_URI_STATUS_OK ||
      strcmp(scheme, "socket"))
    return message;
  char service[16];
  snprintf(service, sizeof service, "%d", port);
  http_addrlist_t *addresses = httpAddrGetList(host, AF_UNSPEC, service);
  int error = 0;
  for (http_addrlist_t *address = addresses; address && !error; address = address->next)
    error = connect_error(&address->addr);
  httpAddrFreeList(addresses);
  return error ? std::string(message, length - downLength) + strerror(error) : message;
}
