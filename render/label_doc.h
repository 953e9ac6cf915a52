// SPDX-License-Identifier: Apache-2.0
// The settings of one label job, filled by a front end and read by the block writer.
#pragma once

#include <cstdint>

// Settings of one job; every setting is signed 16-bit and keeps the low
// 16 bits of what is stored into it.
struct label_doc_t {
  int32_t jobId;
  const char *user;
  const char *title;
  int32_t copies;
  int16_t speed;
  int16_t darkness;
  int16_t mediaTracking;
  int16_t pageWidth;
  int16_t pageHeight;
  int16_t refX;
  int16_t refY;
  int16_t horizontal;
  int16_t vertical;
  int16_t mode;
  int16_t labelMode;
  int16_t tearOffset;
};

// What happens to a label once printed: torn off at the bar, peeled from its liner,
// or cut; any other value of labelMode counts as tear-off.
enum label_mode_t : int16_t { kLabelTearOff = 0, kLabelPeelOff = 1, kLabelCutter = 2 };

// The reach of the tear-off position in hundredths of a millimetre: one inch either way.
inline constexpr int32_t kTearOffsetLimit = 2540;

// Keep a tear-off position within its reach, so that both front ends clamp alike.
int16_t clamp_tear_offset(int32_t hmm);

// Keep the low 16 bits of a computed value, read back as signed.
int16_t store16(int32_t value);

// Truncate toward zero to a signed 32-bit integer; a value that is not a number
// or whose truncation lies outside the 32-bit range gives INT32_MIN.
int32_t truncate_to_int(double value);
