// SPDX-License-Identifier: Apache-2.0
// The printers and their settings between runs: PAPPL's state file and the settings
// file beside it, each replaced whole whenever something changes, never emptied by a
// full or failing disk.
#pragma once

#include <pappl/pappl.h>

// Keep the system's state in stateFile (kept for the system's life): PAPPL saves it
// through save_label_state whenever something changes.
void keep_label_state(pappl_system_t *system, const char *stateFile);

// Save the state now; PAPPL's save callback, with the state file as data. False, with
// the reason logged, when it could not be saved: the file saved before stays.
bool save_label_state(pappl_system_t *system, void *stateFile);

// Save the state of a running system at once, after a printer was added; false, with
// errno set, when it cannot be saved (a system that is not running yet is loading its
// state, and has nothing to save).
bool save_added_printer(pappl_system_t *system);
