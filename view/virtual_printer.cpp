// SPDX-License-Identifier: Apache-2.0
#include "view/virtual_printer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "view/png_writer.h"

namespace {

// The status bits by name, in the order the state line lists them.
const struct {
  uint8_t bit;
  const char *name;
} kStatusNames[] = {
    {kHeadOpened, "head-opened"},    {kPaperJam, "paper-jam"},      {kOutOfPaper, "out-of-paper"},
    {kOutOfRibbon, "out-of-ribbon"}, {kPaused, "paused"},           {kPrinting, "printing"},
    {kCoverOpened, "cover-opened"},  {kTemperature, "temperature"},
};

// The buttons and doors, one word each, and the conditions they set or clear.
const struct {
  std::string_view word;
  uint8_t set;
  uint8_t clear;
} kButtons[] = {
    {"open", kHeadOpened, 0},
    {"close", 0, kHeadOpened},
    {"jam", kPaperJam, 0},
    {"clear", 0, kPaperJam},
    {"ribbon-out", kOutOfRibbon, 0},
    {"ribbon-in", 0, kOutOfRibbon},
    {"pause", kPaused, 0},
    {"resume", 0, kPaused},
    {"cover-open", kCoverOpened, 0},
    {"cover-close", 0, kCoverOpened},
    {"hot", kTemperature, 0},
    {"cool", 0, kTemperature},
    {"status", 0, 0},
};

// A pause lets the label under the head come out; every other condition stops it at once.
constexpr uint8_t kStopsAtOnce = static_cast<uint8_t>(~(kPaused | kPrinting));

// What a block costs in the buffer besides its image, so that empty blocks count too.
constexpr uint64_t kItemBytes = 256;

// Millimetres in an inch.
constexpr double kMmPerInch = 25.4;

// The longest a label takes, in seconds: a day, which keeps any SIZE within the clock's range.
constexpr double kLongestLabel = 86400;

// The digits of a count as written, or nothing unless the text is one.
std::optional<uint64_t> parse_count(std::string_view text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != text.npos)
    return std::nullopt;
  return std::strtoull(std::string(text).c_str(), nullptr, 10);
}

// The status byte; the caller holds the lock.
uint8_t locked_status(const printer_t *printer) {
  return static_cast<uint8_t>(printer->conditions | (printer->queue.empty() ? 0 : kPrinting));
}

// Labels and blank labels still to come out of the buffer; the caller holds the lock.
uint64_t waiting_labels(const printer_t *printer) {
  uint64_t waiting = 0;
  for (const print_item_t &item : printer->queue)
    if (item.kind != print_item_t::kCalibrate)
      waiting += static_cast<uint64_t>(item.copies - item.done);
  return waiting;
}

// Say the printer's state; the caller holds the lock.
void say_state(const printer_t *printer) {
  uint8_t status = locked_status(printer);
  std::string names;
  for (const auto &entry : kStatusNames)
    if (status & entry.bit)
      names += (names.empty() ? "" : " ") + std::string(entry.name);
  std::string roll = printer->roll ? std::to_string(*printer->roll) : "endless";
  say("state 0x%02x %s labels=%s queued=%llu", status, names.empty() ? "ready" : names.c_str(),
      roll.c_str(), static_cast<unsigned long long>(waiting_labels(printer)));
}

// Seconds since the printer was started, for the lines it writes.
double elapsed(const printer_t *printer) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - printer->start).count();
}

// How long a label takes to come out: its length and the gap after it at the block's speed.
std::chrono::duration<double> print_time(const printer_t *printer, const parsed_block_t &block) {
  double gapMm = block.gap ? std::strtod(block.gap->c_str(), nullptr) * kMmPerInch : 0;
  double lengthMm = std::max(0.0, block.heightMm + gapMm);
  double inchesPerSecond = std::max(1, block.speed);
  return std::chrono::duration<double>(std::min(
      kLongestLabel, lengthMm / kMmPerInch / inchesPerSecond * printer->settings.timeScale));
}

