// SPDX-License-Identifier: Apache-2.0
// Files replaced whole or not at all, so that a crash, a stop or a full disk leaves the
// old file or the new one, never part of either.
#pragma once

#include <functional>
#include <string>

// Replace path by what write puts in the file it is given (path + ".new"): the new file
// is written, checked, synced and renamed over the old one. False, with the old file
// left as it was and the new one removed, when any step fails; *error says which, and
// errno is the failing step's.
bool replace_file(const std::string &path, const std::function<bool(const char *newPath)> &write,
                  std::string *error);

// Replace path by a file holding text.
bool replace_file_with_text(const std::string &path, const std::string &text, std::string *error);
