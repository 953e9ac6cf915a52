// SPDX-License-Identifier: Apache-2.0
#include "render/label_doc.h"

#include <cmath>

int16_t store16(int32_t value) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu));
}

int32_t truncate_to_int(double value) {
  if (std::isnan(value) || value <= -2147483649.0 || value >= 2147483648.0)
    return INT32_MIN;
  return static_cast<int32_t>(value);
}

int16_t clamp_tear_offset(int32_t hmm) {
  return static_cast<int16_t>(hmm < -kTearOffsetLimit  ? -kTearOffsetLimit
                              : hmm > kTearOffsetLimit ? kTearOffsetLimit
                                                       : hmm);
}
