// SPDX-License-Identifier: Apache-2.0
// Identify-Printer: the message goes to the printer's log, and the beep to the printer. An
// idle printer beeps at once; a printer that a job holds is sent the beep by the job,
// once the label being printed is out, within a bound. A client whose beep could not be
// sent is told why.
#pragma once

#include <pappl/pappl.h>
#include <string>

// How long a beep waits for the job that holds the printer to finish a label.
inline constexpr int kIdentifyWaitSeconds = 10;

// PAPPL's identify callback (papplSystemSetIdentifyCallback): IPP_STATUS_OK, or
// server-error-busy or server-error-device-error with the reason.
ipp_status_t identify_label_printer(pappl_printer_t *printer, pappl_identify_actions_t actions,
                                    const char *message, char *reason, size_t size, void *data);

// Whether a beep waits for the job that holds the printer.
bool beep_asked(pappl_printer_t *printer);

// Tell the beeps that wait whether the job sent them.
void answer_beeps(pappl_printer_t *printer, bool sent);

// Why a beep was not sent: a job held the printer without a label's end for the bound, or
// the printer cannot be reached.
std::string busy_beep_reason();
std::string unreached_beep_reason();
