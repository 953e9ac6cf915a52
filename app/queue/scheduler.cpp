// SPDX-License-Identifier: Apache-2.0
// PAPPL's own check starts spooled jobs newest first and can start two at once (it runs
// unlocked in the thread of each new job and of each finished one), refuses a PWG or
// Apple raster job that arrives while another prints (and keeps its client waiting
// until the printer has taken it when it does not), and releases a job held until a
// time at once. PAPPL asks the functions here instead, through its scheduler and
// document callbacks; job_order.cpp decides whose turn it is.
#include "app/queue/scheduler.h"

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <pthread.h>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/document/document_filters.h"
#include "app/job/raster_job.h"
#include "app/job/stop_signal.h"
#include "app/printer/printer_status.h"
#include "app/queue/document_spool.h"
#include "app/queue/job_order.h"

namespace {

// Whether a raster job is being streamed to the printer, the spooled jobs whose document
// PAPPL has submitted before our copy of it is done, and the job thread we started: it
// runs until PAPPL has closed the device after the job, a moment after the job itself
// has ended, and no other job may open it before.
struct printer_queue_t {
  std::set<int> receiving; // spooled jobs whose document is still being checked
  bool streaming = false;
  bool running = false;
};

// Held only while deciding, never while waiting.
std::mutex g_queue_lock;
std::map<pappl_printer_t *, printer_queue_t> g_queues;

// The printer's active jobs as the queue sees them, but for one (null for none).
struct job_list_t {
  pappl_job_t *self;
  std::vector<queued_job_t> jobs;
};

void add_job(pappl_job_t *job, void *data) {
  auto *list = static_cast<job_list_t *>(data);
  if (job == list->self)
    return;
  ipp_jstate_t state = papplJobGetState(job);
  // The driver keeps its state on a job from its first block to its end.
  list->jobs.push_back({papplJobGetID(job), state, papplJobGetFilename(job) != nullptr,
                        state == IPP_JSTATE_HELD ? papplJobGetHoldUntil(job) : 0,
                        job_sent_labels(job), false, job_is_parked(job)});
}

std::vector<queued_job_t> active_jobs(pappl_printer_t *printer, pappl_job_t *self) {
  job_list_t list = {self, {}};
  papplPrinterIterateActiveJobs(printer, add_job, &list, 1, 0);
  return list.jobs;
}

// The printer's active jobs as the queue holds them, under its lock.
std::vector<queued_job_t> queued_jobs(pappl_printer_t *printer, const printer_queue_t &queue,
                                      pappl_job_t *self) {
  std::vector<queued_job_t> jobs = active_jobs(printer, self);
  for (queued_job_t &job : jobs)
    job.receiving = queue.receiving.count(job.id) > 0;
  return jobs;
}

// The turn as the queue holds it, with the printer's own state.
printer_turn_t printer_turn(pappl_printer_t *printer, const printer_queue_t &queue, bool stopping,
                            bool ready = true) {
  return {stopping || papplPrinterGetState(printer) == IPP_PSTATE_STOPPED, queue.streaming,
          queue.running, ready};
}

// Whether the application is stopping, when jobs not begun wait for the next start.
bool application_stopping(pappl_system_t *system) {
  return stop_requested() || papplSystemIsShutdown(system);
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
  papplJobProcess(run->job);
  {
    std::lock_guard<std::mutex> lock(g_queue_lock);
    g_queues[run->printer].running = false;
  }
  if (pappl_printer_t *printer =
          papplSystemFindPrinter(run->system, nullptr, run->printerId, nullptr))
    check_printer_jobs(printer);
  delete run;
  return nullptr;
}

// Start the job in a thread of its own; false, with the reason, when none can be made.
bool start_job(pappl_printer_t *printer, pappl_job_t *job, std::string *reason) {
  auto *run =
      new job_run_t{job, printer, papplPrinterGetSystem(printer), papplPrinterGetID(printer)};
  pthread_t thread;
  if (int error = pthread_create(&thread, nullptr, run_job, run)) {
    delete run;
    *reason = std::string("Unable to start the job: ") + strerror(error) + ".";
    return false;
  }
  pthread_detach(thread);
  return true;
}

// Release the printer's held jobs whose time has come.
void release_due_jobs(pappl_printer_t *printer) {
  for (int id : jobs_due(active_jobs(printer, nullptr), time(nullptr)))
    if (pappl_job_t *job = papplPrinterFindJob(printer, id)) {
      papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Released: the time it was held until has come.");
      papplJobRelease(job, nullptr);
    }
}

void add_printer(pappl_printer_t *printer, void *data) {
  static_cast<std::vector<pappl_printer_t *> *>(data)->push_back(printer);
}

std::vector<pappl_printer_t *> system_printers(pappl_system_t *system) {
  std::vector<pappl_printer_t *> printers;
  papplSystemIteratePrinters(system, add_printer, &printers);
  return printers;
}

// What the stop waits for.
struct stop_watch_t {
  bool (*save)(pappl_system_t *, void *);
  void *saveData;
};

// Every second: release held jobs that are due and start the jobs that wait (those
// restored from the state file have no other call to start them); once a stop is asked
// for, end as soon as no job sends its blocks (within a bound), saving the state, since
// PAPPL would wait up to a minute for the jobs not begun and for ever for a printer.
bool tend_printers(pappl_system_t *system, void *data) {
  watch_for_stop();
  std::vector<pappl_printer_t *> printers = system_printers(system);
  if (!application_stopping(system)) {
    for (pappl_printer_t *printer : printers) {
      release_due_jobs(printer);
      check_printer_jobs(printer);
    }
    return true;
  }
  // The stop waits for the jobs that send their blocks, within a bound; a job that waits
  // for its printer is put back in the queue, and the server ends.
  static const auto stopStart = std::chrono::steady_clock::now();
  double stopping =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - stopStart).count();
  std::vector<std::pair<pappl_printer_t *, stop_plan_t>> plans;
  for (pappl_printer_t *printer : printers) {
    plans.emplace_back(printer, plan_stop(active_jobs(printer, nullptr), stopping));
    if (plans.back().second.wait)
      return true;
  }
  for (const auto &[printer, plan] : plans) {
    for (int id : plan.requeue)
      if (pappl_job_t *job = papplPrinterFindJob(printer, id)) {
        papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                    "Waiting for its printer when the application stopped: it prints after the "
                    "next start.");
        papplJobSetState(job, IPP_JSTATE_PENDING);
      }
    for (const queued_job_t &job : active_jobs(printer, nullptr))
      if (job.state == IPP_JSTATE_PROCESSING)
        if (pappl_job_t *cut = papplPrinterFindJob(printer, job.id)) {
          papplLogJob(cut, PAPPL_LOGLEVEL_WARN,
                      "Still sending to its printer %.0f s after the stop: the application "
                      "stops without it.",
                      kStopWaitSeconds);
          papplJobSetMessage(cut, "The printer application stopped while this job printed.");
        }
  }
  auto *watch = static_cast<stop_watch_t *>(data);
  watch->save(system, watch->saveData);
  papplLog(system, PAPPL_LOGLEVEL_INFO, "Stopped; jobs not begun print after the next start.");
  _exit(0);
}

