// SPDX-License-Identifier: Apache-2.0
#include "app/job/raster_job.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/document/document_filters.h"
#include "app/document/page_header.h"
#include "app/job/print_settings.h"
#include "app/job/resume_point.h"
#include "app/job/sent_labels.h"
#include "app/job/stop_signal.h"
#include "app/printer/printer_output.h"
#include "app/printer/printer_status.h"

namespace {

// A block sent for a page of a job with collated copies, kept to be sent again for
// each further copy: where it lies in the job's block file, without its PRINT line.
struct kept_block_t {
  off_t offset;
  size_t length;
  label_image_t image;
  unsigned page;
};

// The blocks of a job with collated copies, in an unlinked file in the spool directory.
struct block_file_t {
  int fd = -1;
  off_t size = 0;
  std::vector<kept_block_t> blocks;
  int error = 0; // errno of the first write that failed
};

// A page's block on its way to the device, with the copy kept for the "Last Label" page
// and, for collated copies, the block file it also goes to.
struct label_capture_t {
  pappl_job_t *job;
  pappl_device_t *device;
  printer_watch_t *watch; // null while the block's bytes are only kept
  std::string block;
  bool kept; // false once memory for the copy ran out
  block_file_t *file;
};

// What one job keeps between callbacks.
struct label_job_t {
  label_doc_t doc;
  label_head_t head;
  int copies;         // the count of each block's PRINT line
  int collatedCopies; // above 1: the pages go out in order, this many times over
  label_page_t page;
  printer_watch_t watch;
  block_file_t file;
  // The first page of a collated job, sent but for its PRINT line: that it is the only
  // page, and so printed by the printer N times over, is known at the next page or the end.
  bool holding;
  label_capture_t held;
  bool sentLabels; // some of the job's bytes went to the printer
  // A job put back in the queue by a stop leaves out the blocks that came out before it.
  int skipBlocks;   // still to leave out
  int resumedFrom;  // left out at this start
  int blocksPrinted; // sent whole with their PRINT line in this run
};

// The jobs that wait for the stop to put them back in the queue; asked from the stop's
// thread, so kept apart from the jobs' own state, which ends with them.
std::mutex g_parkedLock;
std::set<const pappl_job_t *> g_parked;

// The watch a block about to be sent goes through; null for a block that came out before
// the stop that put the job back in the queue, which is not sent again.
printer_watch_t *next_block_watch(label_job_t *state) {
  if (state->skipBlocks > 0) {
    state->skipBlocks--;
    return nullptr;
  }
  return &state->watch;
}

// Append a block's bytes to the block file; the first failure stays in file->error.
void write_to_file(block_file_t *file, const void *data, size_t size) {
  const auto *bytes = static_cast<const char *>(data);
  while (size > 0 && !file->error) {
    ssize_t written = pwrite(file->fd, bytes, size, file->size);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0) {
      file->error = written < 0 ? errno : ENOSPC;
      return;
    }
    bytes += written;
    size -= static_cast<size_t>(written);
    file->size += written;
  }
}

