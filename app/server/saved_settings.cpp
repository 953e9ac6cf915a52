// SPDX-License-Identifier: Apache-2.0
#include "app/server/saved_settings.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "app/server/atomic_file.h"

namespace {

// What was last written, so that an unchanged file is not written again.
std::mutex g_savedMutex;
std::string g_savedText;
std::string g_lastError;

// The file beside the state file.
std::string settings_path(const char *stateFile) {
  return std::string(stateFile) + ".settings";
}

// One printer's line: what PAPPL's state file drops or cannot hold.
void append_printer_line(pappl_printer_t *printer, void *text) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  static_cast<std::string *>(text)->append(
      saved_printer_line({papplPrinterGetID(printer), data.speed_default, data.darkness_configured,
                          data.media_default.left_offset, data.media_ready[0].left_offset,
                          papplPrinterIsPaused(printer)}));
}

// The settings of every printer, one line each, then where each job put back in the
// queue by a stop picks up.
std::string settings_text(pappl_system_t *system) {
  std::string text;
  papplSystemIteratePrinters(system, append_printer_line, &text);
  for (const resume_point_t &point : resume_points()) {
    pappl_printer_t *printer = papplSystemFindPrinter(system, nullptr, point.printerId, nullptr);
    pappl_job_t *job = printer ? papplPrinterFindJob(printer, point.jobId) : nullptr;
    if (job && papplJobGetState(job) < IPP_JSTATE_STOPPED)
      text += saved_resume_line(point);
  }
  return text;
}

// Apply one printer's saved line.
void apply_printer_line(pappl_system_t *system, const char *line) {
  resume_point_t point;
  if (read_resume_line(line, &point)) {
    note_resume_point(point.printerId, point.jobId, point.blocks);
    return;
  }
  saved_printer_t saved;
  if (!read_saved_printer_line(line, &saved))
    return;
  pappl_printer_t *printer = papplSystemFindPrinter(system, nullptr, saved.id, nullptr);
  if (!printer)
    return;
  // Setting the ready media makes it the default too: the loaded default is put back.
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  pappl_media_col_t loadedDefault = data.media_default;
  data.media_ready[0].left_offset = saved.leftReady;
  papplPrinterSetReadyMedia(printer, 1, data.media_ready);
  papplPrinterGetDriverData(printer, &data);
  data.media_default = loadedDefault;
  data.speed_default = saved.speed;
  data.darkness_configured = saved.darkness;
  data.media_default.left_offset = saved.leftDefault;
  if (!papplPrinterSetDriverDefaults(printer, &data, 0, nullptr))
    papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "Unable to restore its saved defaults.");
  if (saved.paused)
    papplPrinterPause(printer);
}

// Write the settings when they have changed; a pause changes no PAPPL setting, so
// nothing else would save it.
bool save_on_timer(pappl_system_t *system, void *stateFile) {
  save_label_settings(system, static_cast<const char *>(stateFile));
  return true;
}

} // namespace

std::string saved_printer_line(const saved_printer_t &printer) {
  char line[256];
  snprintf(line, sizeof line, "%d speed=%d darkness=%d left-default=%d left-ready=%d paused=%d\n",
           printer.id, printer.speed, printer.darkness, printer.leftDefault, printer.leftReady,
           printer.paused ? 1 : 0);
  return line;
}

bool read_saved_printer_line(const char *line, saved_printer_t *printer) {
  int paused, end = 0;
  if (sscanf(line, "%d speed=%d darkness=%d left-default=%d left-ready=%d paused=%d%n",
             &printer->id, &printer->speed, &printer->darkness, &printer->leftDefault,
             &printer->leftReady, &paused, &end) != 6 ||
      (paused != 0 && paused != 1) || (line[end] && line[end] != '\n'))
    return false;
  printer->paused = paused == 1;
  return true;
}

std::string saved_resume_line(const resume_point_t &point) {
  char line[128];
  snprintf(line, sizeof line, "resume printer=%d job=%d blocks=%d\n", point.printerId,
           point.jobId, point.blocks);
  return line;
}

bool read_resume_line(const char *line, resume_point_t *point) {
  int end = 0;
  if (sscanf(line, "resume printer=%d job=%d blocks=%d%n", &point->printerId, &point->jobId,
             &point->blocks, &end) != 3 ||
      point->blocks < 0 || (line[end] && line[end] != '\n'))
    return false;
  return true;
}

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

bool save_label_settings(pappl_system_t *system, const char *stateFile) {
  std::string text = settings_text(system);
  std::lock_guard<std::mutex> lock(g_savedMutex);
  if (text == g_savedText)
    return true;
  std::string error;
  if (!replace_file_with_text(settings_path(stateFile), text, &error)) {
    // The timer tries again every second: the same failure is logged once.
    if (error != g_lastError)
      papplLog(system, PAPPL_LOGLEVEL_ERROR, "The printers' settings were not saved: %s.",
               error.c_str());
    g_lastError = error;
    return false;
  }
  g_lastError.clear();
  g_savedText = std::move(text);
  return true;
}
