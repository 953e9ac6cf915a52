// SPDX-License-Identifier: Apache-2.0
// One job at a time on each printer, oldest first, whatever its format. PAPPL 1.3.1 starts
// spooled jobs newest first and can start two at once (its check runs unlocked in the
// thread of each new job and of each finished one), and it refuses a PWG or Apple raster
// job that arrives while another prints. Its two steps that decide this are replaced
// here: PAPPL calls them through the dynamic linker, so these definitions take their place.
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <pappl/pappl.h>
#include <pthread.h>
#include <set>
#include <unistd.h>
#include <vector>

#include "app/document_filters.h"
#include "app/job_queue.h"
#include "app/stop_signal.h"

extern "C" {
void *_papplJobProcess(pappl_job_t *job);
void _papplPrinterCheckJobs(pappl_printer_t *printer);
void _papplJobCopyDocumentData(pappl_client_t *client, pappl_job_t *job);
}

namespace {

// The raster jobs of a printer that wait for their turn or are being streamed.
struct printer_queue_t {
  std::set<int> waiting;
  bool streaming = false;
  // A job thread we started runs until PAPPL has closed the device after the job, a
  // moment after the job itself has ended: no other job may open it before.
  bool running = false;
};

std::mutex g_queue_lock;
std::map<pappl_printer_t *, printer_queue_t> g_queues;

// What a printer's active jobs say about whose turn it is.
struct job_scan_t {
  pappl_job_t *self;
  pappl_job_t *oldestSpooled; // the oldest pending job with its document in the spool
  int oldestId;
  bool processing;
};

void scan_job(pappl_job_t *job, void *data) {
  auto *scan = static_cast<job_scan_t *>(data);
  if (job == scan->self)
    return;
  int id = papplJobGetID(job);
  switch (papplJobGetState(job)) {
  case IPP_JSTATE_PENDING:
    // A streamed raster job is pending for a moment without a file: never start that.
    if (papplJobGetFilename(job) && (!scan->oldestSpooled || id < scan->oldestId)) {
      scan->oldestSpooled = job;
      scan->oldestId = id;
    }
    break;
  case IPP_JSTATE_PROCESSING:
    scan->processing = true;
    break;
  default:
    break;
  }
}

job_scan_t scan_printer(pappl_printer_t *printer, pappl_job_t *self) {
  job_scan_t scan = {self, nullptr, 0, false};
  papplPrinterIterateActiveJobs(printer, scan_job, &scan, 1, 0);
  return scan;
}

// A job we start, and the printer it holds until its thread ends.
struct job_run_t {
  pappl_job_t *job;
  pappl_printer_t *printer;
  pappl_system_t *system;
  int printerId;
};

// Run the job, free its printer, and start the next job, unless the printer went away
// with the job (PAPPL deletes a printer marked for deletion once its job ends).
void *run_job(void *data) {
  auto *run = static_cast<job_run_t *>(data);
  _papplJobProcess(run->job);
  {
    std::lock_guard<std::mutex> lock(g_queue_lock);
    g_queues[run->printer].running = false;
  }
  if (pappl_printer_t *printer =
          papplSystemFindPrinter(run->system, nullptr, run->printerId, nullptr))
    _papplPrinterCheckJobs(printer);
  delete run;
  return nullptr;
}

void add_printer(pappl_printer_t *printer, void *data) {
  static_cast<std::vector<pappl_printer_t *> *>(data)->push_back(printer);
}

// What the stop waits for.
struct stop_watch_t {
  bool (*save)(pappl_system_t *, void *);
  void *saveData;
};

// Every second: start the jobs that wait (those restored from the state file have no
// other call to start them); once a stop is asked for and no job prints, save the state
// and end at once, since PAPPL would wait up to a minute for the jobs not begun.
bool tend_printers(pappl_system_t *system, void *data) {
  watch_for_stop();
  std::vector<pappl_printer_t *> printers;
  papplSystemIteratePrinters(system, add_printer, &printers);
  if (!stop_requested() && !papplSystemIsShutdown(system)) {
    for (pappl_printer_t *printer : printers)
      _papplPrinterCheckJobs(printer);
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(g_queue_lock);
    for (pappl_printer_t *printer : printers)
      if (scan_printer(printer, nullptr).processing || g_queues[printer].streaming ||
          g_queues[printer].running)
        return true;
  }
  auto *watch = static_cast<stop_watch_t *>(data);
  watch->save(system, watch->saveData);
  papplLog(system, PAPPL_LOGLEVEL_INFO, "Stopped; jobs not begun print after the next start.");
  _exit(0);
}

using copy_document_t = void (*)(pappl_client_t *, pappl_job_t *);

} // namespace

