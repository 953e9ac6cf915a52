// SPDX-License-Identifier: Apache-2.0
// Plain names for the printer's settings on the web pages.
#pragma once

#include <pappl/pappl.h>

// Register the English strings for the vendor attribute and its choices.
void add_web_strings(pappl_system_t *system);
