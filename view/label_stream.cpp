// SPDX-License-Identifier: Apache-2.0
#include "view/label_stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string_view>

namespace {

// The SET lines of the label modes the filter writes: peel, cutter, partial cutter, tear.
const std::string_view kFilterModes[][4] = {
    {"OFF", "OFF", "OFF", "ON"},
    {"ON", "OFF", "OFF", "OFF"},
    {"OFF", "1", "OFF", "OFF"},
};

// The most of the input shown after "found" in an error.
constexpr size_t kPreviewBytes = 32;

// No 32-bit number has more digits; one more is enough to know a number is out of range.
constexpr size_t kMaxDigits = 10;

// BITMAP data is taken in pieces, so that memory grows only with the data actually there.
constexpr size_t kDataChunk = size_t{1} << 20;

// The longest command line a printer takes between blocks, CR LF included.
constexpr size_t kMaxCommandLine = 4096;

// A fault in the stream, carried to read_label_stream.
struct stream_fault {
  stream_error_t error;
};

// Input bytes with a look-ahead buffer and the offset of the next byte.
class ByteReader {
public:
  explicit ByteReader(const stream_source_t &source) : source_(source) {}

  // The offset of the next byte in the input.
  uint64_t offset() const {
    return base_ + pos_;
  }

  // Make up to n bytes ahead available; returns how many are.
  size_t look(size_t n) {
    while (buffer_.size() - pos_ < n && !ended_)
      fill(n);
    return std::min(n, buffer_.size() - pos_);
  }

  // True when no byte is left.
  bool at_end() {
    return look(1) == 0;
  }

  // The byte ahead by the given count, or -1 past the end.
  int peek(size_t ahead) {
    return look(ahead + 1) > ahead ? static_cast<unsigned char>(buffer_[pos_ + ahead]) : -1;
  }

  // True when the bytes ahead begin with text; reads no further than the first byte that
  // differs, so that a sender waiting for an answer is not waited for.
  bool starts_with(std::string_view text) {
    for (size_t i = 0; i < text.size(); i++)
      if (peek(i) != static_cast<unsigned char>(text[i]))
        return false;
    return true;
  }

  // The next n bytes, which must have been looked at.
  std::string_view ahead(size_t n) const {
    return std::string_view(buffer_).substr(pos_, n);
  }

  // Pass over n bytes that have been looked at.
  void skip(size_t n) {
    pos_ += n;
  }

  // Copy up to n bytes out, those beyond the look-ahead straight from the source; returns
  // how many there were.
  size_t read(uint8_t *out, size_t n) {
    size_t got = std::min(n, buffer_.size() - pos_);
    memcpy(out, buffer_.data() + pos_, got);
    pos_ += got;
    while (got < n && !ended_) {
      size_t more = source_(reinterpret_cast<char *>(out) + got, n - got);
      ended_ = more == 0;
      got += more;
      base_ += more;
    }
    return got;
  }

private:
  // Drop the bytes already taken and read more, at least enough for n ahead when the input has
  // them.
  void fill(size_t n) {
    buffer_.erase(0, pos_);
    base_ += pos_;
    pos_ = 0;
    size_t have = buffer_.size();
    size_t want = std::max(n - have, size_t{65536});
    buffer_.resize(have + want);
    size_t got = source_(buffer_.data() + have, want);
    buffer_.resize(have + got);
    if (got == 0)
      ended_ = true;
  }

  const stream_source_t &source_;
  std::string buffer_;
  size_t pos_ = 0;
  uint64_t base_ = 0;
  bool ended_ = false;
};

} // namespace

std::string quoted(std::string_view bytes) {
  static const char hex[] = "0123456789abcdef";
  std::string text = "\"";
  for (char c : bytes) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\r')
      text += "\\r";
    else if (c == '\n')
      text += "\\n";
    else if (c == '"' || c == '\\')
      text += {'\\', c};
    else if (byte >= 0x20 && byte < 0x7f)
      text += c;
    else
      text += {'\\', 'x', hex[byte >> 4], hex[byte & 15]};
  }
  return text + "\"";
}

