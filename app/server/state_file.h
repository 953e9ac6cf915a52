// SPDX-License-Identifier: Apache-2.0
// The printers and their settings between runs: PAPPL's state file and the settings
// file beside it, each replaced whole whenever something changes.
#pragma once

#include <pappl/pappl.h>

// Save the state to stateFile (a char * kept for the system's life); PAPPL's save
// callback. False, with the reason logged, when it could not be saved.
bool save_label_state(pappl_system_t *system, void *stateFile);
