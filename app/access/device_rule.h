// SPDX-License-Identifier: Apache-2.0
// Which devices a printer may print to: a file only inside the directory that the
// administrator allows for them (-o device-directory), since a file device writes
// whatever a job holds wherever the server can write.
#pragma once

#include <string>

// Whether a printer may use the device URI; why not in *reason when it may not.
bool is_device_allowed(const char *device_uri, const char *allowed_directory, std::string *reason);

// The same for the policy in force: every printer made (by an administrator's request
// or from the state file) and every device opened for a job is checked with it.
bool may_use_device(const char *device_uri, std::string *reason);
