#include <csignal>

#include "filter/filter_main.h"
#include "render/print_bitmap.h"

// CUPS cancels a job with SIGTERM: the page loop then stops at the next command boundary.
int main(int argc, char *argv[]) {
  struct sigaction action = {};
  action.sa_handler = cancel_job;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  return run_filter(argc, argv);
}
