// SPDX-License-Identifier: Apache-2.0
// The callbacks that describe the label models to PAPPL and set up their printers.
#pragma once

#include <pappl/pappl.h>
#include <string>

#include "app/document/document_filters.h"

// Describe the named model: media, settings, resolution and the raster callbacks.
bool describe_label_driver(pappl_system_t *system, const char *driver_name, const char *device_uri,
                           const char *device_id, pappl_pr_driver_data_t *data, ipp_t **attrs,
                           void *cbdata);

// Set up a new printer: its one supply, its labels, whose level the printer does not
// tell, and a job history that stays within its limit.
void set_up_label_printer(pappl_printer_t *printer, void *cbdata);

// Pick the model for a printer found on USB or the network by its IEEE 1284 device ID.
const char *pick_label_driver(const char *device_info, const char *device_uri,
                              const char *device_id, void *cbdata);

// What the document filters print through: the raster callbacks that describe_label_driver
// gives PAPPL, the job's stop, the time one PDF document may take to render and what the
// server's render folders are named for.
document_printing_t label_document_printing(int renderSeconds, const std::string &renderOwner);
