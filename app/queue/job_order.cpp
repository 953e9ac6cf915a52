// SPDX-License-Identifier: Apache-2.0
#include "app/queue/job_order.h"

namespace {

// Whether a job prints, and which spooled job is the oldest waiting.
struct job_scan_t {
  bool processing = false;
  int oldestSpooled = 0;
};

job_scan_t scan_jobs(const std::vector<queued_job_t> &jobs) {
  job_scan_t scan;
  for (const queued_job_t &job : jobs) {
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
  if (turn.stopped || !printer_is_free(scan, turn) || !scan.oldestSpooled)
    return 0;
  if (!turn.waiting.empty() && *turn.waiting.begin() < scan.oldestSpooled)
    return 0;
  return scan.oldestSpooled;
}

bool raster_job_may_stream(int id, bool ending, const std::vector<queued_job_t> &others,
                           const printer_turn_t &turn) {
  job_scan_t scan = scan_jobs(others);
  if (!printer_is_free(scan, turn))
    return false;
  if (ending)
    return true;
  bool olderSpooled = scan.oldestSpooled && scan.oldestSpooled < id;
  bool olderWaiting = !turn.waiting.empty() && *turn.waiting.begin() < id;
  return !turn.stopped && !olderSpooled && !olderWaiting;
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
    if (!job.sending)
      plan.requeue.push_back(job.id);
    else if (stoppingSeconds < kStopWaitSeconds)
      plan.wait = true;
  }
  return plan;
}
