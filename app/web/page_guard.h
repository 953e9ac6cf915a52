// SPDX-License-Identifier: Apache-2.0
// The web interface as a browser elsewhere meets it: forms that only the signed-in
// session's own pages can send. PAPPL itself serves the status pages only over TLS from
// the network, and shows job names to administrators only.
#pragma once

#include <pappl/pappl.h>

// Have PAPPL make and check every form's token here; before the system runs.
void guard_web_forms(pappl_system_t *system);

// The data a printer's pages are added with, and the printer it names when a page is
// asked for: null for a printer deleted since.
void *printer_page_data(pappl_printer_t *printer);
pappl_printer_t *page_printer(pappl_client_t *client, void *pageData);

// The token every form carries: bound to the account signed in and the client's host
// (PAPPL's own is the same for every visitor from one address). False for a buffer
// shorter than 65 bytes.
bool make_form_token(pappl_client_t *client, char *buffer, size_t size);

// Whether a form carries the client's token and comes from one of our own pages.
bool is_valid_form(pappl_client_t *client, int num_form, cups_option_t *form);

// Whether the browser says that a form comes from one of our own pages: its Origin, or
// without one its Referer, is this server as the request addressed it (host, over TLS
// or not). Either may be null.
bool is_own_origin(bool encrypted, const char *host, const char *origin, const char *referer);
