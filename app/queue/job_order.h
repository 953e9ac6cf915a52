// SPDX-License-Identifier: Apache-2.0
// Whose turn it is on a printer: one job at a time, oldest first, whatever its format.
// The decision alone, from what the scheduler sees of the printer's jobs.
#pragma once

#include <ctime>
#include <cups/ipp.h>
#include <vector>

// An active job of the printer.
struct queued_job_t {
  int id;
  ipp_jstate_t state;
  bool spooled;           // its document is in the spool; a streamed raster job's is not
  time_t holdUntil;       // when a held job is due; 0 when held indefinitely
  bool sending = false;   // the driver has begun sending its blocks to the printer
  bool receiving = false; // its document is in the spool but not yet checked whole
  bool parked = false;    // stopped by the application, to print the rest after the next start
};

// What else decides the printer's turn.
struct printer_turn_t {
  bool stopped;      // paused, or the application is stopping
  bool streaming;    // a raster job is being streamed to the printer
  bool running;      // a job thread we started has not ended yet
  bool ready = true; // the printer was last seen able to print
};

// The spooled job to start now; 0 when none may start.
int next_job_to_start(const std::vector<queued_job_t> &jobs, const printer_turn_t &turn);

// Whether the raster job id, as it arrives, may be streamed to the printer while its
// client sends it (the others are the printer's other active jobs): only when the
// printer is free and ready, the job is not held and no older job waits. Any other is
// spooled and waits its turn, so that its client is answered at once.
bool raster_job_may_stream(int id, bool held, const std::vector<queued_job_t> &others,
                           const printer_turn_t &turn);

// How long a stop waits for a job that is sending its blocks, which it ends at the next
// block: a printer that takes its data slowly, or not at all, holds the stop no longer.
inline constexpr double kStopWaitSeconds = 10.0;

// What a stop does with a printer's jobs: puts back in the queue the spooled ones that
// have parked (their blocks out, or their printer away) or sent nothing yet, to print the
// rest after the next start, and waits, within the bound, for those still sending.
struct stop_plan_t {
  bool wait;
  std::vector<int> requeue;
};
stop_plan_t plan_stop(const std::vector<queued_job_t> &jobs, double stoppingSeconds);

// The held jobs whose time has come at now.
std::vector<int> jobs_due(const std::vector<queued_job_t> &jobs, time_t now);
