// SPDX-License-Identifier: Apache-2.0
#include "app/job/print_settings.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "render/label_sizes.h"

const conversion_name_t g_conversion_names[kConversionCount] = {
    {"threshold", 0},        {"threshold-bold", 1}, {"dither-ordered", 2},
    {"dither-clustered", 3}, {"dither-fine", 4},
};

const label_mode_name_t g_label_mode_names[kLabelModeCount] = {
    {PAPPL_LABEL_MODE_TEAR_OFF, "tear-off", "Tear-off"},
    {PAPPL_LABEL_MODE_PEEL_OFF, "peel-off", "Peel-off"},
    {PAPPL_LABEL_MODE_CUTTER, "cutter", "Cutter (a cut after every label)"},
};

namespace {

// Sizes in hundredths of millimetres that differ by this much or less are the same
// size: inches converted by different clients round differently.
constexpr int kSizeToleranceHmm = 2;

// Round an offset in hundredths of millimetres to whole dots within the offsets the
// printer takes: PAPPL accepts any value, and one beyond the label leaves it blank.
int16_t offset_dots(int hmm, int resolution) {
  long dots = std::lround(hmm * static_cast<double>(resolution) / 2540.0);
  return static_cast<int16_t>(dots < 0 ? 0 : dots > kMaxOffsetDots ? kMaxOffsetDots : dots);
}

// The rule a conversion keyword names; the default rule for an unknown keyword.
int16_t conversion_mode(const char *keyword) {
  for (const conversion_name_t &name : g_conversion_names)
    if (keyword && !strcmp(keyword, name.keyword))
      return name.mode;
  return 0;
}

// Copy the text of a vendor attribute's printer default over value, when there is one.
void copy_vendor_default(pappl_printer_t *printer, const char *attribute, char *value,
                         size_t size) {
  ipp_t *attrs = papplPrinterGetDriverAttributes(printer);
  char name[64];
  snprintf(name, sizeof name, "%s-default", attribute);
  if (ipp_attribute_t *attr = ippFindAttribute(attrs, name, IPP_TAG_ZERO))
    ippAttributeString(attr, value, size);
  ippDelete(attrs);
}

// A tear-off position given as text, clamped to its reach; text that is no number gives 0.
int16_t tear_offset_from_text(const char *text) {
  char *end = nullptr;
  long hmm = strtol(text, &end, 10);
  if (end == text)
    return 0;
  return clamp_tear_offset(hmm < INT32_MIN   ? INT32_MIN
                           : hmm > INT32_MAX ? INT32_MAX
                                             : static_cast<int32_t>(hmm));
}

} // namespace

label_head_t model_head(const label_model_t *model) {
  return {static_cast<unsigned>(model->resolution), model->headWidthDots, model->maxRows};
}

void set_label_size(label_doc_t *doc, int widthHmm, int lengthHmm) {
  for (const label_media_t &media : g_label_media) {
    pwg_media_t *pwg = pwgMediaForPWG(media.pwgName);
    if (pwg && abs(pwg->width - widthHmm) <= kSizeToleranceHmm &&
        abs(pwg->length - lengthHmm) <= kSizeToleranceHmm) {
      set_named_page_size(doc, media.sizeName);
      return;
    }
  }
  // The filter reads a custom size's points as single-precision numbers.
  float widthPoints = static_cast<float>(widthHmm * 72.0 / 2540.0);
  float lengthPoints = static_cast<float>(lengthHmm * 72.0 / 2540.0);
  set_custom_size_mm(doc, custom_points_to_mm(widthPoints), custom_points_to_mm(lengthPoints));
}

void set_label_doc_from_job(label_doc_t *doc, const pappl_pr_options_t *options,
                            const char *conversion, int resolution) {
  set_label_size(doc, options->media.size_width, options->media.size_length);

  // printer-darkness-configured is the printer's darkness (0 to 100); a job's
  // print-darkness moves it up or down (-100 to 100).
  int darkness = options->darkness_configured + options->print_darkness;
  darkness = darkness < 0 ? 0 : darkness > 100 ? 100 : darkness;
  doc->darkness =
      store16(static_cast<int32_t>(std::lround(darkness * (kDarknessLevels - 1) / 100.0)));

  int speed = options->print_speed > 0 ? options->print_speed : kSpeedDefault;
  speed = speed < kSpeedMinimum ? kSpeedMinimum : speed > kSpeedMaximum ? kSpeedMaximum : speed;
  doc->speed = store16(static_cast<int32_t>(std::lround(speed / 2540.0)));

  if (options->media.tracking == PAPPL_MEDIA_TRACKING_CONTINUOUS)
    doc->mediaTracking = 0;
  else if (options->media.tracking == PAPPL_MEDIA_TRACKING_MARK)
    doc->mediaTracking = 2;
  else
    doc->mediaTracking = 1;

  doc->horizontal = offset_dots(options->media.left_offset, resolution);
  doc->vertical = offset_dots(options->media.top_offset, resolution);
  doc->mode = conversion_mode(conversion);
}

void copy_conversion_default(pappl_printer_t *printer, char *keyword, size_t size) {
  snprintf(keyword, size, "%s", kConversionDefault);
  copy_vendor_default(printer, kConversionAttribute, keyword, size);
}

int16_t tear_offset_default(pappl_printer_t *printer) {
  char text[32] = "0";
  copy_vendor_default(printer, kTearOffsetAttribute, text, sizeof text);
  return tear_offset_from_text(text);
}

// The table lists the modes in the order of the block's label modes.
int16_t label_mode_for(pappl_label_mode_t mode) {
  for (int16_t i = 0; i < kLabelModeCount; i++)
    if (g_label_mode_names[i].mode == mode)
      return i;
  return kLabelTearOff;
}

void set_label_finishing(label_doc_t *doc, pappl_printer_t *printer,
                         const pappl_pr_options_t *options) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  doc->labelMode = label_mode_for(data.mode_configured);
  const char *offset = cupsGetOption(kTearOffsetAttribute, options->num_vendor, options->vendor);
  doc->tearOffset = offset ? tear_offset_from_text(offset) : tear_offset_default(printer);
}
