// SPDX-License-Identifier: Apache-2.0
// A PWG or Apple raster document that waited in the spool, read back page by page and
// line by line into the raster callbacks as PAPPL streams one from its client, so that
// the printer gets the same bytes either way and no job is held whole in memory.
#pragma once

#include <pappl/pappl.h>

#include "app/document/document_filters.h"

// PAPPL's document filter for a spooled raster document: print the job's file through the
// raster callbacks in data, a document_printing_t.
bool print_raster_file(pappl_job_t *job, pappl_device_t *device, void *data);

// Print the raster pages read from fd, which stays open, through the raster callbacks.
bool print_raster_fd(pappl_job_t *job, pappl_device_t *device, int fd,
                     const document_printing_t &printing);