// The settings part of a label's line.
std::string settings_text(const parsed_block_t &block) {
  char text[512];
  snprintf(text, sizeof text,
           "size=%dx%dmm gap=%s speed=%d density=%d offset=%s peel=%s cutter=%s "
           "partial-cutter=%s tear=%s",
           block.widthMm, block.heightMm, block.gap ? block.gap->c_str() : "none", block.speed,
           block.density, block.tearOffset.c_str(), block.peel.c_str(), block.cutter.c_str(),
           block.partialCutter.c_str(), block.tear.c_str());
  return text;
}

// Draw a printed label into the output folder; returns its path, or "" after saying why not.
std::string write_label_picture(const printer_t *printer, const parsed_block_t &block,
                                uint64_t number) {
  label_geometry_t geometry = measure_label(block, printer->settings.milliDpi);
  std::string why = undrawable_paper_text(geometry);
  std::string path = printer->settings.outDir + "/label-" + std::to_string(number) + ".png";
  auto row = [&](uint32_t y, uint8_t *bits) { draw_paper_row(block, geometry, y, bits); };
  if (why.empty() && write_gray1_png(path, static_cast<uint32_t>(geometry.paperWidth),
                                     static_cast<uint32_t>(geometry.paperHeight),
                                     printer->settings.milliDpi, row, &why))
    return path;
  fprintf(stderr, "strobane-virtual-printer: label %llu: no picture: %s\n",
          static_cast<unsigned long long>(number), why.c_str());
  return "";
}

// Bring a label or a blank label out from under the head; the caller holds the lock, which
// is let go while the picture is written.
void label_out(printer_t *printer, std::unique_lock<std::mutex> &held, print_item_t &item) {
  if (printer->roll)
    --*printer->roll;
  double time = elapsed(printer);
  if (item.kind == print_item_t::kFeed) {
    say("feed time=%.3f %s", time, settings_text(item.block).c_str());
  } else {
    uint64_t number = ++printer->printed;
    held.unlock();
    std::string path = write_label_picture(printer, item.block, number);
    held.lock();
    say("label %llu time=%.3f %s copy=%d/%d picture=%s", static_cast<unsigned long long>(number),
        time, settings_text(item.block).c_str(), item.done + 1, item.copies,
        path.empty() ? "none" : path.c_str());
  }
  if (++item.done == item.copies) {
    printer->queuedBytes -= item.block.image.size() + kItemBytes;
    printer->queue.pop_front();
    printer->changed.notify_all();
  }
  if (printer->roll && *printer->roll == 0) {
    printer->conditions |= kOutOfPaper;
    say_state(printer);
  }
}

// Put an item at the end of the buffer; the caller holds the lock.
void enqueue(printer_t *printer, print_item_t item) {
  printer->queuedBytes += item.block.image.size() + kItemBytes;
  printer->queue.push_back(std::move(item));
  printer->changed.notify_all();
}

} // namespace

void say(const char *format, ...) {
  char line[8192];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  strcat(line, "\n");
  fputs(line, stdout);
  fflush(stdout);
}

void start_printer(printer_t *printer, const printer_settings_t &settings) {
  printer->settings = settings;
  printer->roll = settings.labels;
  printer->conditions = settings.labels == uint64_t{0} ? kOutOfPaper : 0;
  printer->lastSize.widthMm = 60;
  printer->lastSize.heightMm = 40;
  printer->lastSize.speed = 4;
  printer->start = std::chrono::steady_clock::now();
}

