// SPDX-License-Identifier: Apache-2.0
// Jobs one at a time on each printer, oldest first, held jobs released when due, and a
// stop that keeps the jobs that have not begun for the next start.
#pragma once

#include <pappl/pappl.h>

// Have PAPPL ask the queue whose turn it is and how a job's document is received; before
// the state is loaded, so that no restored job starts another way.
void schedule_label_jobs(pappl_system_t *system);

// End a job that has no thread as aborted, with its message; it leaves the queue.
void abort_job(pappl_job_t *job, const char *message);

// Start waiting jobs, restored ones too, release held jobs at their time, and end the
// server once a stop is asked for and no job prints, saving the state with save.
void tend_job_queues(pappl_system_t *system, bool (*save)(pappl_system_t *, void *),
                     void *saveData);

// End the jobs that the state file brings back as printing: the server that printed them
// was killed, and no thread prints them now. Call it once the state is loaded.
void end_jobs_cut_short(pappl_system_t *system);

// Start the printer's next job if it is its turn; PAPPL asks whenever a job arrives or ends.
void check_printer_jobs(pappl_printer_t *printer);

// Read a job's document from its client: a PWG or Apple raster job waits for its turn
// (and for a paused printer) to stream, instead of being refused as busy or printed
// beside another job; other documents are spooled as PAPPL spools them.
void receive_job_document(pappl_client_t *client, pappl_job_t *job);
