// SPDX-License-Identifier: Apache-2.0
#include <csignal>

#include "filter/filter_main.h"
#include "render/print_bitmap.h"

// CUPS cancels a job with SIGTERM: the page loop then stops at the next command boundary.
// Interrupted reads and writes restart, so a signal never cuts a command short.
int main(int argc, char *argv[]) {
  struct sigaction action = {};
  action.sa_handler = cancel_job;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  return run_filter(argc, argv);
}
