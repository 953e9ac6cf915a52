// SPDX-License-Identifier: Apache-2.0
// What PAPPL 1.3.1 tells the raster callbacks about a client's page.
#pragma once

#include <pappl/pappl.h>

// True when a raster page's header is PAPPL's own rather than the client's: PAPPL passes a
// page of fewer than 8 bits per pixel on with the header it made for the job, so its
// packed lines would be read as gray pixels of another size.
bool page_header_is_not_clients(pappl_job_t *job, const pappl_pr_options_t *options);

// Why a raster page is refused at its header: its lines are not 8-bit gray, or it is in
// colour.
inline constexpr char kNotGrayRaster[] =
    "Unsupported raster: the page's header does not describe 8-bit gray lines (a 1-bit "
    "Apple raster page, say); the printer takes 8-bit gray.";
inline constexpr char kColourRaster[] =
    "Unsupported raster: a colour page; the printer takes 8-bit gray.";

// Why PAPPL ended a raster job at a page header that it refused before the page reached
// the callbacks, or nullptr: it logs its reason and marks the document's error, but
// leaves the job's message empty.
const char *refused_page_reason(pappl_job_t *job);
