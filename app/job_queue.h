// SPDX-License-Identifier: Apache-2.0
// Jobs one at a time on each printer, oldest first, and a stop that keeps the jobs that
// have not begun for the next start.
#pragma once

#include <pappl/pappl.h>

// Start waiting jobs, restored ones too, and end the server once a stop is asked for and
// no job prints, saving the state with save.
void tend_job_queues(pappl_system_t *system, bool (*save)(pappl_system_t *, void *),
                     void *saveData);
