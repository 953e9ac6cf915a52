// SPDX-License-Identifier: Apache-2.0
#include "app/document/page_header.h"

#include <cstring>

#include "app/document/document_filters.h"

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

const char *refused_page_reason(pappl_job_t *job) {
  if (!is_raster_format(papplJobGetFormat(job)) || papplJobGetState(job) != IPP_JSTATE_ABORTED)
    return nullptr;
  // PAPPL marks these reasons, for a raster job, only where it refuses a page's header.
  pappl_jreason_t reasons = papplJobGetReasons(job);
  if (reasons & PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR)
    return kColourRaster;
  if (reasons & PAPPL_JREASON_DOCUMENT_FORMAT_ERROR)
    return kNotGrayRaster;
  return nullptr;
}