namespace {

// True for an ASCII digit, whatever the locale.
bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

// Checks the blocks of one stream and hands each finished one on.
class StreamParser {
public:
  StreamParser(const stream_source_t &source, const stream_reader_t &handlers)
      : reader_(source), handlers_(handlers) {}

  // Read every block; throws stream_fault at the first fault.
  void run() {
    while (read_block())
      labels_++;
  }

private:
  // Stop the reading with the fault found at offset.
  [[noreturn]] void fail(uint64_t offset, std::string message) {
    throw stream_fault{{offset, std::move(message)}};
  }

  // Describe the input ahead: up to the end of its first line, or the end of the stream.
  std::string found() {
    size_t n = reader_.look(kPreviewBytes);
    if (n == 0)
      return "the end of the stream";
    std::string_view bytes = reader_.ahead(n);
    size_t lineEnd = bytes.find('\n');
    if (lineEnd != std::string_view::npos)
      return quoted(bytes.substr(0, lineEnd + 1));
    if (n == kPreviewBytes)
      return quoted(bytes) + "...";
    return quoted(bytes) + " and then the end of the stream";
  }

  // Take the exact text, or fail naming it and where it was wanted.
  void expect(std::string_view text, std::string_view where = "") {
    if (!reader_.starts_with(text))
      fail(reader_.offset(),
           "expected " + quoted(text) + std::string(where) + " but found " + found());
    reader_.skip(text.size());
  }

  // Take a decimal integer as printf writes it, within the given range.
  int64_t number(const char *what, int64_t low, int64_t high) {
    uint64_t start = reader_.offset();
    size_t sign = reader_.peek(0) == '-' ? 1 : 0;
    size_t digits = 0;
    while (digits <= kMaxDigits && is_digit(reader_.peek(sign + digits)))
      digits++;
    if (digits == 0)
      fail(start, std::string("expected a number (") + what + ") but found " + found());
    std::string text(reader_.ahead(sign + digits));
    if (text[sign] == '0' && (digits > 1 || sign))
      fail(start, std::string("malformed number ") + quoted(text) + " (" + what + ")");
    int64_t value = digits > kMaxDigits ? INT64_MAX : std::stoll(text);
    if (value < low || value > high)
      fail(start, std::string("number out of range ") + quoted(text) + " (" + what + ")");
    reader_.skip(text.size());
    return value;
  }

  // Take a number that printf's %d wrote.
  int32_t int32(const char *what) {
    return static_cast<int32_t>(number(what, INT32_MIN, INT32_MAX));
  }

  // Take a number with three decimals, as in the GAP line; returns its text.
  std::string decimal(const char *what) {
    uint64_t start = reader_.offset();
    size_t digits = 0;
    while (digits < 10 && is_digit(reader_.peek(digits)))
      digits++;
    bool wellFormed = digits > 0 && reader_.peek(digits) == '.';
    for (size_t i = 1; i <= 3; i++)
      wellFormed = wellFormed && is_digit(reader_.peek(digits + i));
    if (!wellFormed || is_digit(reader_.peek(digits + 4)))
      fail(start, std::string("expected a number with three decimals (") + what + ") but found " +
                      found());
    std::string text(reader_.ahead(digits + 4));
    reader_.skip(text.size());
    return text;
  }

  // Take "COMMAND n\r\n".
  int32_t number_line(std::string_view command) {
    std::string name(command);
    expect(name + " ");
    int32_t value = int32(name.c_str());
    expect("\r\n", " to end the " + name + " line");
    return value;
  }

  // Take a number with three decimals and an optional minus sign; returns its text.
  std::string signed_decimal(const char *what) {
    bool minus = reader_.peek(0) == '-';
    reader_.skip(minus ? 1 : 0);
    return (minus ? "-" : "") + decimal(what);
  }

