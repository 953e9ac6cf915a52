// SPDX-License-Identifier: Apache-2.0
#include "filter/number_text.h"

int32_t text_to_int(const char *text) {
  const char *p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
    p++;

  bool negative = false;
  if (*p == '+' || *p == '-')
    negative = *p++ == '-';

  // Accumulate as a negative number so that INT32_MIN itself is reachable.
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    value = value * 10 - (*p - '0');
    if (value < INT32_MIN) {
      value = INT32_MIN - int64_t{1};
      break;
    }
  }
  if (negative)
    return value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
  if (value < -int64_t{INT32_MAX})
    return INT32_MAX;
  return static_cast<int32_t>(-value);
}
