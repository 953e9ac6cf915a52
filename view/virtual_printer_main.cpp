// SPDX-License-Identifier: Apache-2.0
// strobane-virtual-printer: a label printer on a TCP socket that prints into PNG pictures.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "view/virtual_printer.h"

namespace {

const char kSynopsis[] =
    "usage: strobane-virtual-printer [--listen ADDR] [--port N] [--dpi 203|300] [-o DIR]\n"
    "                                [--labels N] [--time-scale F] [--buffer BYTES]\n";

const char kDescription[] =
    "Behave on the network like a thermal label printer: take label command streams on TCP,\n"
    "one connection at a time, answer status queries, and print each label in real time as\n"
    "DIR/label-N.png, with one line per label and per event on standard output.\n"
    "\n"
    "  --listen ADDR     the address to listen on (default 127.0.0.1)\n"
    "  --port N          the TCP port (default 9100; 0 takes a free one)\n"
    "  --dpi 203|300     the print head's resolution (default 203: 8 dots a millimetre)\n"
    "  -o DIR            where the pictures go (default: the current folder)\n"
    "  --labels N        labels on the roll (default: endless)\n"
    "  --time-scale F    multiply every printing time by F (default 1; 0.01 is 100 times faster)\n"
    "  --buffer BYTES    how much the printer holds before it stops reading (default 4M;\n"
    "                    K and M multiply by 1024 and 1048576)\n"
    "  --help            show this text\n"
    "\n"
    "Standard input takes one button a line: open, close, jam, clear, load [N], ribbon-out,\n"
    "ribbon-in, pause, resume, cover-open, cover-close, hot, cool, status, quit.\n"
    "\n"
    "Exit status: 0 after quit, 1 when the address cannot be listened on, 2 for a usage error.\n";

// How the kernel's receive buffer is kept small, so that the printer's own buffer is the bound.
constexpr int kReceiveBuffer = 65536;

// A number from the command line with an optional K or M; nothing unless it is one in range.
std::optional<uint64_t> parse_size(const std::string &text, uint64_t high) {
  uint64_t unit = 1;
  std::string digits = text;
  if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'M')) {
    unit = digits.back() == 'K' ? 1024 : 1048576;
    digits.pop_back();
  }
  if (digits.empty() || digits.size() > 12 || digits.find_first_not_of("0123456789") != digits.npos)
    return std::nullopt;
  uint64_t value = std::stoull(digits) * unit;
  return value <= high ? std::optional<uint64_t>(value) : std::nullopt;
}

// Read the command line; returns an exit status when the program should stop here.
std::optional<int> parse_arguments(int argc, char *argv[], printer_settings_t *settings) {
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--help") {
      printf("%s%s", kSynopsis, kDescription);
      return 0;
    }
    bool known = arg == "--listen" || arg == "--port" || arg == "--dpi" || arg == "-o" ||
                 arg == "--labels" || arg == "--time-scale" || arg == "--buffer";
    if (!known) {
      fprintf(stderr, "strobane-virtual-printer: unexpected argument \"%s\"\n%s", arg.c_str(),
              kSynopsis);
      return 2;
    }
    if (i + 1 == argc) {
      fprintf(stderr, "strobane-virtual-printer: %s needs a value\n%s", arg.c_str(), kSynopsis);
      return 2;
    }
    std::string value = argv[++i];
    std::optional<uint64_t> number;
    const char *wanted = nullptr;
    if (arg == "--listen") {
      settings->address = value;
    } else if (arg == "-o") {
      settings->outDir = value;
    } else if (arg == "--port") {
      if ((number = parse_size(value, 65535)) && value.find_first_of("KM") == value.npos)
        settings->port = static_cast<uint16_t>(*number);
      else
        wanted = "a port number from 0 to 65535";
    } else if (arg == "--dpi") {
      if (value == "203" || value == "300")
        settings->milliDpi = value == "203" ? kDefaultMilliDpi : 304800;
      else
        wanted = "203 or 300";
    } else if (arg == "--labels") {
      if ((number = parse_size(value, UINT64_MAX / 2)) && value.find_first_of("KM") == value.npos)
        settings->labels = *number;
      else
        wanted = "a number of labels";
    } else if (arg == "--buffer") {
      if ((number = parse_size(value, uint64_t{1} << 40)) && *number > 0)
        settings->bufferBytes = *number;
      else
        wanted = "a number of bytes above 0";
    } else {
      char *end = nullptr;
      double scale = strtod(value.c_str(), &end);
      if (end != value.c_str() && !*end && std::isfinite(scale) && scale >= 0 && scale <= 1000)
        settings->timeScale = scale;
      else
        wanted = "a number from 0 to 1000";
    }
    if (wanted) {
      fprintf(stderr, "strobane-virtual-printer: %s needs %s, not \"%s\"\n", arg.c_str(), wanted,
              value.c_str());
      return 2;
    }
  }
  return std::nullopt;
}

