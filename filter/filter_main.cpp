// SPDX-License-Identifier: Apache-2.0
#include "filter/filter_main.h"

#include <cstdio>
#include <cstring>

#include "filter/job_settings.h"
#include "log/diag_log.h"
#include "render/print_bitmap.h"

namespace {

const char kUsage[] = "ERROR: strobane job-id user title copies options [file]\n";

} // namespace

int run_filter(int argc, char *argv[]) {
  label_doc_t doc;
  memset(&doc, 0, sizeof doc);

  InitLog();
  WriteLog("Enter main");
  for (int i = 0; i < argc; i++)
    WriteLog("argv[%d]:%s", i, argv[i]);
  WriteLog("Begin main");

  if (argc != 6 && argc != 7) {
    WriteLog("Input param is not enough");
    fwrite(kUsage, 1, sizeof kUsage - 1, stderr);
    return 1;
  }

  cups_file_t *input = argc == 6 ? cupsFileStdin() : cupsFileOpen(argv[6], "r");

  cups_option_t *options = nullptr;
  int num_options = cupsParseOptions(argv[5], 0, &options);
  set_pstops_options(&doc, argv, num_options, options);
  cupsFreeOptions(num_options, options);

  if (input) {
    WriteLog("cups_file is not null");
    print_bitmap(&doc, input);
    cupsFileClose(input);
  }

  WriteLog("Exit main");
  CloseLog();
  return 0;
}