void check_jobs(pappl_printer_t *printer, void *) {
  check_printer_jobs(printer);
}

void receive_document(pappl_client_t *client, pappl_job_t *job, void *) {
  receive_job_document(client, job);
}

} // namespace

void schedule_label_jobs(pappl_system_t *system) {
  papplSystemSetSchedulerCallback(system, check_jobs, nullptr);
  papplSystemSetDocumentCallback(system, receive_document, nullptr);
}

void abort_job(pappl_job_t *job, const char *message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  papplJobSetMessage(job, "%s", message);
  // PAPPL's cancel moves a job that is not processing out of the queue, with its spool
  // file; the state it leaves is then made what it is: aborted by the system. A job
  // restored as processing has no thread, so it is made pending for the cancel.
  if (papplJobGetState(job) == IPP_JSTATE_PROCESSING)
    papplJobSetState(job, IPP_JSTATE_PENDING);
  papplJobCancel(job);
  papplJobSetState(job, IPP_JSTATE_ABORTED);
}

void end_jobs_cut_short(pappl_system_t *system) {
  for (pappl_printer_t *printer : system_printers(system))
    for (const queued_job_t &queued : active_jobs(printer, nullptr))
      if (queued.state == IPP_JSTATE_PROCESSING)
        if (pappl_job_t *job = papplPrinterFindJob(printer, queued.id))
          abort_job(job, "The printer application ended while this job printed: its labels "
                         "may not all have come out.");
}

