// SPDX-License-Identifier: Apache-2.0
#include "app/job/stop_signal.h"

#include <csignal>
#include <mutex>

namespace {

// PAPPL lets a running job finish every page before it stops; this flag, set by the
// signal handler and read by the raster callbacks, lets the job end at the next block.
volatile sig_atomic_t g_stop_requested = 0;
struct sigaction g_previous_term, g_previous_int;
std::once_flag g_watching;

// Note the request, then let PAPPL's handler run as before.
void note_stop(int signal_number) {
  g_stop_requested = 1;
  const struct sigaction &previous = signal_number == SIGTERM ? g_previous_term : g_previous_int;
  if (previous.sa_flags & SA_SIGINFO)
    return;
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN)
    previous.sa_handler(signal_number);
}

} // namespace

void watch_for_stop() {
  std::call_once(g_watching, [] {
    struct sigaction action = {};
    action.sa_handler = note_stop;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, &g_previous_term);
    sigaction(SIGINT, &action, &g_previous_int);
  });
}

bool stop_requested() {
  return g_stop_requested != 0;
}
