// SPDX-License-Identifier: Apache-2.0
// What the log says when a printer's device cannot be opened.
#pragma once

#include <string>

// PAPPL's message for a device that cannot be opened, with the reason the printer's
// address gave: CUPS reports a socket:// printer whose every address refused the
// connection or could not be routed to as "Host is down", having dropped each address's
// own error, so one connection is tried again to learn it.
std::string explain_device_error(const char *device_uri, const char *message);
