// SPDX-License-Identifier: Apache-2.0
// The printer settings that PAPPL 1.3.1 does not keep in its state file, kept in a file
// beside it: print speed, darkness 0, the left offset and the paused state.
#pragma once

#include <pappl/pappl.h>

// Put back the settings kept beside the state file, once PAPPL has loaded that file,
// and keep them from then on: every second and whenever PAPPL saves its state.
void restore_label_settings(pappl_system_t *system, const char *stateFile);

// Write the settings beside the state file when they differ from those last written.
void save_label_settings(pappl_system_t *system, const char *stateFile);
