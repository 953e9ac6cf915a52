// SPDX-License-Identifier: Apache-2.0
// The job settings record and the order in which its three layers fill it.
#pragma once

#include <cstdint>
#include <cups/cups.h>

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
};

// Keep the low 16 bits of a computed value, read back as signed.
int16_t store16(int32_t value);

// Fill the zero-filled doc: arguments 1 to 4 and the built-in defaults, then the
// PPD's defaults, then the job's options.
void set_pstops_options(label_doc_t *doc, char **argv, int num_options, cups_option_t *options);
