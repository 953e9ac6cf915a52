// SPDX-License-Identifier: Apache-2.0
// The filter's diagnostic log: one time-stamped line per call, "\r\n" line ends,
// flushed at once, in a file that every job empties and writes anew.
#pragma once

#include <cstdio>

// The open log, or null when there is none; the only process-wide handle.
extern FILE *pLogFile;

// Open the log at its configured path.
void InitLog();

// Open the log at a given path (emptied if present); returns false when it cannot be opened.
bool OpenLogAt(const char *path);

// Write one line: the time stamp, the formatted message and "\r\n".
// Returns the count of message characters written, or -1 when no log is open.
int WriteLog(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Close the log if one is open.
void CloseLog();
