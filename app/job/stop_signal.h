// SPDX-License-Identifier: Apache-2.0
// Notice a request to stop the application (SIGTERM, as systemctl stop sends it)
// while a job prints, so that the job can stop at the next block boundary.
#pragma once

// Watch for SIGTERM and SIGINT, passing each on to the handler installed before;
// call it once PAPPL has installed its own (by the first job).
void watch_for_stop();

// True once a stop was requested.
bool stop_requested();
