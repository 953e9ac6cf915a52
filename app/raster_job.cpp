// SPDX-License-Identifier: Apache-2.0
#include "app/raster_job.h"

#include <cstring>
#include <new>
#include <string>

#include "app/document_filters.h"
#include "app/label_preview.h"
#include "app/pappl_pages.h"
#include "app/print_settings.h"
#include "app/printer_status.h"
#include "app/stop_signal.h"

namespace {

// What one job keeps between callbacks.
struct label_job_t {
  label_doc_t doc;
  label_head_t head;
  int copies;
  label_page_t page;
  unsigned linesReceived;
  printer_watch_t watch;
};

// A page's block on its way to the device, with the copy kept for the "Last Label" page.
struct label_capture_t {
  pappl_device_t *device;
  std::string block;
  bool kept; // false once memory for the copy ran out
};

// Write a block's bytes to the printer's device and to the copy.
void write_to_device(void *context, const void *data, size_t size) {
  auto *capture = static_cast<label_capture_t *>(context);
  papplDeviceWrite(capture->device, data, size);
  try {
    if (capture->kept)
      capture->block.append(static_cast<const char *>(data), size);
  } catch (const std::bad_alloc &) {
    capture->kept = false;
  }
}

// Start the copy of a block with room for its bitmap and the commands around it.
void start_capture(label_capture_t *capture, const label_image_t &image) {
  try {
    capture->block.reserve(size_t{image.bytesPerRow} * image.rows + 512);
  } catch (const std::bad_alloc &) {
    capture->kept = false;
  }
}

// A job stops at the next block boundary when it is cancelled or the application is
// stopping: PAPPL would otherwise finish every page of it before it exits.
bool job_is_stopping(pappl_job_t *job) {
  return papplJobIsCanceled(job) || stop_requested() ||
         papplSystemIsShutdown(papplPrinterGetSystem(papplJobGetPrinter(job)));
}

// Put a failure in the job's state and the log.
void report_job_error(pappl_job_t *job, const char *message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  papplJobSetMessage(job, "%s", message);
}

// Check the page header and make room for the page.
bool begin_page(pappl_job_t *job, label_job_t *state, const pappl_pr_options_t *options) {
  const cups_page_header2_t *header = &options->header;
  char message[256];
  state->linesReceived = 0;
  if (job_is_stopping(job)) {
    // A cancelled job says so in its state already.
    if (!papplJobIsCanceled(job))
      report_job_error(job, "The printer application is stopping.");
    return false;
  }
  if (page_header_is_not_clients(job, options)) {
    report_job_error(job, "Unsupported raster: a page of fewer than 8 bits per pixel; the "
                          "printer takes 8-bit gray.");
    return false;
  }
  if (!start_label_page(&state->page, header, &state->head, state->copies, state->doc.mode, message,
                        sizeof message)) {
    report_job_error(job, message);
    return false;
  }
  return true;
}

// Send the gathered page's block; a page cut short is not printed.
bool finish_page(pappl_job_t *job, label_job_t *state, pappl_device_t *device, unsigned page) {
  bool sent = true;
  char message[256];
  if (!state->page.bitPage) {
    sent = false;
  } else if (!wait_for_printer(&state->watch, job, device, job_is_stopping)) {
    // A page still being gathered or waiting for the printer when the job was cancelled
    // is not sent.
  } else if (state->linesReceived < state->page.image.rows) {
    // The label would come out with white rows where its content should be.
    snprintf(message, sizeof message, "The page ended after %u of its %u lines.",
             state->linesReceived, state->page.image.rows);
    report_job_error(job, message);
    sent = false;
  } else {
    label_capture_t capture = {device, {}, true};
    start_capture(&capture, state->page.image);
    label_sink_t sink = {&capture, write_to_device};
    send_label_image(&sink, &state->doc, &state->page.image, state->page.bitPage);
    // A block already begun is completed through its image, but the label is not printed.
    if (!job_is_stopping(job))
      write_label_print(&sink, &state->page.image);
    papplDeviceFlush(device);
    add_printed_labels(&state->watch, state->copies, state->doc.pageHeight, state->doc.speed);
    keep_last_label(papplJobGetPrinter(job), job, page,
                    capture.kept ? std::move(capture.block) : std::string());
  }
  free_label_page(&state->page);
  return sent;
}

// Work out the job's settings; copies are made by the printer when copiesPerPage says so.
label_job_t *begin_job(pappl_job_t *job, const pappl_pr_options_t *options, int copiesPerPage) {
  watch_for_stop();
  auto *state = new label_job_t{};
  pappl_printer_t *printer = papplJobGetPrinter(job);
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);

  char conversion[64];
  const char *requested = cupsGetOption(kConversionAttribute, options->num_vendor, options->vendor);
  if (!requested) {
    copy_conversion_default(printer, conversion, sizeof conversion);
    requested = conversion;
  }
  set_label_doc_from_job(&state->doc, options, requested, data.x_default);
  set_label_finishing(&state->doc, printer, options);
  state->head = head_for_resolution(data.x_default);
  state->copies = copiesPerPage;
  papplLogJob(job, PAPPL_LOGLEVEL_INFO,
              "Label %dx%d mm, density %d, speed %d, tracking %d, position %d,%d, mode %d, "
              "%d copies per page",
              state->doc.pageWidth, state->doc.pageHeight, state->doc.darkness, state->doc.speed,
              state->doc.mediaTracking, state->doc.horizontal, state->doc.vertical, state->doc.mode,
              state->copies);
  return state;
}

// PWG and Apple raster arrive once with the copy count, so the printer makes the
// copies from one image; PAPPL repeats the pages of other formats itself.
int copies_per_page(pappl_job_t *job, const pappl_pr_options_t *options) {
  return is_raster_format(papplJobGetFormat(job)) && options->copies > 1 ? options->copies : 1;
}

} // namespace

bool start_label_job(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
  label_job_t *state = begin_job(job, options, copies_per_page(job, options));
  start_printer_watch(&state->watch, job, device);
  papplJobSetData(job, state);
  return true;
}

bool start_label_job_page(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *,
                          unsigned) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  return state && begin_page(job, state, options);
}

bool write_label_line(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned y,
                      const unsigned char *line) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  if (state) {
    add_label_line(&state->page, y, line);
    state->linesReceived++;
  }
  return true;
}

bool end_label_job_page(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device,
                        unsigned page) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  return state && finish_page(job, state, device, page);
}

bool end_label_job(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  if (state) {
    wait_for_labels_out(&state->watch, job, device, job_is_stopping);
    free_label_page(&state->page);
    delete state;
    papplJobSetData(job, nullptr);
  }
  return true;
}
