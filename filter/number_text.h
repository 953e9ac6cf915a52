// SPDX-License-Identifier: Apache-2.0
// Text-to-number conversions with a defined result for every input.
#pragma once

#include <cstdint>

// Read an integer as atoi does (leading white space, an optional sign, decimal
// digits up to the first other character, 0 without digits), but saturate at
// the 32-bit limits where atoi's result is undefined.
int32_t text_to_int(const char *text);
