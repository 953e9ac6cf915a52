// SPDX-License-Identifier: Apache-2.0
// Copying IPP attributes into a response, or into a job, so that the copy owns its
// collections. libcups shares a collection between the two messages (ippCopyAttribute
// counts a use), and writing a message walks each collection with a cursor kept in the
// collection: two threads that write the same collection at once, as a response and the
// state file that holds the job do, each write part of it, and the client, told the whole
// length, waits for bytes that never come.
#pragma once

#include <cups/cups.h>

// Copy the attributes of from that PAPPL's response filter keeps (the group, or every
// group for IPP_TAG_ZERO; the names in requested, all when it is null; media-col-database
// only when named) into to, each collection as a copy of its own, its members too; other
// values as ippCopyAttribute copies them (quickcopy: strings by reference).
void copy_attributes_owned(ipp_t *to, ipp_t *from, cups_array_t *requested, ipp_tag_t group,
                           int quickcopy);

// Write a message to fd as ippWriteFile does, from a copy of it: writing moves a cursor kept
// in the message, which a thread that finds an attribute in it meanwhile moves too, and
// the file then skips or repeats attributes. The message itself is only read.
ipp_state_t write_attributes_file(int fd, ipp_t *ipp);
