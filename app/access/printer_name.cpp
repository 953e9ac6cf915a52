// SPDX-License-Identifier: Apache-2.0
#include "app/access/printer_name.h"

#include <cstring>

namespace {

bool is_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

} // namespace

bool is_printer_name(const char *name) {
  if (!name || !is_letter(name[0]) || strlen(name) > 127)
    return false;
  for (const char *c = name; *c; c++)
    if (!is_letter(*c) && !(*c >= '0' && *c <= '9') && *c != '-' && *c != '.')
      return false;
  return true;
}
