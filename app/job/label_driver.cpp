// SPDX-License-Identifier: Apache-2.0
#include "app/job/label_driver.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/document/document_filters.h"
#include "app/job/print_settings.h"
#include "app/job/raster_job.h"
#include "app/job/stop_signal.h"
#include "app/job/test_label.h"
#include "app/printer/label_models.h"
#include "app/printer/printer_identify.h"
#include "app/printer/printer_status.h"

namespace {

// Margins of a hundredth of a millimetre, less than a dot: with none, CUPS 2.4's driverless
// PPD names every size "NAME.Borderless" but its default plain "NAME", which then names
// no size, so a job without a size was rendered on Letter.
constexpr int kMarginHmm = 1;

// The driver's identify callback, which PAPPL asks every driver for; the system's, which
// answers the client, stands in for it.
void identify_printer(pappl_printer_t *printer, pappl_identify_actions_t actions,
                      const char *message) {
  char reason[256];
  identify_label_printer(printer, actions, message, reason, sizeof reason, nullptr);
}

// Fill one media entry with the named size, label stock on the roll, no margins.
void set_label_media(pappl_media_col_t *media, const char *pwgName) {
  memset(media, 0, sizeof *media);
  snprintf(media->size_name, sizeof media->size_name, "%s", pwgName);
  if (pwg_media_t *pwg = pwgMediaForPWG(pwgName)) {
    media->size_width = pwg->width;
    media->size_length = pwg->length;
  }
  media->bottom_margin = media->top_margin = kMarginHmm;
  media->left_margin = media->right_margin = kMarginHmm;
  snprintf(media->source, sizeof media->source, "main-roll");
  snprintf(media->type, sizeof media->type, "labels");
  media->tracking = PAPPL_MEDIA_TRACKING_GAP;
}

// Add the conversion rule's vendor attribute, its choices and its default.
void add_conversion_attributes(ipp_t *attrs) {
  const char *keywords[kConversionCount];
  for (int i = 0; i < kConversionCount; i++)
    keywords[i] = g_conversion_names[i].keyword;
  char name[64];
  snprintf(name, sizeof name, "%s-supported", kConversionAttribute);
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, name, kConversionCount, nullptr, keywords);
  snprintf(name, sizeof name, "%s-default", kConversionAttribute);
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, name, nullptr, kConversionDefault);
}

// Add the tear-off position's vendor attribute, its reach and its default.
void add_tear_offset_attributes(ipp_t *attrs) {
  char name[64];
  snprintf(name, sizeof name, "%s-supported", kTearOffsetAttribute);
  ippAddRange(attrs, IPP_TAG_PRINTER, name, -kTearOffsetLimit, kTearOffsetLimit);
  snprintf(name, sizeof name, "%s-default", kTearOffsetAttribute);
  ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, name, 0);
}

// Add what IPP Everywhere clients expect of every printer and PAPPL leaves to the driver:
// a label printer prints one side, without colour management, and takes no overrides
// beyond the ones named.
void add_everywhere_attributes(ipp_t *attrs) {
  static const char *const overrides[] = {"document-number", "pages"};
  ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr,
                overrides);
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
               "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr,
               "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr,
               "normal");
}

} // namespace

