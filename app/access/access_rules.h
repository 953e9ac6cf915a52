// SPDX-License-Identifier: Apache-2.0
// Who may do what, from where: the decision alone, from facts about a request that the
// server gathers (where the client is, whether it signed in, whether that account may
// administer). docs/security.md has the same rules as a table.
#pragma once

#include <cups/ipp.h>

// Where a request comes from.
enum class access_peer_t { local_socket, loopback, network };

// What came of the account and password a client sent.
enum class sign_in_t { none, refused, accepted };

// What the request asks: to print and follow its own jobs, to act on another account's
// job (PAPPL asks for the admin group then), or to administer (settings, printers, pages).
enum class access_question_t { print, others_job, administer };

// A request as the decision sees it.
struct access_request_t {
  access_peer_t peer;
  bool encrypted;     // it came over TLS
  bool tlsOffered;    // the server offers TLS (not -o server-options=no-tls)
  bool trustLoopback; // -o auth-service=none: every loopback client administers
  access_question_t question;
  ipp_op_t operation; // the IPP operation; IPP_OP_CUPS_NONE for a web page
  sign_in_t signIn;
  bool mayAdminister; // the account signed in, or the local socket's peer, administers
};

// The answer: go on, or the HTTP status that refuses; unsignedOwner when the job is
// to be owned by the name the client gives, marked as unsigned.
struct access_answer_t {
  http_status_t status;
  bool unsignedOwner;
};

// Whether the decision depends on the account and password the client sent.
bool needs_sign_in(const access_request_t &request);

// Decide a request.
access_answer_t decide_access(const access_request_t &request);
