// SPDX-License-Identifier: Apache-2.0
#include "app/printer/printer_identify.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "app/printer/device_commands.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr auto kStep = std::chrono::milliseconds(100);
// An idle printer's device is held by a status query for about a second at most: one whose
// device cannot be had for longer than this, with no job printing, cannot be reached.
constexpr auto kUnreachedAfter = std::chrono::seconds(2);

// A beep waiting for the job that holds its printer.
struct beep_wait_t {
  pappl_printer_t *printer;
  bool answered;
  bool sent;
};

std::mutex g_lock;
std::condition_variable g_answered;
std::vector<beep_wait_t *> g_waiting;

void note_processing(pappl_job_t *job, void *data) {
  if (papplJobGetState(job) == IPP_JSTATE_PROCESSING)
    *static_cast<bool *>(data) = true;
}

// Whether a job holds the printer, printing or waiting for its device.
bool job_holds(pappl_printer_t *printer) {
  bool held = false;
  papplPrinterIterateActiveJobs(printer, note_processing, &held, 1, 0);
  return held;
}

// Send the beep: on the device when it can be had, or by the job that holds it.
ipp_status_t beep(pappl_printer_t *printer, std::string *reason) {
  beep_wait_t wait = {printer, false, false};
  {
    std::lock_guard<std::mutex> held(g_lock);
    g_waiting.push_back(&wait);
  }
  auto lastHeld = clock_type::now();
  auto deadline = lastHeld + std::chrono::seconds(kIdentifyWaitSeconds);
  bool noted = false;
  ipp_status_t status = IPP_STATUS_ERROR_BUSY;
  for (;;) {
    // A beep the job sent is not sent again on the device the job has just let go.
    {
      std::lock_guard<std::mutex> held(g_lock);
      if (wait.answered && wait.sent) {
        status = IPP_STATUS_OK;
        break;
      }
      wait.answered = false;
    }
    if (pappl_device_t *device = papplPrinterOpenDevice(printer)) {
      bool sent = write_device_command(device, kSoundCommand);
      papplPrinterCloseDevice(printer);
      status = sent ? IPP_STATUS_OK : IPP_STATUS_ERROR_DEVICE;
      break;
    }
    bool held = job_holds(printer);
    auto now = clock_type::now();
    if (held)
      lastHeld = now;
    // A job that waits for a printer away holds it as long as the printer is away.
    if ((papplPrinterGetReasons(printer) & PAPPL_PREASON_OFFLINE) ||
        now - lastHeld >= kUnreachedAfter) {
      status = IPP_STATUS_ERROR_DEVICE;
      break;
    }
    if (now >= deadline)
      break;
    if (held && !noted) {
      papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO,
                      "Identify: a job is printing; the beep waits for its label to end.");
      noted = true;
    }
    std::unique_lock<std::mutex> lock(g_lock);
    g_answered.wait_for(lock, kStep, [&wait] { return wait.answered; });
  }
  {
    std::lock_guard<std::mutex> held(g_lock);
    g_waiting.erase(std::remove(g_waiting.begin(), g_waiting.end(), &wait), g_waiting.end());
  }
  if (status == IPP_STATUS_ERROR_BUSY)
    *reason = busy_beep_reason();
  else if (status == IPP_STATUS_ERROR_DEVICE)
    *reason = unreached_beep_reason();
  return status;
}

} // namespace

ipp_status_t identify_label_printer(pappl_printer_t *printer, pappl_identify_actions_t actions,
                                    const char *message, char *reason, size_t size, void *) {
  if (actions & PAPPL_IDENTIFY_ACTIONS_DISPLAY)
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify: %s", message ? message : "");
  if (!(actions & PAPPL_IDENTIFY_ACTIONS_SOUND))
    return IPP_STATUS_OK;
  std::string why;
  ipp_status_t status = beep(printer, &why);
  papplLogPrinter(printer, status == IPP_STATUS_OK ? PAPPL_LOGLEVEL_INFO : PAPPL_LOGLEVEL_WARN,
                  "Identify: %s", status == IPP_STATUS_OK ? "beeped." : why.c_str());
  snprintf(reason, size, "%s", why.c_str());
  return status;
}

bool beep_asked(pappl_printer_t *printer) {
  std::lock_guard<std::mutex> held(g_lock);
  return std::any_of(g_waiting.begin(), g_waiting.end(), [printer](const beep_wait_t *wait) {
    return wait->printer == printer && !wait->answered;
  });
}

void answer_beeps(pappl_printer_t *printer, bool sent) {
  std::lock_guard<std::mutex> held(g_lock);
  for (beep_wait_t *wait : g_waiting)
    if (wait->printer == printer && !wait->answered) {
      wait->answered = true;
      wait->sent = sent;
    }
  g_answered.notify_all();
}

std::string busy_beep_reason() {
  return "Could not beep: a job is printing, and no label of it ended within " +
         std::to_string(kIdentifyWaitSeconds) + " s. Try again once it has ended.";
}

std::string unreached_beep_reason() {
  return "Could not beep: the printer cannot be reached.";
}
