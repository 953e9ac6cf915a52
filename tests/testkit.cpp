// SPDX-License-Identifier: Apache-2.0
#include "testkit.h"

#include <cstdlib>
#include <cstring>
#include <cups/cups.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "log/diag_log.h"

namespace testkit {

RasterPage solid_page(uint32_t width, uint32_t height, uint8_t value, uint32_t copies) {
  RasterPage page;
  page.width = width;
  page.height = height;
  page.copies = copies;
  page.pixels.assign(static_cast<size_t>(width) * height, value);
  return page;
}

std::string write_raster(const std::vector<RasterPage> &pages, bool compressed) {
  TempDir dir;
  std::string path = dir.file("job.ras");
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0)
    throw std::runtime_error("cannot create raster file");
  cups_raster_t *raster =
      cupsRasterOpen(fd, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
  for (const RasterPage &page : pages) {
    cups_page_header2_t header;
    memset(&header, 0, sizeof header);
    strcpy(header.MediaClass, "PwgRaster");
    header.HWResolution[0] = header.HWResolution[1] = 203;
    header.NumCopies = page.copies;
    header.cupsWidth = page.width;
    header.cupsHeight = page.height;
    header.cupsBitsPerColor = 8;
    header.cupsBitsPerPixel = 8;
    header.cupsBytesPerLine = page.width;
    header.cupsColorOrder = CUPS_ORDER_CHUNKED;
    header.cupsColorSpace = CUPS_CSPACE_W;
    header.cupsNumColors = 1;
    header.PageSize[0] = page.width * 72 / 203;
    header.PageSize[1] = page.height * 72 / 203;
    cupsRasterWriteHeader2(raster, &header);
    size_t rowsWritten = page.width ? page.pixels.size() / page.width : 0;
    for (size_t y = 0; y < rowsWritten; y++)
      cupsRasterWritePixels(raster, const_cast<unsigned char *>(&page.pixels[y * page.width]),
                            page.width);
  }
  cupsRasterClose(raster);
  close(fd);
  return read_file(path);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "strobane-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data()))
    throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

RunResult run_filter_binary(const std::vector<std::string> &args, const std::string &input,
                            const EnvChanges &env) {
  TempDir dir;
  std::string inPath = dir.file("in"), outPath = dir.file("out"), errPath = dir.file("err");
  write_file(inPath, input);

  pid_t pid = fork();
  if (pid == 0) {
    unsetenv("PPD");
    for (const auto &[name, value] : env) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
    int in = open(inPath.c_str(), O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>("label"));
    for (const std::string &arg : args)
      argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(STROBANE_BIN, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);

  RunResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_file(outPath);
  result.err = read_file(errPath);
  return result;
}

RunResult run_job(const std::string &options, const std::string &raster, const EnvChanges &env) {
  return run_filter_binary({"1", "user", "title", "1", options}, raster, env);
}

std::string setup_lines(const BlockSettings &s) {
  std::string lines =
      "SIZE " + std::to_string(s.pageWidth) + "mm," + std::to_string(s.pageHeight) + "mm\r\n";
  lines += s.gap;
  lines += "SPEED " + std::to_string(s.speed) + "\r\n";
  lines += "DENSITY " + std::to_string(s.darkness) + "\r\n";
  lines += "DIRECTION 0,0\r\nREFERENCE 0,0\r\nOFFSET 0.000\r\nSHIFT 0\r\nSET PEEL OFF\r\n"
           "SET CUTTER OFF\r\nSET PARTIAL_CUTTER OFF\r\nSET TEAR ON\r\nCLS\r\n";
  return lines;
}

std::string command_block(const BlockSettings &s, int bytesPerRow, int rows,
                          const std::string &image, int copies) {
  return setup_lines(s) + "BITMAP " + std::to_string(s.horizontal) + "," +
         std::to_string(s.vertical) + "," + std::to_string(bytesPerRow) + "," +
         std::to_string(rows) + ",1," + image + "\r\nPRINT 1," + std::to_string(copies) + "\r\n";
}

bool has_time_stamp(const std::string &line) {
  static const char kShape[] = "dddd-dd-dd dd:dd:dd ";
  if (line.size() < sizeof kShape - 1)
    return false;
  for (size_t i = 0; i < sizeof kShape - 1; i++) {
    bool digit = line[i] >= '0' && line[i] <= '9';
    if (kShape[i] == 'd' ? !digit : line[i] != kShape[i])
      return false;
  }
  return true;
}

std::vector<std::string> log_messages(const std::string &logText) {
  std::vector<std::string> messages;
  size_t start = 0;
  while (start < logText.size()) {
    size_t end = logText.find("\r\n", start);
    if (end == std::string::npos)
      end = logText.size();
    std::string line = logText.substr(start, end - start);
    if (has_time_stamp(line))
      line = line.substr(20);
    messages.push_back(line);
    start = end + 2;
  }
  return messages;
}

SettingsRun settle_job(const std::string &options, const std::optional<std::string> &ppdPath) {
  TempDir dir;
  std::string logPath = dir.file("log");
  const char *oldPpd = getenv("PPD");
  std::optional<std::string> saved = oldPpd ? std::optional<std::string>(oldPpd) : std::nullopt;
  if (ppdPath)
    setenv("PPD", ppdPath->c_str(), 1);
  else
    unsetenv("PPD");

  SettingsRun run;
  memset(&run.doc, 0, sizeof run.doc);
  char *argv[] = {const_cast<char *>("label"), const_cast<char *>("1"), const_cast<char *>("user"),
                  const_cast<char *>("title"), const_cast<char *>("1"), nullptr};
  OpenLogAt(logPath.c_str());
  cups_option_t *parsed = nullptr;
  int count = cupsParseOptions(options.c_str(), 0, &parsed);
  set_pstops_options(&run.doc, argv, count, parsed);
  cupsFreeOptions(count, parsed);
  CloseLog();
  run.doc.user = run.doc.title = nullptr;

  if (saved)
    setenv("PPD", saved->c_str(), 1);
  else
    unsetenv("PPD");
  run.log = log_messages(read_file(logPath));
  return run;
}

} // namespace testkit