// Start the printer's oldest spooled job when nothing prints and no older raster job
// waits, and return once it holds the printer, so that no other check starts a second.
extern "C" void _papplPrinterCheckJobs(pappl_printer_t *printer) {
  std::lock_guard<std::mutex> lock(g_queue_lock);
  // Once the application stops, jobs not begun wait in the state file for the next start.
  if (!printer || papplPrinterIsDeleted(printer) ||
      papplPrinterGetState(printer) == IPP_PSTATE_STOPPED || stop_requested() ||
      papplSystemIsShutdown(papplPrinterGetSystem(printer)))
    return;
  printer_queue_t &queue = g_queues[printer];
  job_scan_t scan = scan_printer(printer, nullptr);
  if (scan.processing || queue.streaming || queue.running || !scan.oldestSpooled)
    return;
  if (!queue.waiting.empty() && *queue.waiting.begin() < scan.oldestId)
    return;
  pappl_job_t *job = scan.oldestSpooled;
  auto *run =
      new job_run_t{job, printer, papplPrinterGetSystem(printer), papplPrinterGetID(printer)};
  pthread_t thread;
  if (pthread_create(&thread, nullptr, run_job, run)) {
    delete run;
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to start the job; it waits for the next one.");
    return;
  }
  queue.running = true;
  pthread_detach(thread);
  for (int i = 0; i < 10000 && papplJobGetState(job) == IPP_JSTATE_PENDING; i++)
    usleep(1000);
}

// Let a PWG or Apple raster job wait for its turn, and for a paused printer, instead of
// being refused as busy or printed regardless; other documents are spooled as PAPPL spools them.
extern "C" void _papplJobCopyDocumentData(pappl_client_t *client, pappl_job_t *job) {
  static auto copy =
      reinterpret_cast<copy_document_t>(dlsym(RTLD_NEXT, "_papplJobCopyDocumentData"));
  if (!copy)
    return;
  if (!is_raster_format(papplJobGetFormat(job))) {
    copy(client, job);
    return;
  }
  pappl_printer_t *printer = papplJobGetPrinter(job);
  pappl_system_t *system = papplPrinterGetSystem(printer);
  int id = papplJobGetID(job);
  for (bool waiting = true;;) {
    {
      std::lock_guard<std::mutex> lock(g_queue_lock);
      printer_queue_t &queue = g_queues[printer];
      job_scan_t scan = scan_printer(printer, job);
      bool olderSpooled = scan.oldestSpooled && scan.oldestId < id;
      bool printerFree = !scan.processing && !queue.streaming && !queue.running;
      bool myTurn = printerFree && !olderSpooled &&
                    papplPrinterGetState(printer) != IPP_PSTATE_STOPPED &&
                    (queue.waiting.empty() || *queue.waiting.begin() >= id);
      // A job cancelled while it waits, or one the stop ends, goes as soon as the printer
      // is free, out of turn, to end without printing; never beside another job.
      bool ending = papplJobIsCanceled(job) || stop_requested() || papplSystemIsShutdown(system);
      if (myTurn || (printerFree && ending)) {
        queue.waiting.erase(id);
        queue.streaming = true;
        break;
      }
      if (waiting) {
        queue.waiting.insert(id);
        waiting = false;
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Waiting for the printer's earlier jobs.");
      }
    }
    usleep(20000);
  }
  copy(client, job);
  {
    std::lock_guard<std::mutex> lock(g_queue_lock);
    g_queues[printer].streaming = false;
  }
  _papplPrinterCheckJobs(printer);
}

void tend_job_queues(pappl_system_t *system, bool (*save)(pappl_system_t *, void *),
                     void *saveData) {
  static stop_watch_t watch;
  watch = {save, saveData};
  papplSystemAddTimerCallback(system, 0, 1, tend_printers, &watch);
}
