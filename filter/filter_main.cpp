// SPDX-License-Identifier: Apache-2.0
#include "filter/filter_main.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "filter/job_settings.h"
#include "log/diag_log.h"
#include "render/print_bitmap.h"

namespace {

const char kUsage[] = "ERROR: strobane job-id user title copies options [file]\n";
const char kNotRaster[] = "ERROR: Unable to read raster data\n";

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

  // CUPS marks a job completed only on status 0, so a job that could not print says so.
  int status = 0;
  cups_file_t *input = argc == 6 ? cupsFileStdin() : cupsFileOpen(argv[6], "r");
  if (!input) {
    if (argc == 7)
      fprintf(stderr, "ERROR: Unable to open raster file - %s\n", strerror(errno));
    else
      fputs(kNotRaster, stderr);
    status = 1;
  }

  cups_option_t *options = nullptr;
  int num_options = cupsParseOptions(argv[5], 0, &options);
  set_pstops_options(&doc, argv, num_options, options);
  cupsFreeOptions(num_options, options);

  if (input) {
    WriteLog("cups_file is not null");
    render_result_t result = print_bitmap(&doc, input);
    if (result == kRenderNotRaster)
      fputs(kNotRaster, stderr);
    if (result != kRenderDone)
      status = 1;
    cupsFileClose(input);
  }

  WriteLog("Exit main");
  CloseLog();
  return status;
}
