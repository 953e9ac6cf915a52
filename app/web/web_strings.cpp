// SPDX-License-Identifier: Apache-2.0
#include "app/web/web_strings.h"

#include <cstdio>

namespace {

// PAPPL looks up "NAME" and "NAME.VALUE" for each setting it shows.
const char kEnglishStrings[] =
    "\"print-conversion\" = \"Black and white conversion\";\n"
    "\"print-conversion.threshold\" = \"Sharp: threshold at mid gray (barcodes, text)\";\n"
    "\"print-conversion.threshold-bold\" = \"Bold: light grays print black (thin text)\";\n"
    "\"print-conversion.dither-ordered\" = \"Dithered: fine pattern (photos, fills)\";\n"
    "\"print-conversion.dither-clustered\" = \"Dithered: clustered dots\";\n"
    "\"print-conversion.dither-fine\" = \"Dithered: finest pattern\";\n"
    "\"label-tear-offset\" = \"Tear-off position (hundredths of mm)\";\n";

// The languages PAPPL's web pages come in; a browser asking for en-GB or fr-CA gets
// en or fr. Each gets the English names, which read better than the raw keywords.
const char *const kWebLanguages[] = {"en", "de", "es", "fr", "it", "ja"};

} // namespace

void add_web_strings(pappl_system_t *system) {
  // Adding strings merges them into the language's web localization at once, which
  // keeps them. While a strings resource stays registered, PAPPL 1.3.1 appends one more
  // printer-strings-languages-supported to the printer's attributes at every
  // Get-Printer-Attributes that asks for it, and IPP clients then see the attribute
  // many times over; so each resource is removed as soon as it has been merged.
  for (const char *language : kWebLanguages) {
    char path[64];
    snprintf(path, sizeof path, "/strobane-%s.strings", language);
    papplSystemAddStringsData(system, path, language, kEnglishStrings);
    papplSystemFindLoc(system, language);
    papplSystemRemoveResource(system, path);
  }
}