bool press_button(printer_t *printer, const std::string &line) {
  std::string_view word = line;
  while (!word.empty() && (word.back() == '\r' || word.back() == ' '))
    word.remove_suffix(1);
  if (word == "quit")
    return false;
  std::lock_guard<std::mutex> held(printer->lock);
  if (word == "load" || word.starts_with("load ")) {
    std::optional<uint64_t> count;
    if (word != "load" && !(count = parse_count(word.substr(5)))) {
      say("unknown \"%.*s\": load takes a number of labels", static_cast<int>(word.size()),
          word.data());
      return true;
    }
    printer->roll = count;
    printer->conditions = static_cast<uint8_t>((printer->conditions & ~kOutOfPaper) |
                                               (count == uint64_t{0} ? kOutOfPaper : 0));
  } else {
    const auto *button = std::find_if(std::begin(kButtons), std::end(kButtons),
                                      [&](const auto &entry) { return entry.word == word; });
    if (button == std::end(kButtons)) {
      std::string words = "load N, quit";
      for (const auto &entry : kButtons)
        words += ", " + std::string(entry.word);
      say("unknown \"%.*s\": the buttons are %s", static_cast<int>(word.size()), word.data(),
          words.c_str());
      return true;
    }
    printer->conditions =
        static_cast<uint8_t>((printer->conditions | button->set) & ~button->clear);
  }
  say_state(printer);
  printer->changed.notify_all();
  return true;
}

void wait_for_room(printer_t *printer) {
  std::unique_lock<std::mutex> held(printer->lock);
  printer->changed.wait(held, [&] { return printer->queuedBytes < printer->settings.bufferBytes; });
}

void take_label(printer_t *printer, const parsed_block_t &block) {
  std::lock_guard<std::mutex> held(printer->lock);
  printer->lastSize = block;
  printer->lastSize.image.clear();
  if (!block.copies || *block.copies <= 0)
    return;
  print_item_t item;
  item.block = block;
  item.copies = *block.copies;
  enqueue(printer, std::move(item));
}

std::optional<uint8_t> take_command(printer_t *printer, const stream_command_t &command) {
  std::lock_guard<std::mutex> held(printer->lock);
  if (command.immediate && command.text == "?") {
    // A sender that polls while a label prints would otherwise fill the output.
    uint8_t status = locked_status(printer);
    if (printer->lastAnswer != status)
      say("answered 0x%02x", status);
    printer->lastAnswer = status;
    return status;
  }
  int level = 0, interval = 0, end = 0;
  if (command.immediate) {
    say("ignored %s", quoted("\x1b!" + command.text).c_str());
  } else if (sscanf(command.text.c_str(), "SOUND %d,%d%n", &level, &interval, &end) == 2 &&
             static_cast<size_t>(end) == command.text.size()) {
    say("sound level=%d interval=%d", level, interval);
  } else if (command.text == "FORMFEED") {
    print_item_t item;
    item.kind = print_item_t::kFeed;
    item.block = printer->lastSize;
    enqueue(printer, std::move(item));
  } else if (command.text == "GAPDETECT" || command.text == "BLINEDETECT") {
    print_item_t item;
    item.kind = print_item_t::kCalibrate;
    item.sensor = command.text == "GAPDETECT" ? "gap" : "black-mark";
    enqueue(printer, std::move(item));
  } else {
    say("ignored %s", quoted(command.text).c_str());
  }
  return std::nullopt;
}

void run_print_engine(printer_t *printer) {
  std::unique_lock<std::mutex> held(printer->lock);
  for (;;) {
    printer->changed.wait(held, [&] { return !printer->queue.empty() && !printer->conditions; });
    // Items are only ever added behind this one, so it stays in place while the lock is let go.
    print_item_t &item = printer->queue.front();
    if (item.kind == print_item_t::kCalibrate) {
      say("calibrate time=%.3f sensor=%s", elapsed(printer), item.sensor.c_str());
      printer->queuedBytes -= kItemBytes;
      printer->queue.pop_front();
      printer->changed.notify_all();
      continue;
    }
    if (printer->roll && *printer->roll == 0) {
      printer->conditions |= kOutOfPaper;
      say_state(printer);
      continue;
    }
    // An error while the label prints spoils it: it is printed again once the error is cleared.
    auto due = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                   print_time(printer, item.block));
    if (printer->changed.wait_until(held, due,
                                    [&] { return (printer->conditions & kStopsAtOnce) != 0; }))
      continue;
    label_out(printer, held, item);
  }
}
