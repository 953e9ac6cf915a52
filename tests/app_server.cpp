// SPDX-License-Identifier: Apache-2.0
#include "tests/app_server.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <mutex>
#include <netinet/in.h>
#include <random>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "app/command/command_line.h"
#include "app/label_system.h"

namespace appkit {
namespace {

using clock_type = std::chrono::steady_clock;

std::mutex g_lock;
std::vector<pid_t> g_printers;   // the virtual printers, killed at exit
std::vector<std::string> g_dirs; // the server's and the virtual printers' folders

} // namespace

// A port below the kernel's range for outgoing connections' local ports, so that no
// client of a test beside this one takes it first.
int free_port() {
  std::random_device seed;
  std::mt19937 pick(seed());
  for (int tries = 0; tries < 100; tries++) {
    int port = 10000 + static_cast<int>(pick() % 20000);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool taken = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0;
    close(fd);
    if (!taken)
      return port;
  }
  abort();
}

namespace {

std::string make_dir() {
  char path[] = "/tmp/strobane-app-XXXXXX";
  if (!mkdtemp(path))
    abort();
  std::lock_guard<std::mutex> held(g_lock);
  g_dirs.push_back(path);
  return path;
}

int remove_entry(const char *path, const struct stat *, int, FTW *) {
  return remove(path);
}

bool answers(int port) {
  http_t *http =
      httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 1000, nullptr);
  httpClose(http);
  return http != nullptr;
}

} // namespace

void end_test_server(bool keep) {
  std::lock_guard<std::mutex> held(g_lock);
  for (pid_t pid : g_printers) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  g_printers.clear();
  for (const std::string &dir : g_dirs) {
    if (keep)
      fprintf(stderr, "Kept %s\n", dir.c_str());
    else
      nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  }
}

namespace {

// The system a server started with the options makes.
pappl_system_t *make_system(const std::string &dir, const std::string &stateFile,
                            const std::string &spool, int port) {
  std::vector<std::pair<std::string, std::string>> settings = {
      {"server-port", std::to_string(port)},
      {"log-file", dir + "/app.log"},
      {"log-level", "debug"},
      {"spool-directory", spool},
      {"state-file", stateFile},
      {"server-options", "no-tls"},
      {"auth-service", "none"},
      {"device-directory", dir},
      {"max-spool-size", std::to_string(kSpoolLimitBytes)},
      {"max-document-size", std::to_string(kDocumentLimitBytes)},
      {"pdf-time-limit", std::to_string(kRenderSeconds)}};
  if (getuid() == 0)
    settings.push_back({"user", "root"});
  int count = 0;
  cups_option_t *options = nullptr;
  for (const auto &[name, value] : settings)
    count = cupsAddOption(name.c_str(), value.c_str(), count, &options);
  // The settings must outlive the system, which keeps pointers into them.
  auto *line =
      new command_line_t{{"strobane-printer-app", "server"}, "server", true, false, "", ""};
  auto *server = new server_settings_t{};
  server->line = line;
  name_service_account("strobane-printer-app", &server->account);
  // Its local socket in its folder: the installed service's, and the other tests' beside
  // this one, keep theirs.
  snprintf(server->account.socketPath, sizeof server->account.socketPath, "%s/app.sock",
           dir.c_str());
  mkdir(spool.c_str(), 0700);
  return create_label_system(count, options, server);
}

} // namespace

std::string virtual_printer_t::uri() const {
  return "socket://127.0.0.1:" + std::to_string(port);
}

server_t &running_server() {
  static server_t server;
  static std::once_flag started;
  std::call_once(started, [] {
    // A printer or client that closes its connection fails the write, not the test.
    signal(SIGPIPE, SIG_IGN);
    // PDF is rendered with the PPDs of this build.
    setenv("STROBANE_PPD_DIR", STROBANE_TEST_PPD_DIR, 0);
    server.dir = make_dir();
    server.stateFile = server.dir + "/app.state";
    server.spool = server.dir + "/spool";
    server.log = server.dir + "/app.log";
    server.port = free_port();
    server.system = make_system(server.dir, server.stateFile, server.spool, server.port);
    if (!server.system)
      abort();
    std::thread([] { papplSystemRun(server.system); }).detach();
    if (!wait_until(10, [] { return answers(server.port); }))
      abort();
  });
  return server;
}

pappl_system_t *load_system(const std::string &dir, const std::string &stateFile,
                            const std::string &spool) {
  running_server();
  return make_system(dir, stateFile, spool, free_port());
}

