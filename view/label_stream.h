// SPDX-License-Identifier: Apache-2.0
// The label command stream read back: its blocks, checked line by line against
// the exact formats the filter writes.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One block of the stream, from SIZE to PRINT.
struct parsed_block_t {
  uint64_t offset = 0; // byte where the block's SIZE line begins
  int32_t widthMm = 0;
  int32_t heightMm = 0;
  std::optional<std::string> gap; // the GAP line's two numbers as written, e.g. "0.000,0.000"
  int32_t speed = 0;
  int32_t density = 0;
  int32_t refX = 0;
  int32_t refY = 0;
  int32_t x = 0;
  int32_t y = 0;
  uint32_t bytesPerRow = 0;
  uint32_t rows = 0;
  std::vector<uint8_t> image;    // bytesPerRow * rows bytes, dark = 0 bit, leftmost dot in bit 7
  std::optional<int32_t> copies; // absent when the block ends without PRINT
  // The OFFSET and label-mode lines' values as written, e.g. "0.000", "OFF", "1".
  std::string tearOffset = "0.000";
  std::string peel = "OFF";
  std::string cutter = "OFF";
  std::string partialCutter = "OFF";
  std::string tear = "ON";
};

// What a printer reads between blocks: an immediate command (ESC '!' and one byte,
// answered at once) or a command line.
struct stream_command_t {
  uint64_t offset;
  bool immediate;
  std::string text; // the byte after ESC '!', or the line without its CR LF
};

// Where and why the stream stopped being well formed.
struct stream_error_t {
  uint64_t offset;
  std::string message; // "expected ... but found ..."
};

// The largest BITMAP the filter writes: its gray page stays within INT32_MAX bytes.
inline constexpr uint64_t kMaxBitmapBytes = INT32_MAX / 8;

// Where a stream's bytes come from: up to size bytes into data, waiting for at least one;
// 0 at the end of the stream.
using stream_source_t = std::function<size_t(char *data, size_t size)>;

// What a reader does with what it reads.
struct stream_reader_t {
  std::function<void(const parsed_block_t &)> onLabel;
  // A printer's reader sets this: it then takes commands between blocks and any value of a
  // block's tear-off and label-mode lines, where the viewer passes only the filter's blocks.
  std::function<void(const stream_command_t &)> onCommand;
};

// Read blocks from the source as its bytes arrive, handing each on as soon as it is whole;
// returns the first fault, or nothing when the stream ended well formed.
std::optional<stream_error_t> read_label_stream(const stream_source_t &source,
                                                const stream_reader_t &reader);

// Read the stream's blocks, calling onLabel for each one whose image is complete
// (with copies absent for a block that ends without PRINT); returns the first
// fault, or nothing when the whole stream is well formed.
std::optional<stream_error_t>
read_label_stream(std::istream &in, const std::function<void(const parsed_block_t &)> &onLabel);

// A whole stream read into memory.
struct parsed_stream_t {
  std::vector<parsed_block_t> labels;
  std::optional<stream_error_t> error;
};

// Read a stream held in a string.
parsed_stream_t parse_label_stream(const std::string &bytes);

// Quote bytes as C would write them, so that CR, LF and binary data stay visible.
std::string quoted(std::string_view bytes);

// Count the dark (0) bits of a block's image.
uint64_t dark_dots(const parsed_block_t &block);