// Read a kept block back whole.
bool read_kept_block(const block_file_t *file, const kept_block_t &kept, std::string *block) {
  try {
    block->resize(kept.length);
  } catch (const std::bad_alloc &) {
    errno = ENOMEM;
    return false;
  }
  for (size_t done = 0; done < kept.length;) {
    ssize_t got = pread(file->fd, block->data() + done, kept.length - done,
                        kept.offset + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0) {
      if (got == 0)
        errno = EIO;
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

// Make the job's block file in the spool directory, named after the job and unlinked at
// once so that it goes with the job whatever happens; -1 when it cannot be made.
int open_block_file(pappl_job_t *job) {
  // Mode "x" gives the name of the job's file with this extension, removing any such file;
  // the name stays empty when the spool directory cannot be reached.
  char name[1024] = "";
  papplJobOpenFile(job, name, sizeof name, nullptr, "copies", "x");
  if (!name[0])
    return -1;
  int fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0)
    unlink(name);
  return fd;
}

} // namespace

namespace {

// Where a job stopped now would pick up after the next start: the blocks that came out.
// False when that cannot be told: a printer that cannot answer, or one gone with a block
// of several labels of which some may have come out; *later when the printer may still
// report the block in doubt out, so that the point is known once it has.
bool find_resume_point(const label_job_t *state, int *blocks, bool *later) {
  const printer_watch_t &watch = state->watch;
  *later = false;
  if (!state->sentLabels) {
    *blocks = state->resumedFrom;
    return true;
  }
  if (!watch.asking || !watch.failure.empty())
    return false;
  int doubtful = watch.unconfirmedLabels > 0 ? 1 : 0;
  bool away = watch.gone;
  if (doubtful && (!away || watch.unconfirmedLabels > 1)) {
    *later = !away;
    return false;
  }
  // A lost block of one label is sent again after the restart, as it would be when the
  // printer came back.
  *blocks = state->resumedFrom + state->blocksPrinted - doubtful;
  return true;
}

} // namespace

bool job_is_stopping(pappl_job_t *job) {
  if (papplJobIsCanceled(job))
    return true;
  if (!stop_requested() && !papplSystemIsShutdown(papplPrinterGetSystem(papplJobGetPrinter(job))))
    return false;
  // A spooled job prints the rest of its blocks after the next start: it waits here until
  // the stop has put it back in the queue and ended the server. A streamed job has no
  // document to print again; one whose labels in doubt cannot be told ends here.
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  int blocks = 0;
  bool later = false;
  if (!papplJobGetFilename(job))
    return true;
  if (state && !find_resume_point(state, &blocks, &later))
    return !later;
  pappl_printer_t *printer = papplJobGetPrinter(job);
  note_resume_point(papplPrinterGetID(printer), papplJobGetID(job), blocks);
  if (blocks > 0)
    papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                "Stopped after its first %d blocks came out: it prints the rest after the next "
                "start.",
                blocks);
  {
    std::lock_guard<std::mutex> lock(g_parkedLock);
    g_parked.insert(job);
  }
  for (;;)
    pause();
}

bool job_is_parked(pappl_job_t *job) {
  std::lock_guard<std::mutex> lock(g_parkedLock);
  return g_parked.count(job) > 0;
}

