// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "app/access/access_rules.h"

namespace {

using peer = access_peer_t;
using question = access_question_t;

// One cell of the access table in docs/security.md: who, from where, what, and the answer.
struct AccessRow {
  const char *who;
  peer from;
  bool encrypted;
  sign_in_t signIn;
  bool mayAdminister;
  question asks;
  ipp_op_t operation;
  http_status_t status;
  bool unsignedOwner;
};

constexpr http_status_t kGo = HTTP_STATUS_CONTINUE;
constexpr http_status_t kSignIn = HTTP_STATUS_UNAUTHORIZED;
constexpr http_status_t kNo = HTTP_STATUS_FORBIDDEN;
constexpr http_status_t kTls = HTTP_STATUS_UPGRADE_REQUIRED;
constexpr ipp_op_t kPage = IPP_OP_CUPS_NONE;

// The server offers TLS and checks passwords, as it does by default. Printing from the
// network in plain HTTP is answered 426 by PAPPL before it asks, so it has no row here.
// clang-format off
const AccessRow kTable[] = {
    {"root", peer::local_socket, false, sign_in_t::none, true, question::print, IPP_OP_PRINT_JOB, kGo, false},
    {"root", peer::local_socket, false, sign_in_t::none, true, question::administer, IPP_OP_CREATE_PRINTER, kGo, false},
    {"admin member", peer::local_socket, false, sign_in_t::none, true, question::others_job, IPP_OP_CANCEL_JOB, kGo, false},
    {"other account", peer::local_socket, false, sign_in_t::none, false, question::administer, IPP_OP_CREATE_PRINTER, kNo, false},
    {"unsigned", peer::loopback, false, sign_in_t::none, false, question::print, IPP_OP_PRINT_JOB, kGo, true},
    {"unsigned", peer::loopback, false, sign_in_t::none, false, question::print, IPP_OP_CREATE_JOB, kGo, true},
    {"unsigned", peer::loopback, false, sign_in_t::none, false, question::print, IPP_OP_GET_JOB_ATTRIBUTES, kGo, true},
    {"unsigned", peer::loopback, false, sign_in_t::none, false, question::print, IPP_OP_CANCEL_JOB, kSignIn, false},
    {"unsigned", peer::loopback, false, sign_in_t::none, false, question::print, IPP_OP_GET_JOBS, kSignIn, false},
    {"unsigned", peer::loopback, false, sign_in_t::none, false, question::others_job, IPP_OP_GET_JOB_ATTRIBUTES, kSignIn, false},
    {"unsigned", peer::loopback, false, sign_in_t::none, false, question::administer, kPage, kSignIn, false},
    {"unsigned", peer::network, true, sign_in_t::none, false, question::print, IPP_OP_PRINT_JOB, kSignIn, false},
    {"unsigned", peer::network, true, sign_in_t::none, false, question::administer, kPage, kSignIn, false},
    {"unsigned", peer::network, false, sign_in_t::none, false, question::administer, kPage, kTls, false},
    {"wrong password", peer::loopback, false, sign_in_t::refused, false, question::print, IPP_OP_PRINT_JOB, kSignIn, false},
    {"other account", peer::loopback, false, sign_in_t::accepted, false, question::print, IPP_OP_PRINT_JOB, kGo, false},
    {"other account", peer::loopback, false, sign_in_t::accepted, false, question::print, IPP_OP_CANCEL_JOB, kGo, false},
    {"other account", peer::loopback, false, sign_in_t::accepted, false, question::others_job, IPP_OP_CANCEL_JOB, kNo, false},
    {"other account", peer::loopback, false, sign_in_t::accepted, false, question::print, IPP_OP_GET_JOBS, kNo, false},
    {"other account", peer::loopback, false, sign_in_t::accepted, false, question::print, IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, kNo, false},
    {"other account", peer::loopback, false, sign_in_t::accepted, false, question::administer, kPage, kNo, false},
    {"other account", peer::network, true, sign_in_t::accepted, false, question::print, IPP_OP_PRINT_JOB, kGo, false},
    {"other account", peer::network, true, sign_in_t::accepted, false, question::administer, kPage, kNo, false},
    {"other account", peer::network, false, sign_in_t::accepted, false, question::administer, kPage, kTls, false},
    {"admin member", peer::loopback, false, sign_in_t::accepted, true, question::others_job, IPP_OP_CANCEL_JOB, kGo, false},
    {"admin member", peer::loopback, false, sign_in_t::accepted, true, question::print, IPP_OP_GET_JOBS, kGo, false},
    {"admin member", peer::loopback, false, sign_in_t::accepted, true, question::administer, kPage, kGo, false},
    {"admin member", peer::network, true, sign_in_t::accepted, true, question::administer, IPP_OP_DELETE_PRINTER, kGo, false},
    {"admin member", peer::network, false, sign_in_t::accepted, true, question::administer, kPage, kTls, false},
};
// clang-format on

access_request_t request_for(const AccessRow &row) {
  access_request_t request{};
  request.peer = row.from;
  request.encrypted = row.encrypted;
  request.tlsOffered = true;
  request.question = row.asks;
  request.operation = row.operation;
  request.signIn = row.signIn;
  request.mayAdminister = row.mayAdminister;
  return request;
}

TEST(AccessRules, EachCellOfTheTableGetsItsAnswer) {
  for (const AccessRow &row : kTable) {
    access_answer_t answer = decide_access(request_for(row));
    SCOPED_TRACE(std::string(row.who) + " via " + std::to_string(static_cast<int>(row.from)) +
                 (row.encrypted ? " (TLS)" : "") + ", operation " + ippOpString(row.operation));
    EXPECT_EQ(answer.status, row.status);
    EXPECT_EQ(answer.unsignedOwner, row.unsignedOwner);
  }
}

TEST(AccessRules, PasswordsAreAskedForOnlyWhereTheAnswerDependsOnThem) {
  for (const AccessRow &row : kTable) {
    access_request_t request = request_for(row);
    bool expected = row.from != peer::local_socket && row.status != kTls;
    EXPECT_EQ(needs_sign_in(request), expected) << row.who << ", " << ippOpString(row.operation);
  }
}

TEST(AccessRules, WithoutPasswordsLoopbackAdministersAndTheNetworkStillSignsIn) {
  access_request_t request{};
  request.trustLoopback = true;
  request.tlsOffered = true;
  request.question = question::administer;
  request.peer = peer::loopback;
  EXPECT_FALSE(needs_sign_in(request));
  EXPECT_EQ(decide_access(request).status, kGo);
  request.peer = peer::network;
  request.encrypted = true;
  EXPECT_TRUE(needs_sign_in(request));
  EXPECT_EQ(decide_access(request).status, kSignIn);
}

TEST(AccessRules, WithoutTlsOnOfferTheNetworkAdministersInPlainHttp) {
  access_request_t request{};
  request.peer = peer::network;
  request.question = question::administer;
  request.signIn = sign_in_t::accepted;
  request.mayAdminister = true;
  EXPECT_EQ(decide_access(request).status, kGo);
}

} // namespace
