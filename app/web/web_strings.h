// SPDX-License-Identifier: Apache-2.0
// Plain names for the printer's settings on the web pages.
#pragma once

#include <pappl/pappl.h>

// Give the vendor attribute and its choices plain names on the web pages, in every
// language the pages come in, without announcing strings files to IPP clients.
void add_web_strings(pappl_system_t *system);