virtual_printer_t start_virtual_printer(const std::vector<std::string> &options) {
  running_server();
  virtual_printer_t printer;
  std::string dir = make_dir();
  printer.out = dir + "/virtual.out";
  int buttons[2];
  if (pipe2(buttons, O_CLOEXEC))
    abort();
  std::vector<std::string> args = {STROBANE_VIRTUAL_PRINTER_BIN, "--port", "0", "-o", dir};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char *> argv;
  for (std::string &arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out = open(printer.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  printer.pid = fork();
  if (printer.pid == 0) {
    // A test program that crashes takes its printers with it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(buttons[0], 0);
    dup2(out, 1);
    dup2(out, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(buttons[0]);
  close(out);
  printer.buttons = buttons[1];
  {
    std::lock_guard<std::mutex> held(g_lock);
    g_printers.push_back(printer.pid);
  }
  wait_until(10, [&printer] {
    std::string text = read_text(printer.out);
    size_t at = text.find("listening 127.0.0.1:");
    if (at != std::string::npos)
      printer.port = atoi(text.c_str() + at + strlen("listening 127.0.0.1:"));
    return printer.port > 0;
  });
  return printer;
}

void kill_virtual_printer(const virtual_printer_t &printer) {
  std::lock_guard<std::mutex> held(g_lock);
  kill(printer.pid, SIGKILL);
  waitpid(printer.pid, nullptr, 0);
  g_printers.erase(std::remove(g_printers.begin(), g_printers.end(), printer.pid),
                   g_printers.end());
}

void press(const virtual_printer_t &printer, const std::string &button) {
  std::string line = button + "\n";
  if (write(printer.buttons, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
    abort();
}

int labels_printed(const virtual_printer_t &printer) {
  std::istringstream lines(read_text(printer.out));
  int count = 0;
  for (std::string line; std::getline(lines, line);)
    count += line.rfind("label ", 0) == 0;
  return count;
}

pappl_printer_t *add_printer(const std::string &name, const std::string &model,
                             const std::string &uri) {
  return papplPrinterCreate(running_server().system, 0, name.c_str(), model.c_str(), nullptr,
                            uri.c_str());
}

namespace {

// A request to the printer, with the operation attributes every request carries.
ipp_t *new_request(ipp_op_t operation, const std::string &printer) {
  ipp_t *request = ippNewRequest(operation);
  std::string uri =
      "ipp://127.0.0.1:" + std::to_string(running_server().port) + "/ipp/print/" + printer;
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "test");
  return request;
}

// Send request to the printer's resource, with file as its document unless empty.
answer_t send_request(const std::string &printer, ipp_t *request, const std::string &file) {
  std::string resource = "/ipp/print/" + printer;
  answer_t answer;
  http_t *http = httpConnect2("127.0.0.1", running_server().port, nullptr, AF_INET,
                              HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  if (!http) {
    ippDelete(request);
    answer.message = "no connection";
    return answer;
  }
  ipp_t *response = file.empty() ? cupsDoRequest(http, request, resource.c_str())
                                 : cupsDoFileRequest(http, request, resource.c_str(), file.c_str());
  answer.status = cupsLastError();
  answer.message = cupsLastErrorString();
  if (ipp_attribute_t *id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER))
    answer.jobId = ippGetInteger(id, 0);
  ippDelete(response);
  httpClose(http);
  return answer;
}

} // namespace

answer_t print_file(const std::string &printer, const std::string &file, const char *format,
                    const job_attrs_t &attrs) {
  ipp_t *request = new_request(IPP_OP_PRINT_JOB, printer);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
  if (attrs.copies > 1)
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", attrs.copies);
  if (attrs.speed)
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "print-speed", attrs.speed);
  if (attrs.holdUntil)
    ippAddDate(request, IPP_TAG_JOB, "job-hold-until-time", ippTimeToDate(attrs.holdUntil));
  if (attrs.hold)
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", nullptr, attrs.hold);
  if (attrs.lengthMm) {
    ipp_t *size = ippNew();
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", 10160);
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", attrs.lengthMm * 100);
    ipp_t *media = ippNew();
    ippAddCollection(media, IPP_TAG_ZERO, "media-size", size);
    ippAddCollection(request, IPP_TAG_JOB, "media-col", media);
    ippDelete(size);
    ippDelete(media);
  }
  return send_request(printer, request, file);
}

answer_t cancel_job(const std::string &printer, int jobId) {
  ipp_t *request = new_request(IPP_OP_CANCEL_JOB, printer);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  return send_request(printer, request, "");
}

answer_t set_printer_attributes(const std::string &printer, ipp_t *attrs) {
  ipp_t *request = new_request(IPP_OP_SET_PRINTER_ATTRIBUTES, printer);
  for (ipp_attribute_t *attr = ippFirstAttribute(attrs); attr; attr = ippNextAttribute(attrs))
    ippCopyAttribute(request, attr, 0);
  ippDelete(attrs);
  return send_request(printer, request, "");
}

answer_t identify_printer(const std::string &printer, const std::string &actions) {
  ipp_t *request = new_request(IPP_OP_IDENTIFY_PRINTER, printer);
  std::vector<std::string> names;
  for (size_t start = 0; start <= actions.size();) {
    size_t end = std::min(actions.find(',', start), actions.size());
    names.push_back(actions.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char *> values;
  for (const std::string &name : names)
    values.push_back(name.c_str());
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "identify-actions",
                static_cast<int>(values.size()), nullptr, values.data());
  return send_request(printer, request, "");
}

std::string printer_attribute(const std::string &printer, const char *name) {
  ipp_t *request = new_request(IPP_OP_GET_PRINTER_ATTRIBUTES, printer);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name);
  std::string resource = "/ipp/print/" + printer;
  http_t *http = httpConnect2("127.0.0.1", running_server().port, nullptr, AF_INET,
                              HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  ipp_t *response = http ? cupsDoRequest(http, request, resource.c_str()) : nullptr;
  if (!http)
    ippDelete(request);
  char text[1024] = "";
  if (ipp_attribute_t *attr = ippFindAttribute(response, name, IPP_TAG_ZERO))
    ippAttributeString(attr, text, sizeof text);
  ippDelete(response);
  httpClose(http);
  return text;
}

job_end_t wait_for_job(pappl_printer_t *printer, int jobId, double seconds) {
  job_end_t end;
  wait_until(seconds, [&] {
    pappl_job_t *job = papplPrinterFindJob(printer, jobId);
    if (!job)
      return false;
    end.state = papplJobGetState(job);
    const char *message = papplJobGetMessage(job);
    end.message = message ? message : "";
    return end.state >= IPP_JSTATE_CANCELED;
  });
  return end;
}

bool wait_until(double seconds, const std::function<bool()> &ready) {
  auto deadline = clock_type::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (ready())
      return true;
    if (clock_type::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void write_pwg(const std::string &path, unsigned width, unsigned height, unsigned dpi,
               unsigned pages, bool noise) {
  cups_page_header2_t header = {};
  header.cupsWidth = width;
  header.cupsHeight = height;
  header.cupsBitsPerColor = header.cupsBitsPerPixel = 8;
  header.cupsColorSpace = CUPS_CSPACE_SW;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.HWResolution[0] = header.HWResolution[1] = dpi;
  header.cupsNumColors = 1;
  header.NumCopies = 1;
  header.cupsBytesPerLine = width;
  header.PageSize[0] = width * 72 / dpi;
  header.PageSize[1] = height * 72 / dpi;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
  std::mt19937 pick(width * 31 + height);
  std::vector<unsigned char> line(width, 255);
  for (unsigned page = 0; page < pages; page++) {
    header.cupsInteger[0] = pages; // PWG's TotalPageCount
    if (!cupsRasterWriteHeader2(raster, &header))
      abort();
    for (unsigned y = 0; y < height; y++) {
      if (noise)
        for (unsigned char &pixel : line)
          pixel = static_cast<unsigned char>(pick());
      cupsRasterWritePixels(raster, line.data(), width);
    }
  }
  cupsRasterClose(raster);
  close(fd);
}

std::vector<pid_t> other_children() {
  std::vector<pid_t> children;
  DIR *proc = opendir("/proc");
  while (dirent *entry = proc ? readdir(proc) : nullptr) {
    pid_t pid = atoi(entry->d_name);
    if (pid <= 0)
      continue;
    std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
    // The parent's pid follows the state, after the command's closing parenthesis.
    size_t close = stat.rfind(')');
    int parent = 0;
    char state;
    if (close == std::string::npos ||
        sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) != 2 || parent != getpid())
      continue;
    std::lock_guard<std::mutex> held(g_lock);
    if (std::find(g_printers.begin(), g_printers.end(), pid) == g_printers.end())
      children.push_back(pid);
  }
  if (proc)
    closedir(proc);
  return children;
}

std::string read_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

} // namespace appkit
