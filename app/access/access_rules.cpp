// SPDX-License-Identifier: Apache-2.0
#include "app/access/access_rules.h"

namespace {

// What an unsigned client on this computer may do: send a job of its own and follow it,
// as a print queue on this host does.
const ipp_op_t kUnsignedOperations[] = {IPP_OP_PRINT_JOB,  IPP_OP_VALIDATE_JOB,
                                        IPP_OP_CREATE_JOB, IPP_OP_SEND_DOCUMENT,
                                        IPP_OP_CLOSE_JOB,  IPP_OP_GET_JOB_ATTRIBUTES};

bool is_unsigned_operation(ipp_op_t operation) {
  for (ipp_op_t allowed : kUnsignedOperations)
    if (operation == allowed)
      return true;
  return false;
}

// Plain HTTP from the network while the server offers TLS: passwords would cross the
// network readable, so administering waits for TLS.
bool needs_tls(const access_request_t &request) {
  return request.question == access_question_t::administer &&
         request.peer == access_peer_t::network && !request.encrypted && request.tlsOffered;
}

} // namespace

bool needs_sign_in(const access_request_t &request) {
  return request.peer != access_peer_t::local_socket && !needs_tls(request) &&
         !(request.trustLoopback && request.peer == access_peer_t::loopback);
}

access_answer_t decide_access(const access_request_t &request) {
  if (request.peer == access_peer_t::local_socket)
    return {request.mayAdminister ? HTTP_STATUS_CONTINUE : HTTP_STATUS_FORBIDDEN, false};
  if (needs_tls(request))
    return {HTTP_STATUS_UPGRADE_REQUIRED, false};
  if (request.trustLoopback && request.peer == access_peer_t::loopback)
    return {HTTP_STATUS_CONTINUE, false};
  switch (request.signIn) {
  case sign_in_t::refused:
    return {HTTP_STATUS_UNAUTHORIZED, false};
  case sign_in_t::none:
    if (request.question != access_question_t::print || request.peer != access_peer_t::loopback ||
        !is_unsigned_operation(request.operation))
      return {HTTP_STATUS_UNAUTHORIZED, false};
    return {HTTP_STATUS_CONTINUE, true};
  case sign_in_t::accepted:
    break;
  }
  // Listing a printer's jobs, or following its events, shows other accounts' job names.
  if (request.question != access_question_t::print || request.operation == IPP_OP_GET_JOBS ||
      request.operation == IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS)
    return {request.mayAdminister ? HTTP_STATUS_CONTINUE : HTTP_STATUS_FORBIDDEN, false};
  return {HTTP_STATUS_CONTINUE, false};
}
