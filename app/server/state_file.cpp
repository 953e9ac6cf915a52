// SPDX-License-Identifier: Apache-2.0
#include "app/server/state_file.h"

#include <string>

#include "app/server/atomic_file.h"
#include "app/server/saved_settings.h"

bool save_label_state(pappl_system_t *system, void *data) {
  const char *stateFile = static_cast<const char *>(data);
  bool settingsSaved = save_label_settings(system, stateFile);
  // PAPPL writes the state in place, so a stop or a crash during the write would lose
  // every printer: it writes a new file here, which replaces the old one once whole.
  std::string error;
  if (!replace_file(
          stateFile,
          [system](const char *newPath) { return papplSystemSaveState(system, newPath); },
          &error)) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "The printers were not saved: %s.", error.c_str());
    return false;
  }
  return settingsSaved;
}
