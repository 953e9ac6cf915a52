// SPDX-License-Identifier: Apache-2.0
#include "app/driver/page_header.h"

#include <cstring>

#include "app/driver/document_filters.h"

bool page_header_is_not_clients(pappl_job_t *job, const pappl_pr_options_t *options) {
  // PAPPL draws PNG and JPEG pages on its own header; for raster it copies the client's
  // header over its own only for pages of 8 bits or more, so a header equal to the one it
  // makes for the job was never replaced.
  if (!is_raster_format(papplJobGetFormat(job)))
    return false;
  pappl_pr_options_t *own =
      papplJobCreatePrintOptions(job, static_cast<unsigned>(papplJobGetImpressions(job)), false);
  if (!own)
    return false;
  bool same = !memcmp(&own->header, &options->header, sizeof own->header);
  papplJobDeletePrintOptions(own);
  return same;
}