// Open the listening socket; -1 after saying why it could not be.
int listen_on(const printer_settings_t &settings) {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo *found = nullptr;
  std::string port = std::to_string(settings.port);
  int status = getaddrinfo(settings.address.c_str(), port.c_str(), &hints, &found);
  if (status) {
    fprintf(stderr, "strobane-virtual-printer: %s: %s\n", settings.address.c_str(),
            gai_strerror(status));
    return -1;
  }
  int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1, size = kReceiveBuffer;
  bool listening = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                   setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) == 0 &&
                   bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, 16) == 0;
  freeaddrinfo(found);
  if (!listening) {
    fprintf(stderr, "strobane-virtual-printer: cannot listen on %s port %u: %s\n",
            settings.address.c_str(), settings.port, strerror(errno));
    if (fd >= 0)
      close(fd);
    return -1;
  }
  return fd;
}

// The numeric address and port of a socket address, as "ADDR:PORT" ("[ADDR]:PORT" for IPv6).
std::string address_text(const sockaddr_storage &address, socklen_t length) {
  char host[NI_MAXHOST] = "?", port[NI_MAXSERV] = "?";
  getnameinfo(reinterpret_cast<const sockaddr *>(&address), length, host, sizeof host, port,
              sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
  bool v6 = address.ss_family == AF_INET6;
  return (v6 ? "[" : "") + std::string(host) + (v6 ? "]:" : ":") + port;
}

// Read one connection to its end or its first fault, answering its status queries.
void serve_connection(printer_t *printer, int fd, uint64_t number) {
  uint64_t received = 0;
  {
    std::lock_guard<std::mutex> held(printer->lock);
    printer->lastAnswer.reset();
  }
  stream_source_t source = [&](char *data, size_t size) -> size_t {
    wait_for_room(printer);
    for (;;) {
      ssize_t got = recv(fd, data, size, 0);
      if (got >= 0) {
        received += static_cast<uint64_t>(got);
        return static_cast<size_t>(got);
      }
      if (errno != EINTR)
        return 0;
    }
  };
  stream_reader_t reader;
  reader.onLabel = [&](const parsed_block_t &block) { take_label(printer, block); };
  reader.onCommand = [&](const stream_command_t &command) {
    if (std::optional<uint8_t> answer = take_command(printer, command))
      send(fd, &*answer, 1, MSG_NOSIGNAL);
  };
  if (std::optional<stream_error_t> error = read_label_stream(source, reader))
    say("malformed byte %llu: %s", static_cast<unsigned long long>(error->offset),
        error->message.c_str());
  say("disconnected %llu bytes=%llu", static_cast<unsigned long long>(number),
      static_cast<unsigned long long>(received));
}

// Take the buttons typed on standard input until it ends or asks to quit.
void read_buttons(printer_t *printer) {
  std::string line;
  while (std::getline(std::cin, line))
    if (!press_button(printer, line)) {
      fflush(stdout);
      _exit(0);
    }
}

} // namespace

int main(int argc, char *argv[]) {
  printer_settings_t settings;
  if (std::optional<int> status = parse_arguments(argc, argv, &settings))
    return *status;
  std::error_code error;
  std::filesystem::create_directories(settings.outDir, error);
  if (!std::filesystem::is_directory(settings.outDir, error)) {
    fprintf(stderr, "strobane-virtual-printer: -o %s is not a folder\n", settings.outDir.c_str());
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  int listener = listen_on(settings);
  if (listener < 0)
    return 1;
  sockaddr_storage bound = {};
  socklen_t boundLength = sizeof bound;
  getsockname(listener, reinterpret_cast<sockaddr *>(&bound), &boundLength);

  static printer_t printer;
  start_printer(&printer, settings);
  say("listening %s", address_text(bound, boundLength).c_str());
  std::thread(run_print_engine, &printer).detach();
  std::thread(read_buttons, &printer).detach();

  // One connection at a time: the others wait in the listen queue, as on a network printer.
  for (uint64_t number = 1;; number++) {
    sockaddr_storage peer = {};
    socklen_t peerLength = sizeof peer;
    int fd = accept4(listener, reinterpret_cast<sockaddr *>(&peer), &peerLength, SOCK_CLOEXEC);
    if (fd < 0) {
      number--;
      continue;
    }
    say("connected %llu %s", static_cast<unsigned long long>(number),
        address_text(peer, peerLength).c_str());
    serve_connection(&printer, fd, number);
    close(fd);
  }
}
