// SPDX-License-Identifier: Apache-2.0
// Fuzz the printer application's page path as PAPPL drives it: the job's settings,
// then page headers and raster lines through start_label_page and add_label_line,
// each page's block written into memory, and the whole stream read back.
//
// Input, little-endian, read until it runs out (missing bytes read as 0):
//   job:  u8 head (bit 0: 300 dpi), u8 conversion (index of the keyword; past the
//         table an unknown one, 255 none), u8 media-tracking (modulo 5: none,
//         continuous, gap, mark, web), u16 copies (1 + modulo 999), u32 width,
//         u32 length (hundredths of mm, kept below 2^31 as IPP does), i32 left offset,
//         i32 top offset, i32 print-speed, u8 printer darkness (modulo 101),
//         u8 job darkness (modulo 201, minus 100)
//   page: u8 end (0, 3: printed; 1: cancelled during its block; 2: cancelled before
//         its end), u32 x 8 header (cupsColorSpace, cupsBitsPerColor, cupsBitsPerPixel,
//         HWResolution x and y, cupsWidth, cupsHeight, cupsBytesPerLine),
//         u16 line count, then per line u16 y and cupsBytesPerLine bytes
// Pages follow one another until the input ends, a header is refused (PAPPL then
// aborts the job) or a page is cancelled.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/job/label_page.h"
#include "app/job/print_settings.h"
#include "view/label_stream.h"

namespace {

// Takes fixed-size little-endian fields off the front of the input.
class InputReader {
public:
  InputReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  // True when every byte has been taken.
  bool at_end() const {
    return pos_ >= size_;
  }

  // The next field of the given width in bytes; 0 past the end.
  uint32_t take(size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; i++, pos_++)
      if (pos_ < size_)
        value |= static_cast<uint32_t>(data_[pos_]) << (8 * i);
    return value;
  }

  // The next n bytes, or null when fewer are left.
  const uint8_t *bytes(size_t n) {
    if (size_ - pos_ < n || pos_ > size_)
      return nullptr;
    pos_ += n;
    return data_ + pos_ - n;
  }

private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};

// What one page put into the stream, to be checked against what is read back.
struct sent_page_t {
  label_image_t image;
  unsigned width;
  bool printed;
  std::vector<bool> rowArrived;
};

// Append a block's bytes to the stream in memory.
void append_to_stream(void *context, const void *data, size_t size) {
  static_cast<std::string *>(context)->append(static_cast<const char *>(data), size);
}

