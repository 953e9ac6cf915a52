// SPDX-License-Identifier: Apache-2.0
// The virtual label printer: its status byte, its roll, its buttons, and the labels it
// prints in real time from what its connections send.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "view/label_picture.h"
#include "view/label_stream.h"

// The bits of the status byte that ESC ! ? returns; 0 is ready.
enum : uint8_t {
  kHeadOpened = 0x01,
  kPaperJam = 0x02,
  kOutOfPaper = 0x04,
  kOutOfRibbon = 0x08,
  kPaused = 0x10,
  kPrinting = 0x20,
  kCoverOpened = 0x40,
  kTemperature = 0x80,
};

// What the command line sets.
struct printer_settings_t {
  std::string address = "127.0.0.1";
  uint16_t port = 9100;
  int64_t milliDpi = kDefaultMilliDpi;
  std::string outDir = ".";
  std::optional<uint64_t> labels; // on the roll at the start; endless when absent
  double timeScale = 1;
  uint64_t bufferBytes = uint64_t{4} << 20;
};

// Something in the printer's buffer, taken in the order it was read.
struct print_item_t {
  enum kind_t { kLabel, kFeed, kCalibrate } kind = kLabel;
  parsed_block_t block; // a blank label has the last block's size, gap and speed, and no image
  int32_t copies = 1;
  int32_t done = 0;
  std::string sensor; // what a calibration looks for: "gap" or "black-mark"
};

// The printer, shared by the connection being read, the buttons and the print engine.
struct printer_t {
  printer_settings_t settings;
  std::mutex lock;
  std::condition_variable changed;
  std::deque<print_item_t> queue;
  uint64_t queuedBytes = 0;
  uint8_t conditions = 0; // the status bits but printing, which follows the queue
  std::optional<uint64_t> roll;
  uint64_t printed = 0;
  parsed_block_t lastSize;           // the last block's settings, without its image
  std::optional<uint8_t> lastAnswer; // the connection's last answer, said only when it changes
  std::chrono::steady_clock::time_point start;
};

// Power the printer on with its settings: the roll loaded, nothing in the buffer.
void start_printer(printer_t *printer, const printer_settings_t &settings);

// Write one line on standard output at once, so that a person or a script sees it as it
// happens.
void say(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Act on one line typed at the printer; false when it asks the program to end.
bool press_button(printer_t *printer, const std::string &line);

// Wait until the buffer has room for more of a connection's bytes.
void wait_for_room(printer_t *printer);

// Put a block that a connection sent into the buffer (a block without PRINT prints nothing).
void take_label(printer_t *printer, const parsed_block_t &block);

// Act on a command read between blocks; returns the byte to answer with, for a status query.
std::optional<uint8_t> take_command(printer_t *printer, const stream_command_t &command);

// Print what the buffer holds, label by label in real time, for as long as the program runs.
void run_print_engine(printer_t *printer);
