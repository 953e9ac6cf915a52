// SPDX-License-Identifier: Apache-2.0
// The printer application's server inside the test process, as the executable serves:
// the system made by its own system callback, with the functions it defines in PAPPL's
// place linked in and exported, run in a thread on a free loopback port. Its printers'
// devices are strobane-virtual-printer processes on loopback; clients talk IPP to it.
#pragma once

#include <cups/cups.h>
#include <functional>
#include <pappl/pappl.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace appkit {

// The server options every test of a process shares: its spool holds 1 MiB, a document
// may be 900 KiB, and a PDF may take 4 s to render.
inline constexpr long long kSpoolLimitBytes = 1 << 20;
inline constexpr long long kDocumentLimitBytes = 900 << 10;
inline constexpr int kRenderSeconds = 4;

struct server_t {
  pappl_system_t *system = nullptr;
  int port = 0;
  std::string dir; // its state file, spool directory and log
  std::string stateFile;
  std::string spool;
  std::string log;
};

// The process's running server, started at the first call.
server_t &running_server();

// Make a second system from stateFile and spool as a restarted server would, without
// running it: the state, the saved settings and what the start does to jobs cut short.
pappl_system_t *load_system(const std::string &dir, const std::string &stateFile,
                            const std::string &spool);

// A loopback TCP port that nothing listens on.
int free_port();

// A strobane-virtual-printer on a free loopback port, with its buttons on a pipe.
struct virtual_printer_t {
  pid_t pid = -1;
  int port = 0;
  int buttons = -1;
  std::string out; // its standard output: one line a label and an event
  std::string uri() const;
};

// Start one with the options; it is killed when the test program ends.
virtual_printer_t start_virtual_printer(const std::vector<std::string> &options);

// Kill every virtual printer started, and remove the server's and their folders unless
// keep (a test failed: the logs and what the printers printed are kept, and named on
// standard error); the test program's end does.
void end_test_server(bool keep);

// Kill a virtual printer at once, as a power cut does, and wait until it is gone.
void kill_virtual_printer(const virtual_printer_t &printer);

// Press a button ("pause", "load 3", ...).
void press(const virtual_printer_t &printer, const std::string &button);

// The labels it has printed so far.
int labels_printed(const virtual_printer_t &printer);

// Add a printer of the model (strb203, strb300) to the running server, as the add
// sub-command does.
pappl_printer_t *add_printer(const std::string &name, const std::string &model,
                             const std::string &uri);

// How the server answered a request.
struct answer_t {
  ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
  std::string message;
  int jobId = 0;
};

// What a Print-Job asks for beside its document.
struct job_attrs_t {
  int copies = 1;
  int lengthMm = 0;     // a 4 in label this long, in its media-col; 0 for the default
  time_t holdUntil = 0; // job-hold-until-time; 0 for none
  const char *hold = nullptr; // job-hold-until, a keyword such as "evening"
  int speed = 0;        // print-speed, hundredths of mm a second; 0 for the printer's
};

// Send a Print-Job with the file, as a client over loopback does.
answer_t print_file(const std::string &printer, const std::string &file, const char *format,
                    const job_attrs_t &attrs = {});

// Cancel-Job over IPP.
answer_t cancel_job(const std::string &printer, int jobId);

// Set-Printer-Attributes over IPP with the attributes of attrs.
answer_t set_printer_attributes(const std::string &printer, ipp_t *attrs);

// Identify-Printer over IPP with the identify-actions (a comma-separated list).
answer_t identify_printer(const std::string &printer, const std::string &actions);

// The printer attribute as Get-Printer-Attributes shows it ("offline,paused"); empty when
// the answer has none.
std::string printer_attribute(const std::string &printer, const char *name);

// How a job ended.
struct job_end_t {
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::string message;
};

// Wait up to seconds for the job to end; its state then, or the last one seen.
job_end_t wait_for_job(pappl_printer_t *printer, int jobId, double seconds);

// Wait up to seconds until ready() holds; whether it did.
bool wait_until(double seconds, const std::function<bool()> &ready);

// Write a PWG raster document of pages 8-bit gray pages, width x height dots at dpi, of
// noise that compresses poorly (seeded, so the same every run) or of white.
void write_pwg(const std::string &path, unsigned width, unsigned height, unsigned dpi,
               unsigned pages, bool noise);

// The processes whose parent is this one, but for the virtual printers.
std::vector<pid_t> other_children();

std::string read_text(const std::string &path);

} // namespace appkit
