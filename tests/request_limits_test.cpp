// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cerrno>

#include "app/queue/document_spool.h"
#include "app/server/request_limits.h"

namespace {

TEST(RequestLimits, SizesAreBytesOrWholeKMOrGAndNothingElse) {
  struct Case {
    const char *text;
    long long bytes;
  } cases[] = {
      {"1000", 1000}, {"100k", 102400}, {"64M", 67108864}, {"64m", 67108864}, {"2G", 2147483648LL},
      {"0", -1},      {"", -1},         {"-5", -1},        {"+5", -1},        {" 5", -1},
      {"5 M", -1},    {"5MiB", -1},     {"5Mk", -1},       {"k", -1},         {"99999999999G", -1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(parse_size(c.text), c.bytes) << '"' << c.text << '"';
}

TEST(RequestLimits, ASizeIsToldInTheLargestWholeUnit) {
  EXPECT_EQ(size_text(64LL << 20), "64 MiB");
  EXPECT_EQ(size_text(100 << 10), "100 KiB");
  EXPECT_EQ(size_text(1536), "1536 bytes");
  EXPECT_EQ(size_text(1 << 30), "1 GiB");
  EXPECT_EQ(size_text(1), "1 byte");
}

TEST(RequestLimits, OnlyAHeaderStillArrivingPastItsSecondsIsOverdue) {
  struct Case {
    http_state_t state;
    double seconds;
    bool overdue;
  } cases[] = {
      {HTTP_STATE_WAITING, 4.9, false},  {HTTP_STATE_WAITING, 5.1, true},
      {HTTP_STATE_POST, 5.1, true},      {HTTP_STATE_GET, 60, true},
      {HTTP_STATE_POST_RECV, 60, false}, {HTTP_STATE_POST_SEND, 60, false},
      {HTTP_STATE_GET_SEND, 60, false},  {HTTP_STATE_PUT_RECV, 60, false},
  };
  for (const Case &c : cases)
    EXPECT_EQ(past_header_deadline(c.state, c.seconds), c.overdue)
        << httpStateString(c.state) << " after " << c.seconds << " s";
}

TEST(RequestLimits, ADocumentIsRefusedWithTheReasonItsCopyEnded) {
  struct Case {
    document_copy_result_t result;
    ipp_status_t status;
    const char *message;
  } cases[] = {
      {{false, false}, IPP_STATUS_OK, ""},
      {{true, false},
       IPP_STATUS_ERROR_REQUEST_ENTITY,
       "The document is larger than this server's limit of 64 MiB."},
      {{true, true},
       IPP_STATUS_ERROR_REQUEST_ENTITY,
       "The document is larger than this server's limit of 64 MiB."},
      {{false, true},
       IPP_STATUS_ERROR_BUSY,
       "The spool is full: the jobs waiting and this one come to more than its limit of 256 "
       "MiB. Send it again once they have printed."},
  };
  for (const Case &c : cases) {
    document_refusal_t refusal = document_refusal(c.result, 64LL << 20, 256LL << 20);
    EXPECT_EQ(refusal.status, c.status) << c.message;
    EXPECT_EQ(refusal.message, c.message);
  }
}

} // namespace
