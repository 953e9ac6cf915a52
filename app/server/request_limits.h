// SPDX-License-Identifier: Apache-2.0
// How long a connection may take over a request, and how large a document may be. PAPPL
// 1.3.1 waits 60 s for each line of a request's header, for ever for a body that stops
// coming, and spools a document of any size: a client that sends half a request would
// hold a server thread, and one that sends an endless document would fill the spool.
#pragma once

#include <cups/cups.h>
#include <cups/http.h>
#include <pappl/pappl.h>
#include <string>

// The time that a request's line and header fields may take in all, however slowly they
// trickle in; a new connection's TLS handshake counts towards its first request's.
inline constexpr double kHeaderSeconds = 5.0;

// The server's limits, with their defaults (a small board's spool and memory).
struct request_limits_t {
  long long documentBytes = 64LL << 20; // -o max-document-size=SIZE
  long long spoolBytes = 256LL << 20;   // -o max-spool-size=SIZE: the documents waiting
  int stallSeconds = 30;                // -o stall-timeout=SECONDS
  int renderSeconds = 60;               // -o pdf-time-limit=SECONDS: one PDF document
};

// Read the server's options into *limits; false, with the reason on standard error, when
// one is given that is not a positive size or number of seconds.
bool read_request_limits(int num_options, cups_option_t *options, request_limits_t *limits);

// The limits the server runs with (the defaults until read_request_limits is used).
const request_limits_t &request_limits();

// A size as an administrator writes it: digits with an optional k, M or G (powers of
// 1024); -1 when the text is no such size or is 0.
long long parse_size(const char *text);

// A size in the largest unit that states it whole: "64 MiB", "100 KiB", "1000 bytes".
std::string size_text(long long bytes);

// Whether a connection whose request began seconds ago, and whose http_t is in state, is
// past the deadline of its header part: it is still reading the request line or fields.
bool past_header_deadline(http_state_t state, double seconds);

// Watch every connection PAPPL accepts, from its accept to its close: the stall bound on
// every read and write, and each request's header deadline, with the connections past
// it closed every second.
void enforce_header_deadlines(pappl_system_t *system);
