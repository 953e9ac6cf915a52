// SPDX-License-Identifier: Apache-2.0
#include "app/server/state_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cups/cups.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "app/document/document_filters.h"
#include "app/server/atomic_file.h"
#include "app/server/saved_settings.h"

namespace {

// The state file of the system, for saves that PAPPL's callback does not make.
const char *g_stateFile;

// Read fd to its end.
void read_all(int fd, std::string *text, int *error) {
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      *error = errno;
    if (got <= 0)
      return;
    text->append(buffer, static_cast<size_t>(got));
  }
}

// PAPPL's state as it writes it. PAPPL checks none of its writes, so on a full disk it
// leaves a short file and reports it saved: it writes into a FIFO here instead (libcups
// opens no pipe by a /proc link), and the bytes go to the disk through code that checks
// every step.
bool capture_state(pappl_system_t *system, std::string *text, std::string *error) {
  std::string directory = std::string(papplGetTempDir()) + "/strobane-state.XXXXXX";
  if (!mkdtemp(directory.data())) {
    *error = "Unable to make a folder for the state in " + std::string(papplGetTempDir()) + ": " +
             strerror(errno);
    return false;
  }
  std::string fifo = directory + "/state";
  bool saved = false;
  int readError = 0;
  // The reading end is opened first, and a writing end of our own is held until PAPPL
  // is done, so that the reader neither waits for PAPPL to open the FIFO nor ends early.
  int input = -1, keeper = -1;
  if (mkfifo(fifo.c_str(), 0600) ||
      (input = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0 ||
      (keeper = open(fifo.c_str(), O_WRONLY | O_CLOEXEC)) < 0 || fcntl(input, F_SETFL, 0)) {
    *error = "Unable to make a FIFO for the state: " + std::string(strerror(errno));
  } else {
    try {
      std::thread reader(read_all, input, text, &readError);
      saved = papplSystemSaveState(system, fifo.c_str());
      close(keeper);
      keeper = -1;
      reader.join();
    } catch (const std::system_error &failure) {
      *error = std::string("Unable to read the state: ") + failure.what();
    }
  }
  if (keeper >= 0)
    close(keeper);
  if (input >= 0)
    close(input);
  unlink(fifo.c_str());
  rmdir(directory.c_str());
  if (!error->empty())
    return false;
  if (!saved || readError || text->empty()) {
    *error = readError ? std::string("Unable to read the state: ") + strerror(readError)
                       : "PAPPL wrote no state";
    return false;
  }
  return true;
}

// A raster job saved while its document was being spooled carries the format it has then;
// it is saved as the raster it is, which the spooled raster's reader takes in either form.
void restore_spooled_formats(std::string *text) {
  const std::string spooled = std::string("format=") + kSpooledRasterFormat;
  for (size_t at = 0; (at = text->find(spooled, at)) != std::string::npos;)
    text->replace(at, spooled.size(), "format=image/pwg-raster");
}

} // namespace

void keep_label_state(pappl_system_t *system, const char *stateFile) {
  g_stateFile = stateFile;
  papplSystemSetSaveCallback(system, save_label_state, const_cast<char *>(stateFile));
}

bool save_label_state(pappl_system_t *system, void *data) {
  const char *stateFile = static_cast<const char *>(data);
  bool settingsSaved = save_label_settings(system, stateFile);
  std::string text, error;
  bool captured = capture_state(system, &text, &error);
  if (captured)
    restore_spooled_formats(&text);
  if (!captured || !replace_file_with_text(stateFile, text, &error)) {
    int saved = errno;
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "The printers were not saved: %s.", error.c_str());
    errno = saved;
    return false;
  }
  return settingsSaved;
}

bool save_added_printer(pappl_system_t *system) {
  if (!g_stateFile || !papplSystemIsRunning(system))
    return true;
  return save_label_state(system, const_cast<char *>(g_stateFile));
}

std::vector<state_printer_t> printers_in_state(const std::string &text) {
  std::vector<state_printer_t> printers;
  int line = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string content = text.substr(start, end - start);
    start = end + 1;
    line++;
    static const char kOpen[] = "<Printer ";
    if (content.compare(0, sizeof kOpen - 1, kOpen) || content.back() != '>')
      continue;
    std::string value = content.substr(sizeof kOpen - 1, content.size() - sizeof kOpen);
    cups_option_t *options = nullptr;
    int count = cupsParseOptions(value.c_str(), 0, &options);
    const char *name = cupsGetOption("name", count, options);
    printers.push_back({line, name ? name : ""});
    cupsFreeOptions(count, options);
  }
  return printers;
}

void name_dropped_printers(pappl_system_t *system, const char *stateFile) {
  std::ifstream in(stateFile);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const state_printer_t &printer : printers_in_state(text)) {
    std::string resource = "/ipp/print/" + printer.name;
    if (printer.name.empty())
      papplLog(system, PAPPL_LOGLEVEL_ERROR,
               "The printer defined on line %d of '%s' has no name: it was not loaded.",
               printer.line, stateFile);
    else if (!papplSystemFindPrinter(system, resource.c_str(), 0, nullptr))
      papplLog(system, PAPPL_LOGLEVEL_ERROR,
               "Printer '%s', defined on line %d of '%s', was not loaded.", printer.name.c_str(),
               printer.line, stateFile);
  }
}
