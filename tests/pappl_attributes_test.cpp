// SPDX-License-Identifier: Apache-2.0
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

// PAPPL's copy of attributes into a response and its save of a job's attributes, as the
// project's patches make them (pappl/base-private.h): private to PAPPL, but in the
// static library the test links.
extern "C" {
void _papplCopyAttributes(ipp_t *to, ipp_t *from, cups_array_t *ra, ipp_tag_t group_tag,
                          int quickcopy);
ipp_state_t _papplWriteAttributesFile(int fd, ipp_t *ipp);
}

namespace {

// A collection of a media size, as a job's media-col holds.
ipp_t *media_col(int width, int height) {
  ipp_t *size = ippNew();
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", width);
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", height);
  ipp_t *col = ippNew();
  ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
  ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, "main-roll");
  ippDelete(size);
  return col;
}

// A job's and a printer's attributes in one message.
ipp_t *job_and_printer() {
  ipp_t *ipp = ippNew();
  ippAddString(ipp, IPP_TAG_JOB, IPP_TAG_NAME, "job-name", nullptr, "label");
  ipp_t *col = media_col(10160, 15240);
  ippAddCollection(ipp, IPP_TAG_JOB, "media-col", col);
  ippDelete(col);
  ippAddString(ipp, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr, "Label");
  ipp_attribute_t *database =
      ippAddCollections(ipp, IPP_TAG_PRINTER, "media-col-database", 2, nullptr);
  for (int i = 0; i < 2; i++) {
    col = media_col(5080 * (i + 1), 2540);
    ippSetCollection(ipp, &database, i, col);
    ippDelete(col);
  }
  return ipp;
}

int compare_names(void *a, void *b, void *) {
  return strcmp(static_cast<const char *>(a), static_cast<const char *>(b));
}

// A requested-attributes list of the names given; none, for all, when there are none.
cups_array_t *requested_names(const std::vector<const char *> &list) {
  if (list.empty())
    return nullptr;
  cups_array_t *names = cupsArrayNew(compare_names, nullptr);
  for (const char *name : list)
    cupsArrayAdd(names, const_cast<char *>(name));
  return names;
}

std::string names(ipp_t *ipp) {
  std::string text;
  for (ipp_attribute_t *attr = ippFirstAttribute(ipp); attr; attr = ippNextAttribute(ipp))
    text += std::string(text.empty() ? "" : " ") + ippGetName(attr);
  return text;
}

std::string value_text(ipp_attribute_t *attr) {
  char text[1024];
  ippAttributeString(attr, text, sizeof text);
  return text;
}

// The bytes of a message as ippWriteIO writes it.
ssize_t count_bytes(void *count, ipp_uchar_t *, size_t bytes) {
  *static_cast<size_t *>(count) += bytes;
  return static_cast<ssize_t>(bytes);
}

size_t written_length(ipp_t *ipp) {
  size_t count = 0;
  ippSetState(ipp, IPP_STATE_IDLE);
  ippWriteIO(&count, count_bytes, 1, nullptr, ipp);
  return count;
}

TEST(PapplAttributes, KeepsWhatTheResponseFilterKeeps) {
  struct {
    ipp_tag_t group;
    std::vector<const char *> requested; // empty: all
    const char *kept;
  } rows[] = {
      {IPP_TAG_JOB, {}, "job-name media-col"},
      {IPP_TAG_ZERO, {}, "job-name media-col printer-info"},
      {IPP_TAG_ZERO, {"printer-info", "media-col-database"}, "printer-info media-col-database"},
      {IPP_TAG_PRINTER, {"job-name", "printer-info"}, "printer-info"},
  };
  ipp_t *from = job_and_printer();
  for (const auto &row : rows) {
    cups_array_t *requested = requested_names(row.requested);
    ipp_t *to = ippNew();
    _papplCopyAttributes(to, from, requested, row.group, 0);
    EXPECT_EQ(names(to), row.kept) << "group " << ippTagString(row.group);
    ippDelete(to);
    cupsArrayDelete(requested);
  }
  ippDelete(from);
}

