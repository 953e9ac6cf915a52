// SPDX-License-Identifier: Apache-2.0
// Fuzz the job option layer: any text as the options argument, parsed by libcups,
// and as the numeric arguments that the filter reads beside it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "filter/job_settings.h"

// Leave PPD unset so that only the built-in defaults lie under the options.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  unsetenv("PPD");
  return 0;
}

// Settle one job from the input as its argv would carry it: text up to the first NUL.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  char *argv[] = {const_cast<char *>("strobane"),
                  text.data(),
                  const_cast<char *>("user"),
                  const_cast<char *>("title"),
                  text.data(),
                  text.data(),
                  nullptr};

  label_doc_t doc = {};
  cups_option_t *options = nullptr;
  int count = cupsParseOptions(text.c_str(), 0, &options);
  set_pstops_options(&doc, argv, count, options);
  cupsFreeOptions(count, options);
  return 0;
}
