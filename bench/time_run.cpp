// SPDX-License-Identifier: Apache-2.0
// Run a program with standard input from a file and standard output to /dev/null, and
// print its wall time, user and system CPU time in seconds to the microsecond, and its
// peak resident memory in KiB: GNU time's figures at a finer grain than its 10 ms.
//
//   time_run INPUT PROGRAM [ARGUMENTS...]
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Seconds in a timeval.
double seconds(const timeval &t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

int main(int argc, char *argv[]) {
  if (argc < 3) {
    fputs("usage: time_run INPUT PROGRAM [ARGUMENTS...]\n", stderr);
    return 2;
  }
  timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child = fork();
  if (child == 0) {
    int input = open(argv[1], O_RDONLY);
    int output = open("/dev/null", O_WRONLY);
    if (input < 0 || output < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0 || dup2(output, 2) < 0)
      _exit(127);
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  rusage usage = {};
  if (child < 0 || wait4(child, &status, 0, &usage) < 0) {
    perror("time_run");
    return 2;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  double wall = static_cast<double>(end.tv_sec - start.tv_sec) +
                static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
  printf("%.6f %.6f %.6f %ld\n", wall, seconds(usage.ru_utime), seconds(usage.ru_stime),
         usage.ru_maxrss);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
