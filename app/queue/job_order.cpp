// SPDX-License-Identifier: Apache-2.0
#include "app/queue/job_order.h"

namespace {

// Whether a job prints, which spooled job is the oldest waiting, and the oldest pending
// job of any kind.
struct job_scan_t {
  bool processing = false;
  int oldestSpooled = 0;
  int oldestPending = 0;
};

job_scan_t scan_jobs(const std::vector<queued_job_t> &jobs) {
  job_scan_t scan;
  for (const queued_job_t &job : jobs) {
    if (job.state == IPP_JSTATE_PENDING && (!scan.oldestPending || job.id < scan.oldestPending))
      scan.oldestPending = job.id;
    if (job.state == IPP_JSTATE_PROCESSING)
      scan.processing = true;
    // A streamed raster job is pending for a moment without a file, and a spooled one
    // before its document is checked whole: never start those.
    else if (job.state == IPP_JSTATE_PENDING && job.spooled && !job.receiving &&
             (!scan.oldestSpooled || job.id < scan.oldestSpooled))
      scan.oldestSpooled = job.id;
  }
  return scan;
}

bool printer_is_free(const job_scan_t &scan, const printer_turn_t &turn) {
  return !scan.processing && !turn.streaming && !turn.running;
}

} // namespace

int next_job_to_start(const std::vector<queued_job_t> &jobs, const printer_turn_t &turn) {
  job_scan_t scan = scan_jobs(jobs);
  if (turn.stopped || !printer_is_free(scan, turn))
    return 0;
  return scan.oldestSpooled;
}

bool raster_job_may_stream(int id, bool held, const std::vector<queued_job_t> &others,
                           const printer_turn_t &turn) {
  job_scan_t scan = scan_jobs(others);
  return printer_is_free(scan, turn) && !turn.stopped && turn.ready && !held &&
         !(scan.oldestPending && scan.oldestPending < id);
}

std::vector<int> jobs_due(const std::vector<queued_job_t> &jobs, time_t now) {
  std::vector<int> due;
  for (const queued_job_t &job : jobs)
    if (job.state == IPP_JSTATE_HELD && job.holdUntil > 0 && job.holdUntil <= now)
      due.push_back(job.id);
  return due;
}

stop_plan_t plan_stop(const std::vector<queued_job_t> &jobs, double stoppingSeconds) {
  stop_plan_t plan{false, {}};
  for (const queued_job_t &job : jobs) {
    if (job.state != IPP_JSTATE_PROCESSING)
      continue;
    // A streamed job has no document to print again: it ends by itself, with the reason.
    if (job.parked || (job.spooled && !job.sending))
      plan.requeue.push_back(job.id);
    else if (job.sending)
      plan.wait = plan.wait || stoppingSeconds < kStopWaitSeconds;
  }
  return plan;
}
