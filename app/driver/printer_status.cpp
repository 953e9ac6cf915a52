// SPDX-License-Identifier: Apache-2.0
#include "app/driver/printer_status.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>

#include "app/driver/printer_output.h"
#include "app/pappl-1.3.1/internals.h"

namespace {

// ESC ! ? asks the printer for its status byte, which it answers even in an error.
constexpr unsigned char kStatusQuery[] = {0x1b, '!', '?'};
constexpr unsigned char kPrintingBit = 0x20;
constexpr int kAnswerMs = 1000;
constexpr int kPollStepMs = 100;
constexpr int kRetryMs = 250;
constexpr double kMarginSeconds = 10.0;
constexpr double kLongestQueueSeconds = 600.0;
constexpr double kGapMm = 3.0;
constexpr double kMmPerInch = 25.4;

// What each bit of the status byte means for IPP clients and for a person.
struct status_bit_t {
  unsigned char bit;
  pappl_preason_t reasons;
  const char *text;
};

constexpr pappl_preason_t kMediaOut =
    static_cast<pappl_preason_t>(PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_NEEDED);

constexpr status_bit_t kStatusBits[] = {
    {0x01, PAPPL_PREASON_COVER_OPEN, "the print head is open"},
    {0x02, PAPPL_PREASON_MEDIA_JAM, "paper jam"},
    {0x04, kMediaOut, "out of labels"},
    {0x08, PAPPL_PREASON_MARKER_SUPPLY_EMPTY, "out of ribbon"},
    {0x10, PAPPL_PREASON_OTHER, "paused on the printer"},
    {0x40, PAPPL_PREASON_COVER_OPEN, "the cover is open"},
    {0x80, PAPPL_PREASON_OTHER, "the head temperature is out of range"},
};

// The reasons this file owns; others (PAPPL's own, identify) are left alone.
constexpr pappl_preason_t kWatchedReasons = static_cast<pappl_preason_t>(
    PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_MEDIA_JAM | kMediaOut |
    PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_OTHER | PAPPL_PREASON_OFFLINE);

using clock_type = std::chrono::steady_clock;

bool is_socket_uri(const char *uri) {
  return uri && !strncmp(uri, "socket://", 9);
}

// Wait up to ms for something to read, giving up at once when the job stops: PAPPL's
// socket read waits 10 s for data, so the answer is awaited on the socket itself.
bool wait_for_input(int fd, int ms, pappl_job_t *job, bool (*stopping)(pappl_job_t *)) {
  for (int waited = 0;; waited += kPollStepMs) {
    int step = ms - waited < kPollStepMs ? ms - waited : kPollStepMs;
    pollfd input = {fd, POLLIN, 0};
    int ready;
    while ((ready = poll(&input, 1, step < 0 ? 0 : step)) < 0 && errno == EINTR) {
    }
    if (ready > 0)
      return true;
    if (ready < 0 || waited + step >= ms || (job && stopping(job)))
      return false;
  }
}

// Drop answers that came after their question was given up.
void drop_old_answers(pappl_device_t *device, int fd) {
  unsigned char old[64];
  while (wait_for_input(fd, 0, nullptr, nullptr) && papplDeviceRead(device, old, sizeof old) > 0) {
  }
}

// Ask for the status byte; -1 when no answer came within ms.
int ask_status(pappl_device_t *device, int fd, int ms, pappl_job_t *job,
               bool (*stopping)(pappl_job_t *)) {
  std::string error;
  if (!send_to_printer(device, kStatusQuery, sizeof kStatusQuery, &error))
    return -1;
  unsigned char byte;
  if (!wait_for_input(fd, ms, job, stopping) || papplDeviceRead(device, &byte, 1) != 1)
    return -1;
  return byte;
}

} // namespace

pappl_preason_t status_reasons(int byte) {
  int reasons = PAPPL_PREASON_NONE;
  for (const status_bit_t &entry : kStatusBits)
    if (byte & entry.bit)
      reasons |= entry.reasons;
  return static_cast<pappl_preason_t>(reasons);
}

void describe_status(int byte, char *text, size_t size) {
  snprintf(text, size, "%s", byte & kPrintingBit ? "printing" : "ready");
  bool first = true;
  for (const status_bit_t &entry : kStatusBits) {
    if (!(byte & entry.bit))
      continue;
    size_t used = first ? 0 : strlen(text);
    snprintf(text + used, size - used, "%s%s", first ? "" : ", ", entry.text);
    first = false;
  }
}

