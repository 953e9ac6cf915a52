// SPDX-License-Identifier: Apache-2.0
// The printer settings that PAPPL 1.3.1 does not keep in its state file, kept in a file
// beside it: print speed, darkness 0, the left offset and the paused state; and where each
// job that a stop put back in the queue picks up.
#pragma once

#include <pappl/pappl.h>
#include <string>

#include "app/job/resume_point.h"

// One printer's settings as the file keeps them, one line each.
struct saved_printer_t {
  int id;
  int speed;       // print-speed-default, hundredths of mm per second
  int darkness;    // printer-darkness-configured, 0 to 100
  int leftDefault; // the default media's left offset, hundredths of mm
  int leftReady;   // the loaded media's left offset
  bool paused;
};

// The printer's line, ending in a newline.
std::string saved_printer_line(const saved_printer_t &printer);

// Read a line written by saved_printer_line; false for anything else.
bool read_saved_printer_line(const char *line, saved_printer_t *printer);

// The line of a job put back in the queue by a stop, and its reading; false for anything
// else.
std::string saved_resume_line(const resume_point_t &point);
bool read_resume_line(const char *line, resume_point_t *point);

// Put back the settings kept beside the state file, once PAPPL has loaded that file,
// and keep them from then on: every second and whenever PAPPL saves its state.
void restore_label_settings(pappl_system_t *system, const char *stateFile);

// Write the settings beside the state file when they differ from those last written;
// false, with the reason logged, when they could not be written.
bool save_label_settings(pappl_system_t *system, const char *stateFile);
