// SPDX-License-Identifier: Apache-2.0
// What a printer may be called: its name is a path of the web interface and of IPP, so a
// name such as "../x" would make a printer that no page or command can reach again.
#pragma once

// Whether name may name a printer: a letter or underscore, then letters, digits,
// underscores, hyphens and dots, at most 127 in all.
bool is_printer_name(const char *name);
