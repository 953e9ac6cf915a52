// SPDX-License-Identifier: Apache-2.0
// The documents the printer application takes besides raster: PNG labels decoded here,
// JPEG by PAPPL, PDF by CUPS's own filters in a separate process, both within one memory bound that
// a job beyond it is told of; anything else is refused before it becomes a job.
#pragma once

#include <pappl/pappl.h>
#include <string>

// The driver's own format: no document is taken in it, so a job restored in it ends with
// a reason instead of reaching the printer as it is.
inline constexpr char kLabelNativeFormat[] = "application/octet-stream";

// The largest image a job may hold, in pixels, and the largest side: decoded to gray,
// such an image takes at most 16 MiB while its labels are made.
inline constexpr size_t kMaxImagePixels = size_t{16} << 20;
inline constexpr int kMaxImageSide = 8192;

// Whether a job's format is PWG or Apple raster, which PAPPL streams to the raster
// callbacks as the client sends it, each page once with the job's copy count.
bool is_raster_format(const char *format);

// End the job with a reason that every client shows; false.
bool refuse_document(pappl_job_t *job, pappl_jreason_t reason, const char *message);

// What the document filters take from the layers above them: the raster callbacks that
// PAPPL calls for a job it streams, so that a spooled or rendered document reaches the
// printer as the same bytes, and the stop and the time bound that a PDF run keeps to.
struct document_printing_t {
  pappl_pr_rstartjob_cb_t startJob;
  pappl_pr_rstartpage_cb_t startPage;
  pappl_pr_rwriteline_cb_t writeLine;
  pappl_pr_rendpage_cb_t endPage;
  pappl_pr_rendjob_cb_t endJob;
  // Whether the job is cancelled or the application is stopping; a spooled job of which
  // nothing went to the printer waits in it for the stop to end the server.
  bool (*jobIsStopping)(pappl_job_t *job);
  bool (*stopRequested)(); // the application was asked to stop
  int renderSeconds;       // the time one PDF document may take to render
  std::string renderOwner; // what this server's render directories are named for
};

// Add the document filters, the formats taken and the image bound to a system that is not
// running yet; the filters print through printing, which outlives the system.
void add_label_filters(pappl_system_t *system, document_printing_t *printing);
