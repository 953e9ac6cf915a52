// SPDX-License-Identifier: Apache-2.0
// The printer's status byte: asked over its device, shown as printer-state-reasons, and
// used as the flow control of a job's blocks. A block goes to the printer only once the
// one before it has come out, so that a cancel lets at most the label being printed out
// after it, and a printer that goes away and comes back is sent again the one label it
// lost, none twice and none missing.
#pragma once

#include <pappl/pappl.h>
#include <string>

// The printer-state-reasons that a status byte sets.
pappl_preason_t status_reasons(int byte);

// Put the byte's meaning in words for the log and the job's message ("printing, out of
// labels").
void describe_status(int byte, char *text, size_t size);

// What a job knows of its printer and of the last block it sent.
struct printer_watch_t {
  bool asking;         // false for devices that cannot answer and after a missed first answer
  bool answered;       // the printer has answered in this job
  bool waiting;        // the job's message says it waits for the printer
  bool gone;           // the connection failed: the printer is connected to again first
  unsigned char last;  // the last status byte, for logging changes only
  std::string failure; // why the printer was given up on: nothing more is sent
  // The last block sent, kept until the printer reports it out.
  std::string unconfirmed; // its bytes; empty when they could not be kept
  int unconfirmedLabels;   // the labels it prints; 0 when nothing sent is in doubt
  unsigned unconfirmedPage;
  double unconfirmedSeconds; // how long its labels take to come out
  bool unconfirmedWhole;     // every byte of it reached the connection
  bool lost;                 // the printer came back without it: it is sent again
};

// Decide whether the job's device can be asked, and drop answers left from before.
void start_printer_watch(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device);

// Send part of a block, unless the printer was given up on or went away: a printer that
// takes no data is given up on (watch->failure, the job's message, offline shown); one
// that closed the connection is connected to again before anything more is sent.
void send_block_bytes(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                      const void *data, size_t size);

// Note a block sent whole with its PRINT line: its bytes, to be sent again if the printer
// loses it, and how long its labels take at the job's label length and speed.
void note_block_sent(printer_watch_t *watch, const std::string &block, int labels, unsigned page,
                     int lengthMm, int speed);

// Wait until the printer may take the next block: the block before it is out and the
// printer reports no error. A printer that went away is shown offline and waited for, and
// sent again the block it lost. A beep that Identify-Printer asked for meanwhile is sent
// then. False when the job stops, or with watch->failure and the job's message set when
// the printer was given up on or labels may be missing.
bool wait_for_printer(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                      bool (*stopping)(pappl_job_t *));

// Wait at the job's end until its last block is out, or, for a printer that does not
// answer, until it has taken every byte, and send a beep asked for meanwhile; false, with
// watch->failure and the job's message set, only when the printer was given up on or
// labels may be missing.
bool wait_for_labels_out(printer_watch_t *watch, pappl_job_t *job, pappl_device_t *device,
                         bool (*stopping)(pappl_job_t *));

// PAPPL's status callback: ask an idle printer for its state.
bool update_printer_status(pappl_printer_t *printer);

// Whether the printer is asked for its status (a socket:// printer): only asking tells
// whether it can print at this moment.
bool printer_is_asked(pappl_printer_t *printer);
