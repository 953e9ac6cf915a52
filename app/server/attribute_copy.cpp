// SPDX-License-Identifier: Apache-2.0
#include "app/server/attribute_copy.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

struct copy_context_t {
  bool filtered; // the top level of a copy, where the response filter applies
  cups_array_t *requested;
  ipp_tag_t group;
  int quickcopy;
};

// Write all of an IPP message's bytes to the descriptor; -1 on an error.
ssize_t write_to_fd(void *fd, ipp_uchar_t *buffer, size_t bytes) {
  size_t done = 0;
  while (done < bytes) {
    ssize_t written = write(*static_cast<int *>(fd), buffer + done, bytes - done);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return -1;
    done += static_cast<size_t>(written);
  }
  return static_cast<ssize_t>(bytes);
}

bool is_wanted(const copy_context_t *copy, ipp_attribute_t *attr) {
  ipp_tag_t group = ippGetGroupTag(attr);
  const char *name = ippGetName(attr);
  if ((copy->group != IPP_TAG_ZERO && group != copy->group && group != IPP_TAG_ZERO) || !name)
    return false;
  // The database is long, and sent only to a client that names it.
  if (!strcmp(name, "media-col-database") &&
      !cupsArrayFind(copy->requested, const_cast<char *>(name)))
    return false;
  return !copy->requested || cupsArrayFind(copy->requested, const_cast<char *>(name));
}

int copy_one(void *context, ipp_t *to, ipp_attribute_t *attr);

// Add a copy of each of the collections of attr to to, under its name and group.
void add_collection_copies(ipp_t *to, ipp_attribute_t *attr, int quickcopy) {
  copy_context_t members = {false, nullptr, IPP_TAG_ZERO, quickcopy};
  ipp_attribute_t *added = nullptr;
  for (int i = 0; i < ippGetCount(attr); i++) {
    ipp_t *copy = ippNew();
    // ippCopyAttributes follows the attributes' own links and leaves the collection's
    // cursor alone, so a thread writing the original meanwhile does not disturb it.
    ippCopyAttributes(copy, ippGetCollection(attr, i), quickcopy, copy_one, &members);
    if (!added)
      added = ippAddCollection(to, ippGetGroupTag(attr), ippGetName(attr), copy);
    else
      ippSetCollection(to, &added, i, copy);
    ippDelete(copy);
  }
}

int copy_one(void *context, ipp_t *to, ipp_attribute_t *attr) {
  const auto *copy = static_cast<const copy_context_t *>(context);
  if (copy->filtered && !is_wanted(copy, attr))
    return 0;
  if (ippGetValueTag(attr) != IPP_TAG_BEGIN_COLLECTION)
    return 1;
  add_collection_copies(to, attr, copy->quickcopy);
  return 0;
}

} // namespace

void copy_attributes_owned(ipp_t *to, ipp_t *from, cups_array_t *requested, ipp_tag_t group,
                           int quickcopy) {
  copy_context_t copy = {true, requested, group, quickcopy};
  ippCopyAttributes(to, from, quickcopy, copy_one, &copy);
}

ipp_state_t write_attributes_file(int fd, ipp_t *ipp) {
  if (!ipp)
    return IPP_STATE_ERROR;
  ipp_t *copy = ippNew();
  int minor = 0, major = ippGetVersion(ipp, &minor);
  ippSetVersion(copy, major, minor);
  ippSetRequestId(copy, ippGetRequestId(ipp));
  // The operation and the status code share the header's field.
  ippSetOperation(copy, ippGetOperation(ipp));
  copy_context_t whole = {false, nullptr, IPP_TAG_ZERO, 0};
  ippCopyAttributes(copy, ipp, 0, copy_one, &whole);
  ipp_state_t state = ippWriteIO(&fd, write_to_fd, 1, nullptr, copy);
  ippDelete(copy);
  return state;
}
