// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "app/queue/job_order.h"

namespace {

constexpr ipp_jstate_t kPending = IPP_JSTATE_PENDING;
constexpr ipp_jstate_t kHeld = IPP_JSTATE_HELD;
constexpr ipp_jstate_t kPrinting = IPP_JSTATE_PROCESSING;

TEST(JobOrder, TheOldestSpooledJobStartsWhenNothingElseHoldsThePrinter) {
  struct Case {
    const char *what;
    std::vector<queued_job_t> jobs;
    printer_turn_t turn;
    int start;
  } cases[] = {
      {"no job", {}, {}, 0},
      {"oldest first",
       {{7, kPending, true, 0}, {5, kPending, true, 0}, {6, kPending, true, 0}},
       {},
       5},
      {"one prints", {{5, kPrinting, true, 0}, {6, kPending, true, 0}}, {}, 0},
      {"a raster job streams", {{6, kPending, true, 0}}, {false, true, false}, 0},
      {"the last job's thread still runs", {{6, kPending, true, 0}}, {false, false, true}, 0},
      {"paused or stopping", {{6, kPending, true, 0}}, {true, false, false}, 0},
      {"the printer cannot print: the job waits for it in its thread",
       {{6, kPending, true, 0}},
       {false, false, false, false},
       6},
      {"a streamed job has no file", {{4, kPending, false, 0}, {6, kPending, true, 0}}, {}, 6},
      {"held jobs wait", {{4, kHeld, true, 0}, {6, kPending, true, 0}}, {}, 6},
      {"a document not yet checked whole",
       {{4, kPending, true, 0, false, true}, {6, kPending, true, 0}},
       {},
       6},
  };
  for (const Case &c : cases)
    EXPECT_EQ(next_job_to_start(c.jobs, c.turn), c.start) << c.what;
}

TEST(JobOrder, ARasterJobStreamsOnlyToAFreeReadyPrinterAndIsSpooledOtherwise) {
  struct Case {
    const char *what;
    int id;
    bool held;
    std::vector<queued_job_t> others;
    printer_turn_t turn;
    bool streams;
  } cases[] = {
      {"alone", 6, false, {}, {false, false, false}, true},
      {"an older spooled job", 6, false, {{5, kPending, true, 0}}, {false, false, false}, false},
      {"an older job still arriving",
       6,
       false,
       {{5, kPending, false, 0, false, true}},
       {false, false, false},
       false},
      {"a newer spooled job", 6, false, {{7, kPending, true, 0}}, {false, false, false}, true},
      {"an older held job", 6, false, {{5, kHeld, true, 0}}, {false, false, false}, true},
      {"another prints", 6, false, {{3, kPrinting, true, 0}}, {false, false, false}, false},
      {"another streams", 6, false, {}, {false, true, false}, false},
      {"the last job's thread still runs", 6, false, {}, {false, false, true}, false},
      {"paused or stopping", 6, false, {}, {true, false, false}, false},
      {"out of labels, offline or open", 6, false, {}, {false, false, false, false}, false},
      {"held until later", 6, true, {}, {false, false, false}, false},
  };
  for (const Case &c : cases)
    EXPECT_EQ(raster_job_may_stream(c.id, c.held, c.others, c.turn), c.streams) << c.what;
}

TEST(JobOrder, HeldJobsAreDueAtTheirTimeAndNotBefore) {
  std::vector<queued_job_t> jobs = {
      {1, kHeld, true, 999}, {2, kHeld, true, 1000},   {3, kHeld, true, 1001},
      {4, kHeld, true, 0},   {5, kPending, true, 500},
  };
  EXPECT_EQ(jobs_due(jobs, 1000), (std::vector<int>{1, 2}));
}

TEST(JobOrder, AStopWaitsForJobsSendingBlocksWithinItsBoundAndRequeuesTheRest) {
  struct Case {
    const char *what;
    std::vector<queued_job_t> jobs;
    double stopping;
    bool wait;
    std::vector<int> requeue;
  } cases[] = {
      {"no job", {}, 0, false, {}},
      {"pending and held jobs stay as they are",
       {{1, kPending, true, 0, false}, {2, kHeld, true, 0, false}},
       0,
       false,
       {}},
      {"a job sending its blocks", {{3, kPrinting, true, 0, true}}, 0, true, {}},
      {"a job sending just before the bound", {{3, kPrinting, true, 0, true}}, 9.9, true, {}},
      {"a job sending at the bound", {{3, kPrinting, true, 0, true}}, 10, false, {}},
      {"a job waiting for its printer", {{4, kPrinting, true, 0, false}}, 0, false, {4}},
      {"a streamed job waiting for its printer", {{4, kPrinting, false, 0, false}}, 0, false, {}},
      {"both", {{4, kPrinting, true, 0, false}, {5, kPrinting, true, 0, true}}, 0, true, {4}},
      {"a job parked with its blocks out",
       {{6, kPrinting, true, 0, true, false, true}},
       0,
       false,
       {6}},
      {"a parked job and one still sending",
       {{6, kPrinting, true, 0, true, false, true}, {7, kPrinting, true, 0, true}},
       0,
       true,
       {6}},
  };
  for (const Case &c : cases) {
    stop_plan_t plan = plan_stop(c.jobs, c.stopping);
    EXPECT_EQ(plan.wait, c.wait) << c.what;
    EXPECT_EQ(plan.requeue, c.requeue) << c.what;
  }
}

} // namespace
