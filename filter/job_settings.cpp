// SPDX-License-Identifier: Apache-2.0
#include "filter/job_settings.h"

#include "filter/job_options.h"
#include "filter/number_text.h"
#include "filter/ppd_defaults.h"

void set_pstops_options(label_doc_t *doc, char **argv, int num_options, cups_option_t *options) {
  doc->jobId = text_to_int(argv[1]);
  doc->user = argv[2];
  doc->title = argv[3];
  doc->copies = text_to_int(argv[4]);

  doc->pageWidth = 60;
  doc->pageHeight = 40;
  doc->speed = 4;
  doc->darkness = 7;
  doc->mediaTracking = 0;
  doc->mode = 5;

  set_pstops_with_ppd(doc);
  apply_job_options(doc, num_options, options);
}