namespace {

// Show the byte as printer-state-reasons, clearing those it no longer sets.
void show_status(pappl_printer_t *printer, int byte) {
  pappl_preason_t reasons = status_reasons(byte);
  papplPrinterSetReasons(printer, reasons,
                         static_cast<pappl_preason_t>(kWatchedReasons & ~reasons));
}

bool has_error(int byte) {
  return byte & ~kPrintingBit;
}

// Show an answer in the printer's reasons, the log when it changed and the job's state.
void note_status(printer_watch_t *watch, pappl_job_t *job, int byte) {
  char text[256];
  describe_status(byte, text, sizeof text);
  watch->answered = true;
  show_status(papplJobGetPrinter(job), byte);
  if (byte != watch->last)
    papplLogJob(job, has_error(byte) ? PAPPL_LOGLEVEL_WARN : PAPPL_LOGLEVEL_INFO,
                "Printer status 0x%02x: %s.", byte, text);
  watch->last = static_cast<unsigned char>(byte);
  if (has_error(byte)) {
    papplJobSetMessage(job, "Waiting for the printer: %s.", text);
    papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
    watch->waiting = true;
  } else if (watch->waiting) {
    papplJobSetMessage(job, "Printing.");
    papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
    watch->waiting = false;
  }
}

// A printer that missed an answer prints as if it could not answer, until the next job.
void stop_asking(printer_watch_t *watch, pappl_job_t *job, int ms) {
  papplLogJob(job, PAPPL_LOGLEVEL_WARN,
              "The printer did not answer its status query within %d ms; the job goes on "
              "without asking.",
              ms);
  watch->asking = false;
}

// A printer whose buffer is full reads the question only once labels have come out.
int answer_bound_ms(const printer_watch_t *watch) {
  double queued = watch->answered ? std::min(watch->printSeconds, kLongestQueueSeconds) : 0;
  return kAnswerMs + static_cast<int>(queued * 1000);
}

// Sleep between questions, ending early when the job stops.
void pause_for(int ms, pappl_job_t *job, bool (*stopping)(pappl_job_t *)) {
  for (int waited = 0; waited < ms && !stopping(job); waited += kPollStepMs)
    poll(nullptr, 0, kPollStepMs);
}

// Put in the job's log and message that its labels may not all have come out; false.
bool say_labels_missing(pappl_job_t *job, const char *message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  papplJobSetMessage(job, "%s", message);
  return false;
}

// Time since start, in seconds.
double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

} // namespace

void start_printer_watch(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device) {
  *watch = {};
  pappl_printer_t *printer = papplJobGetPrinter(job);
  int fd = is_socket_uri(papplPrinterGetDeviceURI(printer)) ? pappl_device_socket(device) : -1;
  watch->asking = fd >= 0;
  if (watch->asking) {
    drop_old_answers(device, fd);
    papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
  }
}

bool wait_for_printer(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                      bool (*stopping)(pappl_job_t *)) {
  while (!stopping(job)) {
    if (!watch->asking)
      return true;
    int bound = answer_bound_ms(watch);
    int byte = ask_status(device, pappl_device_socket(device), bound, job, stopping);
    if (byte < 0) {
      if (!stopping(job))
        stop_asking(watch, job, bound);
      continue;
    }
    note_status(watch, job, byte);
    if (!has_error(byte))
      return true;
    pause_for(kRetryMs, job, stopping);
  }
  return false;
}

void add_printed_labels(printer_watch_t *watch, int copies, int lengthMm, int speed) {
  double inchesPerSecond = speed > 0 ? speed : 1;
  double mm = (lengthMm > 0 ? lengthMm : 0) + kGapMm;
  watch->printSeconds += (copies > 0 ? copies : 1) * mm / kMmPerInch / inchesPerSecond;
}

bool wait_for_labels_out(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                         bool (*stopping)(pappl_job_t *)) {
  // Time in an error waits for a person and does not count against the bound.
  double bound = watch->printSeconds + kMarginSeconds, counted = 0;
  char message[256];
  while (watch->asking && watch->printSeconds > 0 && !stopping(job)) {
    auto start = clock_type::now();
    int byte = ask_status(device, pappl_device_socket(device), kAnswerMs, job, stopping);
    if (byte == 0) {
      note_status(watch, job, byte);
      return true;
    }
    if (byte > 0)
      note_status(watch, job, byte);
    pause_for(kPollStepMs, job, stopping);
    if (byte < 0 || !has_error(byte))
      counted += seconds_since(start);
    if (counted > bound) {
      snprintf(message, sizeof message,
               "The printer did not report its labels out within %.0f s: they may not all have "
               "come out.",
               bound);
      return say_labels_missing(job, message);
    }
  }
  // A printer that does not answer has at least taken every byte before the job ends.
  std::string error;
  if (!watch->asking && watch->printSeconds > 0 && !wait_until_sent(device, job, stopping, &error))
    return say_labels_missing(job, error.c_str());
  return true;
}

bool update_printer_status(pappl_printer_t *printer) {
  if (!is_socket_uri(papplPrinterGetDeviceURI(printer)))
    return true;
  pappl_device_t *device = papplPrinterOpenDevice(printer);
  if (!device) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "The printer cannot be reached.");
    // What an unreachable printer said last may no longer hold.
    papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE,
                           static_cast<pappl_preason_t>(kWatchedReasons & ~PAPPL_PREASON_OFFLINE));
    return true;
  }
  int fd = pappl_device_socket(device);
  if (fd >= 0) {
    drop_old_answers(device, fd);
    int byte = ask_status(device, fd, kAnswerMs, nullptr, nullptr);
    // Only an answer clears offline: a printer that takes the connection but answers
    // nothing may be one that a job gave up on for taking no data.
    if (byte >= 0)
      show_status(printer, byte);
  }
  papplPrinterCloseDevice(printer);
  return true;
}