namespace {

// Write a block's bytes to the printer's device and to the copy.
void write_to_device(void *context, const void *data, size_t size) {
  auto *capture = static_cast<label_capture_t *>(context);
  if (auto *state = static_cast<label_job_t *>(papplJobGetData(capture->job));
      state && capture->watch)
    state->sentLabels = true;
  if (capture->watch)
    send_block_bytes(capture->watch, capture->job, capture->device, data, size);
  if (capture->file)
    write_to_file(capture->file, data, size);
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

// Put a failure in the job's state and the log.
void report_job_error(pappl_job_t *job, const char *message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  papplJobSetMessage(job, "%s", message);
}

// Whether the printer was given up on: the job ends with the reason, already in its state.
bool printer_given_up(const label_job_t *state) {
  return !state->watch.failure.empty();
}

// End a block sent: its PRINT line unless the job is stopping, then the count of its
// labels and its copy for the "Last Label" page.
void end_block(pappl_job_t *job, label_job_t *state, pappl_device_t *device,
               label_capture_t *capture, const label_image_t &image, unsigned page) {
  label_sink_t sink = {capture, write_to_device};
  capture->file = nullptr;
  // A block already begun is completed through its image, but the label is not printed.
  bool printed = !job_is_stopping(job);
  if (printed)
    write_label_print(&sink, &image);
  papplDeviceFlush(device);
  if (printed && capture->watch) {
    note_block_sent(&state->watch, capture->kept ? capture->block : std::string(), image.copies,
                    page, state->doc.pageHeight, state->doc.speed);
    state->blocksPrinted++;
  }
  keep_last_label(papplJobGetPrinter(job), job, page,
                  capture->kept ? std::move(capture->block) : std::string());
}

// Print the held first page of a collated job the given number of times.
void print_held_page(pappl_job_t *job, label_job_t *state, pappl_device_t *device, int copies) {
  state->holding = false;
  label_image_t image = state->file.blocks.front().image;
  image.copies = copies;
  end_block(job, state, device, &state->held, image, state->file.blocks.front().page);
}

// Send a collated job's pages again, in order, for each further copy; false when a
// kept block cannot be read back.
bool send_further_copies(pappl_job_t *job, label_job_t *state, pappl_device_t *device) {
  for (int copy = 2; copy <= state->collatedCopies; copy++) {
    for (const kept_block_t &kept : state->file.blocks) {
      if (!wait_for_printer(&state->watch, job, device, job_is_stopping))
        return true;
      label_capture_t capture = {job, device, next_block_watch(state), {}, true, nullptr};
      if (!read_kept_block(&state->file, kept, &capture.block)) {
        char message[256];
        snprintf(message, sizeof message, "The copies cannot be collated: %s.", strerror(errno));
        report_job_error(job, message);
        return false;
      }
      if (capture.watch)
        send_block_bytes(capture.watch, job, device, capture.block.data(), capture.block.size());
      label_image_t image = kept.image;
      image.copies = 1;
      end_block(job, state, device, &capture, image, kept.page);
      if (printer_given_up(state))
        return false;
    }
  }
  return true;
}

// Check the page header and make room for the page.
bool begin_page(pappl_job_t *job, label_job_t *state, const pappl_pr_options_t *options,
                pappl_device_t *device) {
  const cups_page_header2_t *header = &options->header;
  char message[256];
  // A second page: the first is printed once per copy, as are all the others.
  if (state->holding)
    print_held_page(job, state, device, 1);
  if (printer_given_up(state))
    return false;
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
    // is not sent; one behind a printer given up on ends the job.
    sent = !printer_given_up(state);
  } else if (!label_page_is_complete(&state->page)) {
    snprintf(message, sizeof message, "The page ended after %u of its %u lines.",
             state->page.linesReceived, state->page.image.rows);
    report_job_error(job, message);
    sent = false;
  } else {
    block_file_t *file = state->collatedCopies > 1 ? &state->file : nullptr;
    label_capture_t capture = {job, device, next_block_watch(state), {}, true, file};
    off_t start = state->file.size;
    start_capture(&capture, state->page.image);
    size_printer_buffer(device, capture.block.capacity());
    label_sink_t sink = {&capture, write_to_device};
    send_label_image(&sink, &state->doc, &state->page.image, state->page.bitPage);
    if (file) {
      try {
        if (!file->error)
          file->blocks.push_back(
              {start, static_cast<size_t>(file->size - start), state->page.image, page});
      } catch (const std::bad_alloc &) {
        file->error = ENOMEM;
      }
    }
    if (printer_given_up(state)) {
      sent = false;
    } else if (file && file->error) {
      // The pages printed so far cannot be sent again: the job ends here, this one unprinted.
      snprintf(message, sizeof message, "The copies cannot be collated: %s.",
               strerror(file->error));
      report_job_error(job, message);
      papplDeviceFlush(device);
      sent = false;
    } else if (file && file->blocks.size() == 1) {
      papplDeviceFlush(device);
      state->held = std::move(capture);
      state->holding = true;
    } else {
      end_block(job, state, device, &capture, state->page.image, page);
    }
  }
  free_label_page(&state->page);
  return sent;
}

// Whether the job asks for its copies collated, as PAPPL advertises by default.
bool wants_collated_copies(pappl_job_t *job) {
  const char *handling =
      ippGetString(papplJobGetAttribute(job, "multiple-document-handling"), 0, nullptr);
  return !handling || strcmp(handling, "separate-documents-uncollated-copies") != 0;
}

// Work out the job's settings and how its copies are made. PWG and Apple raster arrive
// once with the copy count: the printer makes the copies of each page (PRINT 1,N), unless
// they are collated, when the pages are sent again in order for each copy (a job of one
// page is still printed N times by the printer). PDF is rendered once and its copies made
// the same way; PAPPL repeats the pages of PNG and JPEG.
label_job_t *begin_job(pappl_job_t *job, const pappl_pr_options_t *options) {
  watch_for_stop();
  auto *state = new label_job_t{};
  pappl_printer_t *printer = papplJobGetPrinter(job);
  char conversion[64];
  const char *requested = cupsGetOption(kConversionAttribute, options->num_vendor, options->vendor);
  if (!requested) {
    copy_conversion_default(printer, conversion, sizeof conversion);
    requested = conversion;
  }
  const label_model_t *model = printer_model(printer);
  set_label_doc_from_job(&state->doc, options, requested, model->resolution);
  set_label_finishing(&state->doc, printer, options);
  state->head = model_head(model);
  state->skipBlocks = state->resumedFrom = resume_point(papplPrinterGetID(printer), papplJobGetID(job));
  if (state->skipBlocks > 0)
    papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                "Resumed: its first %d blocks came out before the application stopped.",
                state->skipBlocks);
  const char *format = papplJobGetFormat(job);
  bool ownCopies = is_raster_format(format) || (format && !strcmp(format, "application/pdf"));
  state->copies = ownCopies && options->copies > 1 ? options->copies : 1;
  state->collatedCopies = 1;
  if (state->copies > 1 && wants_collated_copies(job)) {
    if ((state->file.fd = open_block_file(job)) >= 0) {
      state->collatedCopies = state->copies;
      state->copies = 1;
    } else {
      papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                  "The copies are not collated: no file for the pages can be made (%s).",
                  strerror(errno));
    }
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO,
              "Label %dx%d mm, density %d, speed %d, tracking %d, position %d,%d, mode %d, "
              "%d copies per page, %d collated",
              state->doc.pageWidth, state->doc.pageHeight, state->doc.darkness, state->doc.speed,
              state->doc.mediaTracking, state->doc.horizontal, state->doc.vertical, state->doc.mode,
              state->copies, state->collatedCopies);
  return state;
}

} // namespace

