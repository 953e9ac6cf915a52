// SPDX-License-Identifier: Apache-2.0
// The filter's entry point, kept in the library so that tests and tools can run it.
#pragma once

// Run one job as CUPS starts a filter: job-id user title copies options [file].
// Returns the exit status: 1 for a wrong argument count, an input that cannot be opened
// or read as raster, or a page refused for memory; otherwise 0 (a cancelled job too).
int run_filter(int argc, char *argv[]);
