// SPDX-License-Identifier: Apache-2.0
// The printers and their settings between runs: PAPPL's state file and the settings
// file beside it, each replaced whole whenever something changes, never emptied by a
// full or failing disk.
#pragma once

#include <pappl/pappl.h>
#include <string>
#include <vector>

// Keep the system's state in stateFile (kept for the system's life): PAPPL saves it
// through save_label_state whenever something changes.
void keep_label_state(pappl_system_t *system, const char *stateFile);

// Save the state now; PAPPL's save callback, with the state file as data. False, with
// the reason logged, when it could not be saved: the file saved before stays.
bool save_label_state(pappl_system_t *system, void *stateFile);

// A printer that a state file defines: the line it begins on and its name ("" when the
// definition gives none).
struct state_printer_t {
  int line;
  std::string name;
};

// The printers that a state file's text defines, in order.
std::vector<state_printer_t> printers_in_state(const std::string &text);

// After PAPPL has loaded the state file: log each printer it defines that was not loaded.
// PAPPL names none of those that follow a definition it cannot read, since it stops
// reading there.
void name_dropped_printers(pappl_system_t *system, const char *stateFile);
