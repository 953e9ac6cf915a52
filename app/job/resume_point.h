// SPDX-License-Identifier: Apache-2.0
// Where a spooled job that the application's stop put back in the queue picks up after
// the next start: how many of its blocks, in the order they print, came out before the
// stop. The settings beside the state file keep the points over the restart.
#pragma once

#include <vector>

struct resume_point_t {
  int printerId;
  int jobId;
  int blocks; // the job's first blocks that came out; the job prints from the next one
};

// Note, or replace, the job's point.
void note_resume_point(int printerId, int jobId, int blocks);

// The blocks to leave out when the job starts again; 0 when it starts from the beginning.
int resume_point(int printerId, int jobId);

// Forget the job's point once it has ended.
void forget_resume_point(int printerId, int jobId);

// Every point noted, for the settings file.
std::vector<resume_point_t> resume_points();
