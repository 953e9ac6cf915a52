// SPDX-License-Identifier: Apache-2.0
// The web interface as a browser elsewhere meets it: forms that only the signed-in
// session's own pages can send, status pages only over TLS from the network, and no job
// names for visitors who have not signed in as administrators.
#pragma once

#include <pappl/pappl.h>

// Serve the system's status page through the guard; before the system runs.
void guard_status_page(pappl_system_t *system);

// Serve a printer's status page through the guard; when the printer is created.
void guard_printer_page(pappl_printer_t *printer);
