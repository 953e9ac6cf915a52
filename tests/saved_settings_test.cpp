// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>

#include "app/server/saved_settings.h"

namespace {

bool same(const saved_printer_t &a, const saved_printer_t &b) {
  return a.id == b.id && a.speed == b.speed && a.darkness == b.darkness &&
         a.leftDefault == b.leftDefault && a.leftReady == b.leftReady && a.paused == b.paused;
}

TEST(SavedSettings, EachPrinterLineReadsBackAsWritten) {
  struct Case {
    saved_printer_t printer;
    const char *line;
  } cases[] = {
      {{1, 10160, 53, 0, 0, false},
       "1 speed=10160 darkness=53 left-default=0 left-ready=0 paused=0\n"},
      {{2, 5080, 0, 1600, 250, true},
       "2 speed=5080 darkness=0 left-default=1600 left-ready=250 paused=1\n"},
      {{17, 15240, 100, -3, 2147483647, false},
       "17 speed=15240 darkness=100 left-default=-3 left-ready=2147483647 paused=0\n"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(saved_printer_line(c.printer), c.line);
    saved_printer_t read{};
    ASSERT_TRUE(read_saved_printer_line(c.line, &read)) << c.line;
    EXPECT_TRUE(same(read, c.printer)) << c.line;
  }
}

TEST(SavedSettings, LinesOfAnotherShapeAreSkipped) {
  for (const char *line : {"", "\n", "1 speed=10160 darkness=53 left-default=0 left-ready=0\n",
                           "1 speed=10160 darkness=53 left-default=0 left-ready=0 paused=2\n",
                           "1 speed=10160 darkness=53 left-default=0 left-ready=0 paused=0 x\n",
                           "x speed=10160 darkness=53 left-default=0 left-ready=0 paused=0\n"}) {
    saved_printer_t read{};
    EXPECT_FALSE(read_saved_printer_line(line, &read)) << line;
  }
}

} // namespace
