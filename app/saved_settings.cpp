// SPDX-License-Identifier: Apache-2.0
#include "app/saved_settings.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace {

// What was last written, so that an unchanged file is not written again.
std::mutex g_savedMutex;
std::string g_savedText;

// The file beside the state file.
std::string settings_path(const char *stateFile) {
  return std::string(stateFile) + ".settings";
}

// One printer's line: what PAPPL's state file drops or cannot hold.
void append_printer_line(pappl_printer_t *printer, void *text) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  char line[256];
  snprintf(line, sizeof line, "%d speed=%d darkness=%d left-default=%d left-ready=%d paused=%d\n",
           papplPrinterGetID(printer), data.speed_default, data.darkness_configured,
           data.media_default.left_offset, data.media_ready[0].left_offset,
           papplPrinterGetState(printer) == IPP_PSTATE_STOPPED ? 1 : 0);
  static_cast<std::string *>(text)->append(line);
}

// The settings of every printer, one line each.
std::string settings_text(pappl_system_t *system) {
  std::string text;
  papplSystemIteratePrinters(system, append_printer_line, &text);
  return text;
}

// Write the text to a new file and rename it over the old one, so that a crash
// leaves the old settings or the new ones, never half of them.
bool write_settings(const std::string &path, const std::string &text) {
  std::string temporary = path + ".new";
  FILE *file = fopen(temporary.c_str(), "w");
  if (!file)
    return false;
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  written = fclose(file) == 0 && written;
  if (written && rename(temporary.c_str(), path.c_str()) == 0)
    return true;
  remove(temporary.c_str());
  return false;
}

// Apply one printer's saved line.
void apply_printer_line(pappl_system_t *system, const char *line) {
  int id, speed, darkness, leftDefault, leftReady, paused;
  if (sscanf(line, "%d speed=%d darkness=%d left-default=%d left-ready=%d paused=%d", &id, &speed,
             &darkness, &leftDefault, &leftReady, &paused) != 6)
    return;
  pappl_printer_t *printer = papplSystemFindPrinter(system, nullptr, id, nullptr);
  if (!printer)
    return;
  // Setting the ready media makes it the default too: the loaded default is put back.
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  pappl_media_col_t loadedDefault = data.media_default;
  data.media_ready[0].left_offset = leftReady;
  papplPrinterSetReadyMedia(printer, 1, data.media_ready);
  papplPrinterGetDriverData(printer, &data);
  data.media_default = loadedDefault;
  data.speed_default = speed;
  data.darkness_configured = darkness;
  data.media_default.left_offset = leftDefault;
  if (!papplPrinterSetDriverDefaults(printer, &data, 0, nullptr))
    papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "Unable to restore its saved defaults.");
  if (paused)
    papplPrinterPause(printer);
}

// Write the settings when they have changed; a pause changes no PAPPL setting, so
// nothing else would save it.
bool save_on_timer(pappl_system_t *system, void *stateFile) {
  save_label_settings(system, static_cast<const char *>(stateFile));
  return true;
}

} // namespace

void restore_label_settings(pappl_system_t *system, const char *stateFile) {
  if (FILE *file = fopen(settings_path(stateFile).c_str(), "r")) {
    char line[256];
    while (fgets(line, sizeof line, file))
      apply_printer_line(system, line);
    fclose(file);
  }
  {
    std::lock_guard<std::mutex> lock(g_savedMutex);
    g_savedText = settings_text(system);
  }
  papplSystemAddTimerCallback(system, 0, 1, save_on_timer, const_cast<char *>(stateFile));
}

void save_label_settings(pappl_system_t *system, const char *stateFile) {
  std::string text = settings_text(system);
  std::lock_guard<std::mutex> lock(g_savedMutex);
  if (text != g_savedText && write_settings(settings_path(stateFile), text))
    g_savedText = std::move(text);
}
