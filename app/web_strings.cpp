// SPDX-License-Identifier: Apache-2.0
#include "app/web_strings.h"

namespace {

// PAPPL looks up "NAME" and "NAME.VALUE" for each setting it shows.
const char kEnglishStrings[] =
    "\"print-conversion\" = \"Black and white conversion\";\n"
    "\"print-conversion.threshold\" = \"Sharp: threshold at mid gray (barcodes, text)\";\n"
    "\"print-conversion.threshold-bold\" = \"Bold: light grays print black (thin text)\";\n"
    "\"print-conversion.dither-ordered\" = \"Dithered: fine pattern (photos, fills)\";\n"
    "\"print-conversion.dither-clustered\" = \"Dithered: clustered dots\";\n"
    "\"print-conversion.dither-fine\" = \"Dithered: finest pattern\";\n";

} // namespace

void add_web_strings(pappl_system_t *system) {
  papplSystemAddStringsData(system, "/strobane-en-US.strings", "en-US", kEnglishStrings);
}
