// SPDX-License-Identifier: Apache-2.0
// A printer application job's IPP settings turned into the label settings record,
// with the same meaning as the PPD's options have for the filter.
#pragma once

#include <pappl/pappl.h>

#include "app/job/label_page.h"
#include "app/printer/label_models.h"
#include "render/label_doc.h"

// A conversion rule as clients see it: the vendor keyword and the rule's number.
struct conversion_name_t {
  const char *keyword;
  int16_t mode;
};

inline constexpr int kConversionCount = 5;
extern const conversion_name_t g_conversion_names[kConversionCount];

// The vendor attribute that picks the conversion rule, and its default keyword.
inline constexpr char kConversionAttribute[] = "print-conversion";
inline constexpr char kConversionDefault[] = "threshold";

// The vendor attribute of the tear-off position in hundredths of a millimetre, which a
// job may carry and the printer keeps a default of.
inline constexpr char kTearOffsetAttribute[] = "label-tear-offset";

// The label modes the printer offers, and the one it starts with.
inline constexpr pappl_label_mode_t kLabelModesSupported =
    PAPPL_LABEL_MODE_TEAR_OFF | PAPPL_LABEL_MODE_PEEL_OFF | PAPPL_LABEL_MODE_CUTTER;
inline constexpr pappl_label_mode_t kLabelModeDefault = PAPPL_LABEL_MODE_TEAR_OFF;

// A label mode as IPP and people name it.
struct label_mode_name_t {
  pappl_label_mode_t mode;
  const char *keyword;
  const char *text;
};

inline constexpr int kLabelModeCount = 3;
extern const label_mode_name_t g_label_mode_names[kLabelModeCount];

// Darkness and speed as the printer offers them: 16 levels, 2 to 6 in/s.
inline constexpr int kDarknessLevels = 16;
// The darkness steps offered to clients: every percentage, since PAPPL's defaults page
// selects only a configured value that equals one of its steps and shows 0% otherwise,
// which an unchanged form would then save.
inline constexpr int kDarknessSteps = 101;
inline constexpr int kDarknessConfiguredDefault = 53;
inline constexpr int kSpeedMinimum = 5080;
inline constexpr int kSpeedMaximum = 15240;
inline constexpr int kSpeedDefault = 10160;

// The image offsets the printer takes, 0 to this many dots across and down.
inline constexpr int kMaxOffsetDots = 128;

// Copy the printer's default conversion keyword, as the web page or an IPP client set it.
void copy_conversion_default(pappl_printer_t *printer, char *keyword, size_t size);

// The printer's default tear-off position in hundredths of a millimetre, within its reach.
int16_t tear_offset_default(pappl_printer_t *printer);

// The block's label mode for the printer's label-mode-configured.
int16_t label_mode_for(pappl_label_mode_t mode);

// Set the label mode and tear-off position of a job: the mode is the printer's, the
// position the job's own or else the printer's default.
void set_label_finishing(label_doc_t *doc, pappl_printer_t *printer,
                         const pappl_pr_options_t *options);

// The print head of a model.
label_head_t model_head(const label_model_t *model);

// Set the label size from a media size in hundredths of millimetres: a named size
// gives its table entry, any other size what a custom size of that many points gives.
void set_label_size(label_doc_t *doc, int widthHmm, int lengthHmm);

// Fill doc from the job's options at the printer's resolution; conversion is the
// job's or the printer's keyword for the conversion rule (null for the default).
void set_label_doc_from_job(label_doc_t *doc, const pappl_pr_options_t *options,
                            const char *conversion, int resolution);