// Stop the run with the fault, which libFuzzer then keeps as a crash.
[[noreturn]] void fault(const char *what, const std::string &detail = "") {
  fprintf(stderr, "fuzz-app-page: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
  abort();
}

// Fill the job's options from the input, within the ranges PAPPL lets through.
void read_job_options(InputReader &in, pappl_pr_options_t *options, label_head_t *head,
                      const char **conversion, int *copies) {
  *head = model_head(&g_label_models[in.take(1) & 1]);
  uint32_t keyword = in.take(1);
  *conversion = keyword == 255               ? nullptr
                : keyword < kConversionCount ? g_conversion_names[keyword].keyword
                                             : "no-such-rule";
  // PAPPL maps the media-tracking keyword to one of its values, or none.
  uint32_t tracking = in.take(1) % 5;
  options->media.tracking = static_cast<pappl_media_tracking_t>(tracking ? 1 << (tracking - 1) : 0);
  *copies = static_cast<int>(1 + in.take(2) % 999);
  options->media.size_width = static_cast<int>(in.take(4) & INT32_MAX);
  options->media.size_length = static_cast<int>(in.take(4) & INT32_MAX);
  options->media.left_offset = static_cast<int32_t>(in.take(4));
  options->media.top_offset = static_cast<int32_t>(in.take(4));
  options->print_speed = static_cast<int32_t>(in.take(4));
  options->darkness_configured = static_cast<int>(in.take(1) % 101);
  options->print_darkness = static_cast<int>(in.take(1) % 201) - 100;
}

// Fill the header fields the page path reads; the rest stay zero. The colour space is
// stored as libcups stores it, whatever 32-bit value the client sent.
void read_header(InputReader &in, cups_page_header2_t *header) {
  memset(header, 0, sizeof *header);
  uint32_t space = in.take(4);
  memcpy(&header->cupsColorSpace, &space, sizeof space);
  header->cupsBitsPerColor = in.take(4);
  header->cupsBitsPerPixel = in.take(4);
  header->HWResolution[0] = in.take(4);
  header->HWResolution[1] = in.take(4);
  header->cupsWidth = in.take(4);
  header->cupsHeight = in.take(4);
  header->cupsBytesPerLine = in.take(4);
}

// Hand the page's lines over one by one, each in a buffer of exactly its length.
void add_lines(InputReader &in, label_page_t *page, unsigned bytesPerLine, sent_page_t *sent) {
  unsigned count = in.take(2);
  std::vector<unsigned char> line(bytesPerLine);
  for (unsigned i = 0; i < count; i++) {
    unsigned y = in.take(2);
    const uint8_t *bytes = in.bytes(bytesPerLine);
    if (!bytes)
      return;
    memcpy(line.data(), bytes, bytesPerLine);
    add_label_line(page, y, line.data());
    if (y < sent->rowArrived.size())
      sent->rowArrived[y] = true;
  }
}

// True when the dot is light in the block's image (a 1 bit: dark is 0).
bool light_dot(const parsed_block_t &block, uint32_t x, uint32_t y) {
  return block.image[size_t{y} * block.bytesPerRow + x / 8] & (0x80 >> (x % 8));
}

// Check one block read back against its page and the job's settings.
void check_block(const parsed_block_t &block, const sent_page_t &sent, const label_doc_t &doc) {
  if (block.widthMm != doc.pageWidth || block.heightMm != doc.pageHeight)
    fault("SIZE differs from the job's label size");
  if (block.speed != doc.speed || block.density != doc.darkness)
    fault("SPEED or DENSITY differs from the job's settings");
  if (block.x != doc.horizontal || block.y != doc.vertical)
    fault("BITMAP position differs from the job's offsets");
  if (block.bytesPerRow != sent.image.bytesPerRow || block.rows != sent.image.rows)
    fault("BITMAP size differs from the page's",
          std::to_string(block.bytesPerRow) + "x" + std::to_string(block.rows) + " for " +
              std::to_string(sent.image.bytesPerRow) + "x" + std::to_string(sent.image.rows));
  if (sent.printed != block.copies.has_value() ||
      (sent.printed && *block.copies != sent.image.copies))
    fault("PRINT line differs from the page's copies");
  // Dots right of the page and rows no line reached were white gray: never dark.
  for (uint32_t y = 0; y < block.rows; y++)
    for (uint32_t x = sent.rowArrived[y] ? sent.width : 0; x < block.bytesPerRow * 8; x++)
      if (!light_dot(block, x, y))
        fault("a dark dot where no line put one",
              "x " + std::to_string(x) + ", y " + std::to_string(y));
}

} // namespace

// Run one job through the page path and check the stream it wrote.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  InputReader in(data, size);
  static pappl_pr_options_t options;
  memset(&options, 0, sizeof options);
  label_head_t head;
  const char *conversion;
  int copies;
  read_job_options(in, &options, &head, &conversion, &copies);
  label_doc_t doc = {};
  set_label_doc_from_job(&doc, &options, conversion, static_cast<int>(head.resolution));

  std::string stream;
  label_sink_t sink = {&stream, append_to_stream};
  std::vector<sent_page_t> sent;
  while (!in.at_end()) {
    uint32_t end = in.take(1) & 3;
    read_header(in, &options.header);
    label_page_t page;
    char message[256] = "";
    if (!start_label_page(&page, &options.header, &head, copies, doc.mode, message,
                          sizeof message)) {
      if (page.bitPage || message[0] == '\0')
        fault("a refused page holds memory or has no message");
      break;
    }
    sent_page_t current = {page.image, page.width, end != 1,
                           std::vector<bool>(page.image.rows, false)};
    add_lines(in, &page, page.bytesPerLine, &current);
    if (end != 2) {
      send_label_image(&sink, &doc, &page.image, page.bitPage);
      if (current.printed)
        write_label_print(&sink, &page.image);
      sent.push_back(std::move(current));
    }
    free_label_page(&page);
    if (end == 1 || end == 2)
      break;
  }

  parsed_stream_t parsed = parse_label_stream(stream);
  // Only a cancelled page's block may lack its PRINT, and only at the end of the stream.
  bool endsUnprinted = !sent.empty() && !sent.back().printed;
  bool wellFormed = endsUnprinted ? parsed.error && parsed.error->offset == stream.size() &&
                                        parsed.error->message.starts_with("block without PRINT")
                                  : !parsed.error;
  if (!wellFormed)
    fault("the stream is not whole blocks",
          parsed.error ? std::to_string(parsed.error->offset) + ": " + parsed.error->message : "");
  if (parsed.labels.size() != sent.size())
    fault("the stream has another number of blocks than pages sent");
  for (size_t i = 0; i < sent.size(); i++)
    check_block(parsed.labels[i], sent[i], doc);
  return 0;
}
