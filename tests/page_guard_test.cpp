// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "app/web/page_guard.h"

namespace {

TEST(PageGuard, FormsComeOnlyFromThisServersOwnPages) {
  struct Case {
    bool encrypted;
    const char *host, *origin, *referer;
    bool own;
  } cases[] = {
      {false, "localhost:8000", "http://localhost:8000", nullptr, true},
      {false, "localhost:8000", "http://localhost:8000", "http://evil.example/", true},
      {false, "localhost:8000", "http://evil.example", "http://localhost:8000/label/", false},
      {false, "localhost:8000", "https://localhost:8000", nullptr, false},
      {true, "printer.lan:8000", "https://printer.lan:8000", nullptr, true},
      {true, "printer.lan:8000", "http://printer.lan:8000", nullptr, false},
      {false, "localhost:8000", "http://localhost:8000.evil.example", nullptr, false},
      {false, "localhost:8000", nullptr, "http://localhost:8000/label/device", true},
      {false, "localhost:8000", "", "http://localhost:8000/", true},
      {false, "localhost:8000", nullptr, "http://localhost:8000", false},
      {false, "localhost:8000", nullptr, "http://localhost:8000.evil.example/", false},
      {false, "localhost:8000", nullptr, "http://localhost:80001/", false},
      {false, "localhost:8000", nullptr, nullptr, false},
  };
  for (const Case &c : cases)
    EXPECT_EQ(is_own_origin(c.encrypted, c.host, c.origin, c.referer), c.own)
        << (c.encrypted ? "https " : "http ") << (c.host ? c.host : "(no host)") << ", Origin "
        << (c.origin ? c.origin : "(none)") << ", Referer " << (c.referer ? c.referer : "(none)");
}

} // namespace