  // Take "COMMAND VALUE\r\n" where the value is one of the words or, when numbers are
  // allowed, a count; returns the value as written.
  std::string word_line(std::string_view command, std::initializer_list<std::string_view> words,
                        bool numbers) {
    std::string name(command);
    expect(name + " ");
    for (std::string_view word : words)
      if (reader_.starts_with(std::string(word) + "\r\n")) {
        reader_.skip(word.size() + 2);
        return std::string(word);
      }
    if (!numbers || !is_digit(reader_.peek(0))) {
      std::string choices;
      for (std::string_view word : words)
        choices += (choices.empty() ? "" : " or ") + quoted(word);
      fail(reader_.offset(), "expected " + choices + (numbers ? " or a count" : "") + " after " +
                                 quoted(name) + " but found " + found());
    }
    std::string count = std::to_string(number(name.c_str(), 0, INT32_MAX));
    expect("\r\n", " to end the " + name + " line");
    return count;
  }

  // Take the lines between REFERENCE and BITMAP: any tear-off position, and for a printer
  // any label mode, for the filter's reading one of the modes the filter writes.
  void read_label_mode(parsed_block_t &block) {
    expect("OFFSET ");
    block.tearOffset = signed_decimal("OFFSET");
    expect("\r\n", " to end the OFFSET line");
    expect("SHIFT 0\r\n");
    uint64_t modeStart = reader_.offset();
    block.peel = word_line("SET PEEL", {"ON", "OFF"}, false);
    block.cutter = word_line("SET CUTTER", {"OFF", "BATCH"}, true);
    block.partialCutter = word_line("SET PARTIAL_CUTTER", {"OFF", "BATCH"}, true);
    block.tear = word_line("SET TEAR", {"ON", "OFF"}, false);
    if (!handlers_.onCommand && std::none_of(std::begin(kFilterModes), std::end(kFilterModes),
                                             [&](const std::string_view(&mode)[4]) {
                                               return block.peel == mode[0] &&
                                                      block.cutter == mode[1] &&
                                                      block.partialCutter == mode[2] &&
                                                      block.tear == mode[3];
                                             }))
      fail(modeStart,
           "expected the SET lines of tear-off, peel-off or cutter mode but found " +
               quoted("SET PEEL " + block.peel + ", CUTTER " + block.cutter + ", PARTIAL_CUTTER " +
                      block.partialCutter + ", TEAR " + block.tear));
    expect("CLS\r\n");
  }

  // Take one command that a printer reads between blocks and hand it on.
  void read_command() {
    stream_command_t command{reader_.offset(), false, {}};
    if (reader_.starts_with("\x1b!")) {
      int code = reader_.peek(2);
      if (code < 0)
        fail(command.offset + 2, "expected the byte of an ESC ! command but found " + found());
      command.immediate = true;
      command.text = std::string(1, static_cast<char>(code));
      reader_.skip(3);
    } else {
      size_t length = 0;
      for (int c = reader_.peek(0); c != '\n'; c = reader_.peek(length)) {
        if (c < 0)
          fail(command.offset, "expected a command line ending in \"\\r\\n\" but found " + found());
        if (++length >= kMaxCommandLine)
          fail(command.offset,
               "a command line longer than " + std::to_string(kMaxCommandLine) + " bytes");
      }
      std::string_view line = reader_.ahead(length);
      command.text = std::string(line.ends_with('\r') ? line.substr(0, length - 1) : line);
      reader_.skip(length + 1);
    }
    handlers_.onCommand(command);
  }

