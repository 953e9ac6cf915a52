// SPDX-License-Identifier: Apache-2.0
#include "app/server/request_limits.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/socket.h>
#include <time.h>

#include "app/server/app_name.h"

namespace {

request_limits_t g_limits;

using watch_clock = std::chrono::steady_clock;

// What the watch keeps of a connection between PAPPL's accept and its close.
struct watched_t {
  http_t *http;
  bool inRequest;                // between a request's first byte and its end
  watch_clock::time_point since; // when that request (or the connection) began
  bool closed;                   // shut down by the watch already
};

// The lock is held while the watch shuts a socket down, and while a connection is
// forgotten before PAPPL closes it, so that no descriptor is shut after its reuse.
std::mutex g_watchLock;
std::map<pappl_client_t *, watched_t> g_watched;

// Asked by CUPS once a read or write has moved nothing for the stall time
// (httpSetTimeout): it gives up at once.
int give_up(http_t *, void *) {
  return 0;
}

bool close_overdue(pappl_system_t *, void *) {
  std::lock_guard<std::mutex> lock(g_watchLock);
  watch_clock::time_point now = watch_clock::now();
  for (auto &[client, watched] : g_watched) {
    if (!watched.inRequest || watched.closed)
      continue;
    double seconds = std::chrono::duration<double>(now - watched.since).count();
    // The state is read beside the client's thread: a value a moment old delays the
    // decision by a second at most.
    if (!past_header_deadline(httpGetState(watched.http), seconds))
      continue;
    papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                   "Closing: its request's header took more than %.0f s to arrive.",
                   kHeaderSeconds);
    // The client's thread, blocked reading, sees the end of the connection at once.
    shutdown(httpGetFd(watched.http), SHUT_RDWR);
    watched.closed = true;
  }
  return true;
}

// A positive whole number of seconds, or -1.
int parse_seconds(const char *text) {
  char *end = nullptr;
  errno = 0;
  long value = strtol(text, &end, 10);
  if (end == text || *end || errno || value < 1 || value > 86400)
    return -1;
  return static_cast<int>(value);
}

// A connection PAPPL has just accepted: its header deadline runs from now.
void watch_connection(pappl_client_t *client) {
  http_t *http = papplClientGetHTTP(client);
  // CUPS then waits this long for each read and write, the IPP message's too.
  httpSetTimeout(http, g_limits.stallSeconds, give_up, nullptr);
  std::lock_guard<std::mutex> lock(g_watchLock);
  g_watched[client] = {http, true, watch_clock::now(), false};
}

// Forgotten before PAPPL closes it, so that no descriptor is shut after its reuse.
void forget_connection(pappl_client_t *client) {
  std::lock_guard<std::mutex> lock(g_watchLock);
  g_watched.erase(client);
}

// A request begins: its header deadline runs.
void begin_request(pappl_client_t *client) {
  std::lock_guard<std::mutex> lock(g_watchLock);
  auto found = g_watched.find(client);
  // A new connection's first request keeps the time of the accept.
  if (found != g_watched.end() && !found->second.inRequest) {
    found->second.inRequest = true;
    found->second.since = watch_clock::now();
  }
}

// A request is answered: the connection may wait idle for the next.
void end_request(pappl_client_t *client) {
  std::lock_guard<std::mutex> lock(g_watchLock);
  auto found = g_watched.find(client);
  if (found != g_watched.end())
    found->second.inRequest = false;
}

// PAPPL tells each connection's accept, requests and close.
void follow_connection(pappl_client_t *client, pappl_cevent_t event, void *) {
  switch (event) {
  case PAPPL_CEVENT_ACCEPTED:
    watch_connection(client);
    break;
  case PAPPL_CEVENT_REQUEST_STARTED:
    begin_request(client);
    break;
  case PAPPL_CEVENT_REQUEST_DONE:
    end_request(client);
    break;
  case PAPPL_CEVENT_CLOSING:
    forget_connection(client);
    break;
  }
}

} // namespace

long long parse_size(const char *text) {
  static const struct {
    char unit;
    int shift;
  } kUnits[] = {{'k', 10}, {'K', 10}, {'m', 20}, {'M', 20}, {'g', 30}, {'G', 30}};
  if (!text || *text < '0' || *text > '9')
    return -1;
  char *end = nullptr;
  errno = 0;
  unsigned long long value = strtoull(text, &end, 10);
  int shift = 0;
  for (const auto &unit : kUnits)
    if (*end == unit.unit && !end[1]) {
      shift = unit.shift;
      end++;
    }
  if (*end || errno || value == 0 || value > (static_cast<unsigned long long>(1) << (62 - shift)))
    return -1;
  return static_cast<long long>(value << shift);
}

std::string size_text(long long bytes) {
  static const struct {
    int shift;
    const char *unit;
  } kUnits[] = {{30, "GiB"}, {20, "MiB"}, {10, "KiB"}};
  for (const auto &unit : kUnits)
    if (bytes >= (1LL << unit.shift) && bytes % (1LL << unit.shift) == 0)
      return std::to_string(bytes >> unit.shift) + " " + unit.unit;
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

bool read_request_limits(int num_options, cups_option_t *options, request_limits_t *limits) {
  *limits = {};
  const char *value = cupsGetOption("max-document-size", num_options, options);
  if (value && (limits->documentBytes = parse_size(value)) < 0) {
    fprintf(stderr,
            "%s: Bad 'max-document-size' value '%s': give bytes, or a number with k, M or G.\n",
            kAppName, value);
    return false;
  }
  value = cupsGetOption("max-spool-size", num_options, options);
  if (value && (limits->spoolBytes = parse_size(value)) < 0) {
    fprintf(stderr,
            "%s: Bad 'max-spool-size' value '%s': give bytes, or a number with k, M or G.\n",
            kAppName, value);
    return false;
  }
  value = cupsGetOption("stall-timeout", num_options, options);
  if (value && (limits->stallSeconds = parse_seconds(value)) < 0) {
    fprintf(stderr, "%s: Bad 'stall-timeout' value '%s': give seconds, from 1 to 86400.\n",
            kAppName, value);
    return false;
  }
  value = cupsGetOption("pdf-time-limit", num_options, options);
  if (value && (limits->renderSeconds = parse_seconds(value)) < 0) {
    fprintf(stderr, "%s: Bad 'pdf-time-limit' value '%s': give seconds, from 1 to 86400.\n",
            kAppName, value);
    return false;
  }
  g_limits = *limits;
  return true;
}

const request_limits_t &request_limits() {
  return g_limits;
}

bool past_header_deadline(http_state_t state, double seconds) {
  if (seconds <= kHeaderSeconds)
    return false;
  switch (state) {
  case HTTP_STATE_GET_SEND:
  case HTTP_STATE_POST_RECV:
  case HTTP_STATE_POST_SEND:
  case HTTP_STATE_PUT_RECV:
  case HTTP_STATE_STATUS:
    // The header is in: the body and the answer are bound by the stall time instead.
    return false;
  default:
    return true;
  }
}

void enforce_header_deadlines(pappl_system_t *system) {
  papplSystemSetClientCallback(system, follow_connection, nullptr);
  papplSystemAddTimerCallback(system, time(nullptr), 1, close_overdue, nullptr);
}
