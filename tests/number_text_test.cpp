// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "filter/job_settings.h"
#include "filter/number_text.h"

TEST(NumberText, ReadsIntegersAsAtoiDoes) {
  struct Case {
    const char *text;
    int32_t value;
  } cases[] = {
      {"12", 12},
      {"12abc", 12},
      {"3.9", 3},
      {"high", 0},
      {"", 0},
      {"  -15", -15},
      {"\t\n+7", 7},
      {"- 5", 0},
      {"--5", 0},
      {"0x1A", 0},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"65535", 65535},
      {"007", 7},
  };
  for (const Case &c : cases)
    EXPECT_EQ(text_to_int(c.text), c.value) << '"' << c.text << '"';
}

TEST(NumberText, SaturatesBeyondThe32BitRange) {
  EXPECT_EQ(text_to_int("2147483648"), INT32_MAX);
  EXPECT_EQ(text_to_int("-2147483649"), INT32_MIN);
  EXPECT_EQ(text_to_int("99999999999999999999999999999"), INT32_MAX);
  EXPECT_EQ(text_to_int("-99999999999999999999999999999x"), INT32_MIN);
}

TEST(NumberText, TruncatesTowardZeroOrGivesTheMinimum) {
  EXPECT_EQ(truncate_to_int(50.9), 50);
  EXPECT_EQ(truncate_to_int(-0.9), 0);
  EXPECT_EQ(truncate_to_int(-35.4), -35);
  EXPECT_EQ(truncate_to_int(2147483647.9), INT32_MAX);
  EXPECT_EQ(truncate_to_int(-2147483648.9), INT32_MIN);
  EXPECT_EQ(truncate_to_int(2147483648.0), INT32_MIN);
  EXPECT_EQ(truncate_to_int(3.5e9), INT32_MIN);
  EXPECT_EQ(truncate_to_int(-1e20), INT32_MIN);
  EXPECT_EQ(truncate_to_int(std::nan("")), INT32_MIN);
  EXPECT_EQ(truncate_to_int(std::numeric_limits<double>::infinity()), INT32_MIN);
}

TEST(NumberText, StorageKeepsTheLow16BitsSigned) {
  EXPECT_EQ(store16(65535), -1);
  EXPECT_EQ(store16(32768), -32768);
  EXPECT_EQ(store16(65536 + 12), 12);
  EXPECT_EQ(store16(-1), -1);
  EXPECT_EQ(store16(INT32_MIN), 0);
  EXPECT_EQ(store16(INT32_MAX), -1);
}