bool describe_label_driver(pappl_system_t *, const char *driver_name, const char *, const char *,
                           pappl_pr_driver_data_t *data, ipp_t **attrs, void *) {
  const label_model_t *model = find_label_model(driver_name);
  if (!model)
    return false;
  int resolution = model->resolution;

  data->rstartjob_cb = start_label_job;
  data->rstartpage_cb = start_label_job_page;
  data->rwriteline_cb = write_label_line;
  data->rendpage_cb = end_label_job_page;
  data->rendjob_cb = end_label_job;
  data->identify_cb = identify_printer;
  data->status_cb = update_printer_status;
  data->testpage_cb = make_label_test_page;
  // PAPPL compares every job's format with this one, and crashes on a job it cannot
  // convert when there is none.
  data->format = kLabelNativeFormat;

  snprintf(data->make_and_model, sizeof data->make_and_model, "%s", model->description);
  data->ppm = 40;
  data->kind = static_cast<pappl_kind_t>(PAPPL_KIND_LABEL | PAPPL_KIND_ROLL);
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->color_supported =
      static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_BI_LEVEL);
  data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  // Ask clients for 8-bit gray and force nothing: the line callback reads the forms
  // that PAPPL passes on as they arrive.
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = resolution;
  data->x_default = data->y_default = resolution;
  data->borderless = false;
  data->left_right = data->bottom_top = kMarginHmm;

  data->num_media = 0;
  for (const label_media_t &media : g_label_media)
    data->media[data->num_media++] = media.pwgName;
  data->media[data->num_media++] = kCustomMinimum;
  data->media[data->num_media++] = model->customMaximum;
  data->num_source = 1;
  data->source[0] = "main-roll";
  data->num_type = 1;
  data->type[0] = "labels";
  set_label_media(&data->media_ready[0], "na_index-4x6_4x6in");
  data->media_default = data->media_ready[0];
  data->tracking_supported = static_cast<pappl_media_tracking_t>(
      PAPPL_MEDIA_TRACKING_CONTINUOUS | PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_MARK);
  int maxOffset = static_cast<int>(std::lround(kMaxOffsetDots * 2540.0 / resolution));
  data->left_offset_supported[0] = data->top_offset_supported[0] = 0;
  data->left_offset_supported[1] = data->top_offset_supported[1] = maxOffset;

  data->speed_supported[0] = kSpeedMinimum;
  data->speed_supported[1] = kSpeedMaximum;
  data->speed_default = kSpeedDefault;
  data->darkness_supported = kDarknessSteps;
  data->darkness_configured = kDarknessConfiguredDefault;
  data->darkness_default = 0;
  data->identify_supported = static_cast<pappl_identify_actions_t>(PAPPL_IDENTIFY_ACTIONS_DISPLAY |
                                                                   PAPPL_IDENTIFY_ACTIONS_SOUND);
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->mode_supported = kLabelModesSupported;
  data->mode_configured = kLabelModeDefault;

  data->num_vendor = 2;
  data->vendor[0] = kConversionAttribute;
  data->vendor[1] = kTearOffsetAttribute;
  *attrs = ippNew();
  add_conversion_attributes(*attrs);
  add_tear_offset_attributes(*attrs);
  add_everywhere_attributes(*attrs);
  data->has_supplies = true;
  return true;
}

void set_up_label_printer(pappl_printer_t *printer, void *) {
  pappl_supply_t labels = {};
  labels.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
  snprintf(labels.description, sizeof labels.description, "Labels");
  labels.is_consumed = true;
  labels.level = -1;
  labels.type = PAPPL_SUPPLY_TYPE_OTHER;
  papplPrinterSetSupplies(printer, 1, &labels);
  // PAPPL 1.3.1 trims its history of completed jobs only past its preserved ones: with
  // none preserved it trims nothing, and a printer that runs for months grows by
  // about a kilobyte per job. One preserved job lets the history keep its limit.
  papplPrinterSetMaxPreservedJobs(printer, 1);
}

const char *pick_label_driver(const char *, const char *, const char *device_id, void *) {
  const label_model_t *model = match_label_model(device_id);
  return model ? model->driverName : nullptr;
}

document_printing_t label_document_printing(int renderSeconds, const std::string &renderOwner) {
  return {.startJob = start_label_job,
          .startPage = start_label_job_page,
          .writeLine = write_label_line,
          .endPage = end_label_job_page,
          .endJob = end_label_job,
          .jobIsStopping = job_is_stopping,
          .stopRequested = stop_requested,
          .renderSeconds = renderSeconds,
          .renderOwner = renderOwner};
}