  // Take the BITMAP header and data.
  void read_bitmap(parsed_block_t &block) {
    uint64_t start = reader_.offset();
    expect("BITMAP ");
    block.x = int32("BITMAP x");
    expect(",", " after the BITMAP x");
    block.y = int32("BITMAP y");
    expect(",", " after the BITMAP y");
    block.bytesPerRow = static_cast<uint32_t>(number("BITMAP bytes per row", 0, UINT32_MAX));
    expect(",", " after the BITMAP bytes per row");
    block.rows = static_cast<uint32_t>(number("BITMAP rows", 0, UINT32_MAX));
    expect(",1,", " after the BITMAP rows");

    uint64_t count = uint64_t{block.bytesPerRow} * block.rows;
    if (count > kMaxBitmapBytes)
      fail(start, "BITMAP of " + std::to_string(count) +
                      " bytes is larger than the filter writes (at most " +
                      std::to_string(kMaxBitmapBytes) + ")");
    uint64_t dataStart = reader_.offset();
    while (block.image.size() < count) {
      size_t have = block.image.size();
      size_t chunk = static_cast<size_t>(std::min<uint64_t>(count - have, kDataChunk));
      block.image.resize(have + chunk);
      size_t got = reader_.read(block.image.data() + have, chunk);
      if (got < chunk)
        fail(reader_.offset(), "expected " + std::to_string(count - have - got) +
                                   " more bytes of BITMAP data (" + std::to_string(count) +
                                   " from byte " + std::to_string(dataStart) +
                                   ") but found the end of the stream");
    }
    expect("\r\n", " after the BITMAP data");
  }

  // Read one block and hand it on; false at the end of the stream.
  bool read_block() {
    if (reader_.at_end())
      return false;
    while (handlers_.onCommand && !reader_.starts_with("SIZE ")) {
      read_command();
      if (reader_.at_end())
        return false;
    }
    parsed_block_t block;
    block.offset = reader_.offset();
    expect("SIZE ", labels_ ? " to begin a label, or the end of the stream" : " to begin a label");
    block.widthMm = int32("SIZE width");
    expect("mm,", " after the SIZE width");
    block.heightMm = int32("SIZE height");
    expect("mm\r\n", " to end the SIZE line");

    if (reader_.starts_with("GAP ")) {
      reader_.skip(4);
      std::string feed = decimal("GAP distance");
      expect(",", " between the GAP numbers");
      block.gap = feed + "," + decimal("GAP offset");
      expect("\r\n", " to end the GAP line");
    } else if (!reader_.starts_with("SPEED ")) {
      fail(reader_.offset(), "expected \"GAP \" or \"SPEED \" but found " + found());
    }
    block.speed = number_line("SPEED");
    block.density = number_line("DENSITY");
    expect("DIRECTION 0,0\r\n");
    expect("REFERENCE ");
    block.refX = int32("REFERENCE x");
    expect(",", " after the REFERENCE x");
    block.refY = int32("REFERENCE y");
    expect("\r\n", " to end the REFERENCE line");
    read_label_mode(block);
    read_bitmap(block);

    // A cancelled job ends right after the image: the picture is still handed on.
    if (!reader_.starts_with("PRINT 1,")) {
      handlers_.onLabel(block);
      fail(reader_.offset(), "block without PRINT: expected \"PRINT 1,\" but found " + found());
    }
    reader_.skip(8);
    block.copies = int32("PRINT copies");
    expect("\r\n", " to end the PRINT line");
    handlers_.onLabel(block);
    return true;
  }

  ByteReader reader_;
  const stream_reader_t &handlers_;
  int labels_ = 0;
};

} // namespace

std::optional<stream_error_t> read_label_stream(const stream_source_t &source,
                                                const stream_reader_t &reader) {
  try {
    StreamParser(source, reader).run();
  } catch (const stream_fault &fault) {
    return fault.error;
  }
  return std::nullopt;
}

std::optional<stream_error_t>
read_label_stream(std::istream &in, const std::function<void(const parsed_block_t &)> &onLabel) {
  stream_source_t source = [&](char *data, size_t size) {
    in.read(data, static_cast<std::streamsize>(size));
    return static_cast<size_t>(in.gcount());
  };
  return read_label_stream(source, stream_reader_t{onLabel, nullptr});
}

parsed_stream_t parse_label_stream(const std::string &bytes) {
  parsed_stream_t parsed;
  std::istringstream in(bytes);
  parsed.error =
      read_label_stream(in, [&](const parsed_block_t &block) { parsed.labels.push_back(block); });
  return parsed;
}

uint64_t dark_dots(const parsed_block_t &block) {
  uint64_t light = 0;
  for (uint8_t byte : block.image)
    light += static_cast<uint64_t>(std::popcount(byte));
  return uint64_t{block.image.size()} * 8 - light;
}
