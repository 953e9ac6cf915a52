// SPDX-License-Identifier: Apache-2.0
#include "app/printer/printer_status.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <poll.h>
#include <string>

#include "app/printer/device_commands.h"
#include "app/printer/printer_identify.h"
#include "app/printer/printer_output.h"

namespace {

// ESC ! ? asks the printer for its status byte, which it answers even in an error.
constexpr unsigned char kStatusQuery[] = {0x1b, '!', '?'};
constexpr unsigned char kPrintingBit = 0x20;
constexpr int kAnswerMs = 1000;
constexpr int kPollStepMs = 100;
constexpr int kRetryMs = 250;
constexpr int kPrintingPollMs = 20;
constexpr int kReconnectMs = 1000;
constexpr double kMarginSeconds = 10.0;
constexpr double kGapMm = 3.0;
constexpr double kMmPerInch = 25.4;

// What ask_status returns besides a byte.
constexpr int kNoAnswer = -1;
constexpr int kGone = -2;

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

// Read the answer to a question within ms, giving up at once when the job stops: PAPPL's
// read waits as long as the device's timeout, set here to a short step. kNoAnswer when
// none came, kGone when the printer closed or reset the connection.
int read_answer(pappl_device_t *device, int ms, pappl_job_t *job, bool (*stopping)(pappl_job_t *)) {
  for (int waited = 0;; waited += kPollStepMs) {
    int step = ms - waited < kPollStepMs ? ms - waited : kPollStepMs;
    papplDeviceSetTimeout(device, step < 0 ? 0 : step);
    unsigned char byte;
    ssize_t got = papplDeviceRead(device, &byte, 1);
    if (got == 1)
      return byte;
    if (got == 0 || errno != ETIMEDOUT)
      return kGone;
    if (waited + step >= ms || (job && stopping(job)))
      return kNoAnswer;
  }
}

// Drop answers that came after their question was given up.
void drop_old_answers(pappl_device_t *device) {
  unsigned char old[64];
  papplDeviceSetTimeout(device, 0);
  while (papplDeviceRead(device, old, sizeof old) > 0) {
  }
}

// Ask for the status byte; kNoAnswer when none came within ms, kGone when the printer
// closed or reset the connection.
int ask_status(pappl_device_t *device, int ms, pappl_job_t *job, bool (*stopping)(pappl_job_t *)) {
  std::string error;
  switch (send_to_printer(device, kStatusQuery, sizeof kStatusQuery, &error)) {
  case send_result_t::kSent:
    break;
  case send_result_t::kGone:
    return kGone;
  default:
    return kNoAnswer;
  }
  return read_answer(device, ms, job, stopping);
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
  // Between labels the printer goes from printing to ready and back, which is no news.
  if (byte != watch->last)
    papplLogJob(job,
                has_error(byte)          ? PAPPL_LOGLEVEL_WARN
                : has_error(watch->last) ? PAPPL_LOGLEVEL_INFO
                                         : PAPPL_LOGLEVEL_DEBUG,
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

// A printer that never answered prints as if it could not answer, until the next job.
void stop_asking(printer_watch_t *watch, pappl_job_t *job, int ms) {
  papplLogJob(job, PAPPL_LOGLEVEL_WARN,
              "The printer did not answer its status query within %d ms; the job goes on "
              "without asking.",
              ms);
  watch->asking = false;
}

// A printer whose buffer is full reads the question only once the block before it is out,
// and a printer slower than its settings say takes longer still.
int answer_bound_ms(const printer_watch_t *watch) {
  if (!watch->answered)
    return kAnswerMs;
  return kAnswerMs + static_cast<int>((2 * watch->unconfirmedSeconds + kMarginSeconds) * 1000);
}

// Sleep between questions, ending early when the job stops.
void pause_for(int ms, pappl_job_t *job, bool (*stopping)(pappl_job_t *)) {
  for (int waited = 0; waited < ms && !stopping(job); waited += kPollStepMs)
    poll(nullptr, 0, std::min(kPollStepMs, ms - waited));
}

// Give the printer up: put the reason in the job's log and message; false.
bool give_up(printer_watch_t *watch, pappl_job_t *job, const std::string &message) {
  watch->failure = message;
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  papplJobSetMessage(job, "%s", message.c_str());
  return false;
}

// Give up a printer that took no data: it shows offline until it answers again; false.
bool give_up_stalled(printer_watch_t *watch, pappl_job_t *job, const std::string &message) {
  papplPrinterSetReasons(papplJobGetPrinter(job), PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
  return give_up(watch, job, message);
}

// Time since start, in seconds.
double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Note that the printer went away, once.
void note_gone(printer_watch_t *watch, pappl_job_t *job, const char *how) {
  if (!watch->gone)
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The printer %s; the job waits for it to come back.",
                how);
  watch->gone = true;
}

// Show the printer offline and connect to it again once it is back; false when the job
// stops first. What it had not printed is then in doubt.
bool bring_back(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                bool (*stopping)(pappl_job_t *)) {
  pappl_printer_t *printer = papplJobGetPrinter(job);
  papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
  papplJobSetMessage(job, "Waiting for the printer: it cannot be reached.");
  papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
  watch->waiting = true;
  std::string why;
  while (!reconnect_printer(device, papplPrinterGetDeviceURI(printer), &why)) {
    pause_for(kReconnectMs, job, stopping);
    if (stopping(job))
      return false;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The printer can be reached again.");
  papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
  watch->gone = false;
  watch->lost = watch->unconfirmedLabels > 0;
  drop_old_answers(device);
  return true;
}

// Send again the block that a printer lost when it went away; a block of several copies
// cannot be, since some of them may have come out.
bool send_lost_block(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device) {
  char message[256];
  if (watch->unconfirmedLabels > 1 || watch->unconfirmed.empty()) {
    snprintf(message, sizeof message,
             "The printer went away while it printed page %u: of its %d labels, some may be "
             "missing.",
             watch->unconfirmedPage, watch->unconfirmedLabels);
    return give_up(watch, job, message);
  }
  papplLogJob(job, PAPPL_LOGLEVEL_WARN,
              "Page %u had not come out when the printer went away: it is sent again.",
              watch->unconfirmedPage);
  watch->lost = false;
  send_block_bytes(watch, job, device, watch->unconfirmed.data(), watch->unconfirmed.size());
  watch->unconfirmedWhole = !watch->gone;
  return true;
}

// Wait until what was sent is out and the printer is ready; at the job's end, a printer
// with nothing of the job in doubt is not asked again.
bool settle_printer(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                    bool (*stopping)(pappl_job_t *), bool atEnd) {
  // Time in an error waits for a person and does not count against the bound.
  double counted = 0;
  char message[256];
  while (!stopping(job) && watch->failure.empty()) {
    if (watch->gone) {
      if (!bring_back(watch, job, device, stopping))
        return false;
      continue;
    }
    if (!watch->asking) {
      // A printer that cannot answer has at least taken every byte before more is sent.
      int unsent = 0;
      if (wait_until_sent(device, job, stopping, &unsent))
        return true;
      if (!atEnd)
        return give_up_stalled(watch, job, stall_message());
      snprintf(message, sizeof message,
               "The printer did not take the job's last %d bytes within %d s: its last labels "
               "may be missing.",
               unsent, kStallSeconds);
      return give_up(watch, job, message);
    }
    if (atEnd && !watch->unconfirmedLabels)
      return true;
    auto start = clock_type::now();
    int bound = answer_bound_ms(watch);
    int byte = ask_status(device, bound, job, stopping);
    if (stopping(job))
      break;
    if (byte == kGone || (byte == kNoAnswer && watch->answered)) {
      note_gone(watch, job, byte == kGone ? "closed the connection" : "stopped answering");
      continue;
    }
    if (byte == kNoAnswer) {
      stop_asking(watch, job, bound);
      continue;
    }
    note_status(watch, job, byte);
    if (has_error(byte)) {
      pause_for(kRetryMs, job, stopping);
      continue;
    }
    if (byte & kPrintingBit) {
      // Labels that are not the job's (a test label, a feed) do not hold its first block.
      if (!watch->unconfirmedLabels)
        return true;
      // A printer that came back still printing kept what it had.
      if (watch->unconfirmedWhole)
        watch->lost = false;
      pause_for(kPrintingPollMs, job, stopping);
      counted += seconds_since(start);
      double limit = watch->unconfirmedSeconds + kMarginSeconds;
      if (counted > limit) {
        snprintf(message, sizeof message,
                 "The printer did not report page %u out within %.0f s: its labels may not all "
                 "have come out.",
                 watch->unconfirmedPage, limit);
        return give_up(watch, job, message);
      }
      continue;
    }
    if (watch->lost) {
      if (!send_lost_block(watch, job, device))
        return false;
      counted = 0;
      continue;
    }
    watch->unconfirmed.clear();
    watch->unconfirmedLabels = 0;
    return true;
  }
  return false;
}

// Send the beeps that Identify-Printer asked for while the job held the printer, now that
// the label before is out.
void send_asked_beeps(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device) {
  pappl_printer_t *printer = papplJobGetPrinter(job);
  if (!beep_asked(printer))
    return;
  static const std::string line = std::string(kSoundCommand) + "\r\n";
  send_block_bytes(watch, job, device, line.data(), line.size());
  papplDeviceFlush(device);
  answer_beeps(printer, watch->failure.empty() && !watch->gone);
}

} // namespace

void start_printer_watch(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device) {
  *watch = {};
  pappl_printer_t *printer = papplJobGetPrinter(job);
  watch->asking = is_socket_uri(papplPrinterGetDeviceURI(printer));
  if (watch->asking) {
    drop_old_answers(device);
    papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
  }
}

void send_block_bytes(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                      const void *data, size_t size) {
  if (!watch->failure.empty() || watch->gone)
    return;
  std::string error;
  switch (send_to_printer(device, data, size, &error)) {
  case send_result_t::kSent:
    break;
  case send_result_t::kGone:
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", error.c_str());
    note_gone(watch, job, "closed the connection");
    break;
  case send_result_t::kFailed:
    give_up_stalled(watch, job, error);
    break;
  }
}

void note_block_sent(printer_watch_t *watch, const std::string &block, int labels, unsigned page,
                     int lengthMm, int speed) {
  double inchesPerSecond = speed > 0 ? speed : 1;
  double mm = (lengthMm > 0 ? lengthMm : 0) + kGapMm;
  try {
    watch->unconfirmed = block;
  } catch (const std::bad_alloc &) {
    watch->unconfirmed.clear();
  }
  watch->unconfirmedLabels = labels;
  watch->unconfirmedPage = page;
  watch->unconfirmedSeconds = (labels > 0 ? labels : 1) * mm / kMmPerInch / inchesPerSecond;
  watch->unconfirmedWhole = !watch->gone;
  watch->lost = watch->gone;
}

bool wait_for_printer(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                      bool (*stopping)(pappl_job_t *)) {
  if (!settle_printer(watch, job, device, stopping, false))
    return false;
  send_asked_beeps(watch, job, device);
  return true;
}

bool wait_for_labels_out(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                         bool (*stopping)(pappl_job_t *)) {
  // A job that stops is cut short, which the scheduler reports; only a printer given up on
  // fails it here.
  if (!settle_printer(watch, job, device, stopping, true))
    return watch->failure.empty();
  send_asked_beeps(watch, job, device);
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
  drop_old_answers(device);
  int byte = ask_status(device, kAnswerMs, nullptr, nullptr);
  // Only an answer clears offline: a printer that takes the connection but answers
  // nothing may be one that a job gave up on for taking no data.
  if (byte >= 0)
    show_status(printer, byte);
  papplPrinterCloseDevice(printer);
  return true;
}

bool printer_is_asked(pappl_printer_t *printer) {
  return is_socket_uri(papplPrinterGetDeviceURI(printer));
}
