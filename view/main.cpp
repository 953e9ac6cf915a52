// SPDX-License-Identifier: Apache-2.0
// strobane-view: check a label command stream and draw each label as a PNG picture.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "view/label_picture.h"
#include "view/label_stream.h"
#include "view/png_writer.h"

namespace {

const char kSynopsis[] = "usage: strobane-view [--check] [--dpi N] [-o PREFIX] [FILE]\n";

const char kDescription[] =
    "Check a label command stream (FILE, or standard input when FILE is omitted or \"-\"),\n"
    "print one summary line per label and draw each label as PREFIX-1.png, PREFIX-2.png, ...\n"
    "\n"
    "  --check      check the stream and print the summaries; write no pictures\n"
    "  --dpi N      the printer's resolution in dots per inch (default 203.2: 8 dots per\n"
    "               millimetre, sold as 203 dpi; 12 dots per millimetre is 304.8)\n"
    "  -o PREFIX    name the pictures PREFIX-N.png (default \"label\")\n"
    "  --help       show this text\n"
    "\n"
    "Exit status: 0 for a well-formed stream, 1 for a malformed one or a picture that\n"
    "could not be written, 2 for a usage error or an input that cannot be opened.\n";

// The lowest and highest resolution accepted, in dots per inch.
constexpr double kMinDpi = 1;
constexpr double kMaxDpi = 2400;

struct view_options_t {
  bool check = false;
  int64_t milliDpi = kDefaultMilliDpi;
  std::string prefix = "label";
  std::string input = "-";
};

// Parse a resolution in dots per inch into thousandths; nothing when it is not a number in range.
std::optional<int64_t> parse_dpi(const char *text) {
  char *end = nullptr;
  errno = 0;
  double dpi = strtod(text, &end);
  if (end == text || *end || errno || !std::isfinite(dpi) || dpi < kMinDpi || dpi > kMaxDpi)
    return std::nullopt;
  return std::llround(dpi * 1000);
}

// Read the command line; returns an exit status when the program should stop here.
std::optional<int> parse_arguments(int argc, char *argv[], view_options_t *options) {
  bool haveInput = false;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--help") {
      printf("%s%s", kSynopsis, kDescription);
      return 0;
    }
    if (arg == "--check") {
      options->check = true;
    } else if (arg == "--dpi" || arg == "-o") {
      if (i + 1 == argc) {
        fprintf(stderr, "strobane-view: %s needs a value\n%s", arg.c_str(), kSynopsis);
        return 2;
      }
      const char *value = argv[++i];
      if (arg == "-o") {
        options->prefix = value;
      } else if (auto dpi = parse_dpi(value)) {
        options->milliDpi = *dpi;
      } else {
        fprintf(stderr, "strobane-view: --dpi needs a number from %g to %g, not \"%s\"\n", kMinDpi,
                kMaxDpi, value);
        return 2;
      }
    } else if ((arg.size() > 1 && arg[0] == '-') || haveInput) {
      fprintf(stderr, "strobane-view: unexpected argument \"%s\"\n%s", arg.c_str(), kSynopsis);
      return 2;
    } else {
      options->input = arg;
      haveInput = true;
    }
  }
  return std::nullopt;
}

// Draw one label into PREFIX-N.png; false after reporting why it could not be.
bool write_picture(const view_options_t &options, int number, const parsed_block_t &block,
                   const label_geometry_t &geometry) {
  std::string path = options.prefix + "-" + std::to_string(number) + ".png";
  std::string undrawable = undrawable_paper_text(geometry);
  if (!undrawable.empty()) {
    fprintf(stderr, "strobane-view: label %d: no picture: %s\n", number, undrawable.c_str());
    return false;
  }
  std::string error;
  auto row = [&](uint32_t y, uint8_t *bits) { draw_paper_row(block, geometry, y, bits); };
  if (!write_gray1_png(path, static_cast<uint32_t>(geometry.paperWidth),
                       static_cast<uint32_t>(geometry.paperHeight), options.milliDpi, row,
                       &error)) {
    fprintf(stderr, "strobane-view: %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  return true;
}

// Check the stream, print each label's summary and draw its picture; returns the exit status.
int view_stream(std::istream &in, const view_options_t &options) {
  int number = 0;
  bool picturesWritten = true;
  auto onLabel = [&](const parsed_block_t &block) {
    label_geometry_t geometry = measure_label(block, options.milliDpi);
    ++number;
    // A block without PRINT was never printed, so it has a picture but no summary.
    if (block.copies) {
      printf("%s\n", summary_line(number, block, geometry).c_str());
      fflush(stdout);
    }
    // Only dots that the paper cuts off are worth a warning: a white margin past the
    // edge is how a page rounded up to whole dots overhangs a size in millimetres.
    std::string lost = lost_dots_text(lost_dark_dots(block, geometry));
    if (!lost.empty())
      fprintf(stderr, "strobane-view: label %d: warning: %s\n", number, lost.c_str());
    if (!options.check)
      picturesWritten = write_picture(options, number, block, geometry) && picturesWritten;
  };
  std::optional<stream_error_t> error = read_label_stream(in, onLabel);
  if (error) {
    fprintf(stderr, "strobane-view: byte %llu: %s\n",
            static_cast<unsigned long long>(error->offset), error->message.c_str());
    return 1;
  }
  return picturesWritten ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
  view_options_t options;
  if (std::optional<int> status = parse_arguments(argc, argv, &options))
    return *status;

  if (options.input == "-") {
    std::ios::sync_with_stdio(false);
    return view_stream(std::cin, options);
  }
  // A directory opens as a stream but reads as nothing, which would pass for an empty job.
  std::ifstream file(options.input, std::ios::binary);
  std::error_code ignored;
  if (file && std::filesystem::is_directory(options.input, ignored)) {
    errno = EISDIR;
    file.close();
  }
  if (!file.is_open()) {
    fprintf(stderr, "strobane-view: cannot open %s: %s\n", options.input.c_str(), strerror(errno));
    return 2;
  }
  return view_stream(file, options);
}
