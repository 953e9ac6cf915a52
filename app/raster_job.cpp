#include "app/raster_job.h"

#include <cstring>

#include "app/print_settings.h"

namespace {

// What one job keeps between callbacks.
struct label_job_t {
  label_doc_t doc;
  label_head_t head;
  int copies;
  label_page_t page;
};

// Write a block's bytes to the printer's device.
void write_to_device(void *context, const void *data, size_t size) {
  papplDeviceWrite(static_cast<pappl_device_t *>(context), data, size);
}

// The printer's default conversion keyword, as the web page or an IPP client set it.
void copy_conversion_default(pappl_printer_t *printer, char *keyword, size_t size) {
  snprintf(keyword, size, "%s", kConversionDefault);
  ipp_t *attrs = papplPrinterGetDriverAttributes(printer);
  char name[64];
  snprintf(name, sizeof name, "%s-default", kConversionAttribute);
  if (ipp_attribute_t *attr = ippFindAttribute(attrs, name, IPP_TAG_ZERO))
    if (const char *value = ippGetString(attr, 0, nullptr))
      snprintf(keyword, size, "%s", value);
  ippDelete(attrs);
}

// PWG and Apple raster arrive once with the copy count, so the printer makes the
// copies from one image; PAPPL repeats the pages of other formats itself.
int copies_per_page(pappl_job_t *job, const pappl_pr_options_t *options) {
  const char *format = papplJobGetFormat(job);
  bool raster = format && (!strcmp(format, "image/pwg-raster") || !strcmp(format, "image/urf"));
  return raster && options->copies > 1 ? options->copies : 1;
}

} // namespace

bool start_label_job(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *) {
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
  state->head = head_for_resolution(data.x_default);
  state->copies = copies_per_page(job, options);
  papplJobSetData(job, state);
  papplLogJob(job, PAPPL_LOGLEVEL_INFO,
              "Label %dx%d mm, density %d, speed %d, tracking %d, position %d,%d, mode %d, "
              "%d copies per page",
              state->doc.pageWidth, state->doc.pageHeight, state->doc.darkness, state->doc.speed,
              state->doc.mediaTracking, state->doc.horizontal, state->doc.vertical,
              state->doc.mode, state->copies);
  return true;
}

bool start_label_job_page(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *,
                          unsigned) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  char message[256];
  if (!state || !start_label_page(&state->page, &options->header, &state->head, state->copies,
                                  message, sizeof message)) {
    if (!state)
      snprintf(message, sizeof message, "The job was not started.");
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
    papplJobSetMessage(job, "%s", message);
    return false;
  }
  return true;
}

bool write_label_line(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned y,
                      const unsigned char *line) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  if (state)
    add_label_line(&state->page, y, line);
  return true;
}

bool end_label_job_page(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device,
                        unsigned) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  if (!state || !state->page.grayPage)
    return false;

  // A page still being gathered when the job was cancelled is not sent.
  bool sent = true;
  if (!papplJobIsCanceled(job)) {
    label_sink_t sink = {device, write_to_device};
    sent = send_label_image(&sink, &state->doc, &state->page.image, state->page.grayPage);
    // A block already begun is completed through its image, but the label is not printed.
    if (sent && !papplJobIsCanceled(job))
      write_label_print(&sink, &state->page.image);
    papplDeviceFlush(device);
    if (!sent) {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to allocate memory for the label image.");
      papplJobSetMessage(job, "Unable to allocate memory for the label image.");
    }
  }
  free_label_page(&state->page);
  return sent;
}

bool end_label_job(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *) {
  auto *state = static_cast<label_job_t *>(papplJobGetData(job));
  if (state) {
    free_label_page(&state->page);
    delete state;
    papplJobSetData(job, nullptr);
  }
  return true;
}
