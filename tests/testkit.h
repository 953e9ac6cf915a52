// SPDX-License-Identifier: Apache-2.0
// Shared test helpers: raster streams written by libcups, the real filter binary
// run as CUPS runs it, temporary files and the expected command block.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "filter/job_settings.h"

namespace testkit {

// One raster page: width x height gray pixels, 0 black, 255 white.
struct RasterPage {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t copies = 1;
  std::vector<uint8_t> pixels; // width * height bytes, or fewer for a page cut short
};

// A page of one gray value.
RasterPage solid_page(uint32_t width, uint32_t height, uint8_t value, uint32_t copies = 1);

// The bytes of a raster stream written with libcups' own raster writer.
std::string write_raster(const std::vector<RasterPage> &pages, bool compressed = false);

// A directory that is removed with everything in it.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const {
    return path_;
  }
  std::string file(const std::string &name) const {
    return path_ + "/" + name;
  }

private:
  std::string path_;
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);

// The outcome of one run of the filter binary.
struct RunResult {
  int status = -1; // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Environment changes for a run: a value sets the variable, nullopt unsets it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// Run the built filter with argv[1..] = args and the given standard input.
// PPD is unset unless env sets it.
RunResult run_filter_binary(const std::vector<std::string> &args, const std::string &input,
                            const EnvChanges &env = {});

// Run the filter as CUPS does for a job: "1 user title 1 OPTIONS" with the raster on stdin.
RunResult run_job(const std::string &options, const std::string &raster,
                  const EnvChanges &env = {});

// What one block says; defaults are those of the built-in settings. The GAP line is
// written out whole ("" for none), so that no test works it out the way the filter does.
struct BlockSettings {
  int pageWidth = 60, pageHeight = 40, speed = 4, darkness = 7;
  std::string gap = "GAP 0.000,0.000\r\n";
  int horizontal = 0, vertical = 0;
};

// The setup lines of one block, SIZE to CLS.
std::string setup_lines(const BlockSettings &settings);

// A whole block around the given raw (already inverted) image bytes.
std::string command_block(const BlockSettings &settings, int bytesPerRow, int rows,
                          const std::string &image, int copies);

// Whether a log line begins with a "YYYY-MM-DD hh:mm:ss " time stamp.
bool has_time_stamp(const std::string &line);

// The messages of a log file's lines, each without its time stamp.
std::vector<std::string> log_messages(const std::string &logText);

// Run the option and PPD layers in process over an option string, with the log
// written to a temporary file; returns the settings and the logged messages.
struct SettingsRun {
  label_doc_t doc;
  std::vector<std::string> log;
};
SettingsRun settle_job(const std::string &options, const std::optional<std::string> &ppdPath);

} // namespace testkit