void check_printer_jobs(pappl_printer_t *printer) {
  if (!printer || papplPrinterIsDeleted(printer))
    return;
  bool stopping = application_stopping(papplPrinterGetSystem(printer));
  pappl_job_t *job = nullptr;
  {
    // The jobs are listed under the lock, so that no other check acts on the same list.
    std::lock_guard<std::mutex> lock(g_queue_lock);
    printer_queue_t &queue = g_queues[printer];
    int id = next_job_to_start(queued_jobs(printer, queue, nullptr),
                               printer_turn(printer, queue, stopping));
    if (id && (job = papplPrinterFindJob(printer, id)) != nullptr)
      queue.running = true;
  }
  if (!job)
    return;
  std::string reason;
  if (start_job(printer, job, &reason))
    return;
  // A job whose thread cannot be made would wait for ever: it ends with the reason, and
  // the next job gets its turn.
  abort_job(job, reason.c_str());
  {
    std::lock_guard<std::mutex> lock(g_queue_lock);
    g_queues[printer].running = false;
  }
}

void receive_job_document(pappl_client_t *client, pappl_job_t *job) {
  pappl_printer_t *printer = papplJobGetPrinter(job);
  int id = papplJobGetID(job);
  bool raster = is_raster_format(papplJobGetFormat(job));
  if (raster) {
    bool held = papplJobGetReasons(job) & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED;
    // A printer that answers for its status may be out of labels or away at this moment,
    // which only a question tells: its raster jobs are spooled, so that their clients are
    // answered at once; others print whenever they are sent to.
    bool ready = !printer_is_asked(printer);
    std::unique_lock<std::mutex> lock(g_queue_lock);
    printer_queue_t &queue = g_queues[printer];
    bool stopping = application_stopping(papplPrinterGetSystem(printer));
    if (raster_job_may_stream(id, held, active_jobs(printer, job),
                              printer_turn(printer, queue, stopping, ready))) {
      queue.streaming = true;
      lock.unlock();
      papplJobReceiveDocument(client, job, false);
      lock.lock();
      queue.streaming = false;
      lock.unlock();
      check_printer_jobs(printer);
      return;
    }
    queue.receiving.insert(id);
  } else {
    std::lock_guard<std::mutex> lock(g_queue_lock);
    g_queues[printer].receiving.insert(id);
  }
  // PAPPL submits the job once the whole document is in its spool file; it starts once
  // it is no longer listed as received. A raster document is spooled as other formats are.
  if (raster)
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Spooled: the printer is busy or cannot print now.");
  spool_document(client, job);
  {
    std::lock_guard<std::mutex> lock(g_queue_lock);
    g_queues[printer].receiving.erase(id);
  }
  check_printer_jobs(printer);
}

void tend_job_queues(pappl_system_t *system, bool (*save)(pappl_system_t *, void *),
                     void *saveData) {
  static stop_watch_t watch;
  watch = {save, saveData};
  // The first run comes at once, as the server starts, so that a stop is noticed even
  // in its first second: PAPPL installs its own signal handler just before.
  papplSystemAddTimerCallback(system, time(nullptr), 1, tend_printers, &watch);
}
