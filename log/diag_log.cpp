// SPDX-License-Identifier: Apache-2.0
#include "log/diag_log.h"

#include <cstdarg>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FILE *pLogFile = nullptr;

void InitLog() {
  OpenLogAt(STROBANE_LOG_PATH);
}

// The log never follows a symbolic link (a planted link must not let a job
// empty another file), never leaks into child processes, and is not
// writable by others. Only a regular file with no other name is emptied and
// written: a FIFO planted there would block the job once full, and a hard
// link would let the job empty the file it names.
bool OpenLogAt(const char *path) {
  int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0640);
  if (fd < 0)
    return false;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
      ftruncate(fd, 0) != 0) {
    close(fd);
    return false;
  }
  FILE *file = fdopen(fd, "w+");
  if (!file) {
    close(fd);
    return false;
  }
  pLogFile = file;
  return true;
}

int WriteLog(const char *format, ...) {
  if (!pLogFile)
    return -1;

  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local))
    fprintf(pLogFile, "%04d-%02d-%02d %02d:%02d:%02d ", local.tm_year + 1900, local.tm_mon + 1,
            local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);

  va_list args;
  va_start(args, format);
  int count = vfprintf(pLogFile, format, args);
  va_end(args);

  fputs("\r\n", pLogFile);
  fflush(pLogFile);
  return count;
}

void CloseLog() {
  if (pLogFile) {
    fclose(pLogFile);
    pLogFile = nullptr;
  }
}