bool start_label_job(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
  label_job_t *state = begin_job(job, options);
  start_printer_watch(&state->watch, job, device);
  papplJobSetData(job, state);
  return true;
}

bool start_label_job_page(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device,
                          unsigned) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  return state && begin_page(job, state, options, device);
}

bool write_label_line(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned y,
                      const unsigned char *line) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  if (state)
    add_label_line(&state->page, y, line);
  return true;
}

bool end_label_job_page(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device,
                        unsigned page) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  return state && finish_page(job, state, device, page);
}

bool end_label_job(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  if (const char *reason = refused_page_reason(job))
    report_job_error(job, reason);
  if (!state)
    return true;
  // PAPPL marks the job aborted before this when one of its pages failed: the pages
  // before it have printed once, and no copy more is made.
  bool whole = papplJobGetState(job) != IPP_JSTATE_ABORTED && !job_is_stopping(job);
  bool copied = true;
  if (state->holding)
    print_held_page(job, state, device, whole ? state->collatedCopies : 1);
  else if (whole && state->file.blocks.size() > 1)
    copied = send_further_copies(job, state, device);
  if (!printer_given_up(state) && !wait_for_labels_out(&state->watch, job, device, job_is_stopping))
    copied = false;
  if (state->file.fd >= 0)
    close(state->file.fd);
  free_label_page(&state->page);
  forget_resume_point(papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job));
  delete state;
  papplJobSetData(job, nullptr);
  return copied;
}

bool job_sent_labels(pappl_job_t *job) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  return state && state->sentLabels;
}