TEST(PapplAttributes, CopyOwnsEveryCollectionAndKeepsItsValues) {
  ipp_t *from = job_and_printer();
  cups_array_t *all =
      requested_names({"job-name", "media-col", "printer-info", "media-col-database"});
  ipp_t *to = ippNew();
  _papplCopyAttributes(to, from, all, IPP_TAG_ZERO, 0);
  for (const char *name : {"media-col", "media-col-database"}) {
    ipp_attribute_t *source = ippFindAttribute(from, name, IPP_TAG_BEGIN_COLLECTION);
    ipp_attribute_t *copy = ippFindAttribute(to, name, IPP_TAG_BEGIN_COLLECTION);
    ASSERT_NE(copy, nullptr) << name;
    EXPECT_EQ(value_text(copy), value_text(source)) << name;
    ASSERT_EQ(ippGetCount(copy), ippGetCount(source)) << name;
    for (int i = 0; i < ippGetCount(copy); i++) {
      EXPECT_NE(ippGetCollection(copy, i), ippGetCollection(source, i)) << name << " " << i;
      ipp_attribute_t *sourceSize =
          ippFindAttribute(ippGetCollection(source, i), "media-size", IPP_TAG_BEGIN_COLLECTION);
      ipp_attribute_t *copySize =
          ippFindAttribute(ippGetCollection(copy, i), "media-size", IPP_TAG_BEGIN_COLLECTION);
      ASSERT_NE(copySize, nullptr);
      EXPECT_NE(ippGetCollection(copySize, 0), ippGetCollection(sourceSize, 0)) << name;
    }
  }
  EXPECT_EQ(ippGetGroupTag(ippFindAttribute(to, "media-col", IPP_TAG_ZERO)), IPP_TAG_JOB);
  // The source outlives nothing of the copy: each is deleted on its own.
  ippDelete(from);
  EXPECT_EQ(value_text(ippFindAttribute(to, "media-col", IPP_TAG_ZERO)),
            "{media-size={x-dimension=10160 y-dimension=15240} media-source=main-roll}");
  ippDelete(to);
  cupsArrayDelete(all);
}

// What the server does: one thread writes the job's attributes to the state file while
// another copies them into a response and writes that. Every response must be as long as
// the length its header announced.
TEST(PapplAttributes, ResponseIsWholeWhileTheSourceIsWritten) {
  ipp_t *job = job_and_printer();
  std::atomic<bool> started{false}, done{false};
  std::thread saver([&] {
    while (!done) {
      written_length(job);
      started = true;
    }
  });
  while (!started)
    std::this_thread::yield();
  int short_responses = 0;
  for (int i = 0; i < 100000; i++) {
    ipp_t *response = ippNew();
    _papplCopyAttributes(response, job, nullptr, IPP_TAG_JOB, 0);
    if (written_length(response) != ippLength(response))
      short_responses++;
    ippDelete(response);
  }
  done = true;
  saver.join();
  EXPECT_EQ(short_responses, 0);
  ippDelete(job);
}

// The file of a job's attributes as the state save writes it, while the job's thread finds
// attributes in the same message: every write must be the message's bytes, whole.
TEST(PapplAttributes, SavedFileIsWholeWhileTheJobIsRead) {
  ipp_t *job = job_and_printer();
  for (int i = 0; i < 20; i++)
    ippAddInteger(job, IPP_TAG_JOB, IPP_TAG_INTEGER, ("x-" + std::to_string(i)).c_str(), i);
  FILE *file = tmpfile();
  ASSERT_NE(file, nullptr);
  int fd = fileno(file);
  auto saved = [&] {
    EXPECT_EQ(ftruncate(fd, 0), 0);
    lseek(fd, 0, SEEK_SET);
    _papplWriteAttributesFile(fd, job);
    std::string bytes(static_cast<size_t>(lseek(fd, 0, SEEK_CUR)), '\0');
    EXPECT_EQ(pread(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    return bytes;
  };
  const std::string whole = saved();
  EXPECT_EQ(whole.size(), ippLength(job));
  std::atomic<bool> started{false}, done{false};
  std::thread reader([&] {
    while (!done) {
      for (const char *name : {"x-3", "media-col", "x-17", "job-name"})
        ippFindAttribute(job, name, IPP_TAG_ZERO);
      started = true;
    }
  });
  while (!started)
    std::this_thread::yield();
  int broken = 0;
  for (int i = 0; i < 5000; i++)
    broken += saved() != whole;
  done = true;
  reader.join();
  EXPECT_EQ(broken, 0);
  fclose(file);
  ippDelete(job);
}

} // namespace
