// SPDX-License-Identifier: Apache-2.0
// The printer models the application drives, and the label sizes they share: the one
// table that the driver, the page checks, the test label and the web pages read.
#pragma once

#include <pappl/pappl.h>

// One model: how PAPPL and clients name it and what its print head can do.
struct label_model_t {
  const char *driverName;    // PAPPL's driver name, kept in state files
  const char *description;   // make and model as clients show it
  const char *deviceId;      // the IEEE 1284 device ID the model reports
  const char *deviceIdMatch; // what in a found printer's device ID picks this model
  int resolution;            // dots per inch, across and down
  int64_t milliDpi;          // the resolution as the viewer draws it: 8 or 12 dots per mm
  unsigned headWidthDots;    // the widest page the head prints
  unsigned maxRows;          // the longest label, 39 in, in dots
  const char *customMaximum; // the largest custom size, as PAPPL lists media
};

inline constexpr int kModelCount = 2;
extern const label_model_t g_label_models[kModelCount];

// A named label size: its PWG media name and the size table's name for it.
struct label_media_t {
  const char *pwgName;
  const char *sizeName;
};

inline constexpr int kLabelMediaCount = 17;
extern const label_media_t g_label_media[kLabelMediaCount];

// The smallest custom size of every model: half an inch square.
inline constexpr char kCustomMinimum[] = "custom_min_0.5x0.5in";

// The model of a driver name; null for a name that is none of ours.
const label_model_t *find_label_model(const char *driverName);

// The model a printer was added with; the 203 dpi model for one whose driver is gone.
const label_model_t *printer_model(pappl_printer_t *printer);

// The model for a printer found by its device ID; null when it is none of ours.
const label_model_t *match_label_model(const char *deviceId);

// The models as PAPPL's driver list, made from the table once.
pappl_pr_driver_t *label_driver_list();
