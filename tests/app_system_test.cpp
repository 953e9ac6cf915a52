// SPDX-License-Identifier: Apache-2.0
// The printer application's wired code, served in this process by a real PAPPL system on
// loopback with virtual printers as its devices: the scheduler, the spool's accounting,
// the printer link's bounds, the state and settings across a restart, and the PDF
// renderer's start, cancel and bounds. Each ctest test runs in a process of its own, so each
// starts its own server.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "app/document/render_process.h"
#include "app/printer/printer_identify.h"
#include "app/printer/printer_output.h"
#include "app/server/app_name.h"
#include "app/server/saved_settings.h"
#include "app/server/state_file.h"
#include "tests/app_server.h"

using namespace appkit;

// The kernel caps a socket's send buffer at net.core.wmem_max, which a machine may raise;
// the server here is held to Debian's default, so that a long label's block is more than
// the buffers between the server and its printer take, as it is on most machines.
extern "C" int setsockopt(int fd, int level, int name, const void *value, socklen_t size) {
  using setsockopt_t = int (*)(int, int, int, const void *, socklen_t);
  static const auto real = reinterpret_cast<setsockopt_t>(dlsym(RTLD_NEXT, "setsockopt"));
  constexpr int kDefaultMaximum = 212992;
  if (level == SOL_SOCKET && name == SO_SNDBUF && size == sizeof(int) &&
      *static_cast<const int *>(value) > kDefaultMaximum)
    return real(fd, level, name, &kDefaultMaximum, size);
  return real(fd, level, name, value, size);
}

namespace {

std::string scratch(const std::string &name) {
  return running_server().dir + "/" + name;
}

long long file_size(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) ? -1 : info.st_size;
}

// Where the server's log ends now.
size_t log_mark() {
  return read_text(running_server().log).size();
}

// The lines of the server's log about a job since the mark; PAPPL names a job by its
// number alone, which each printer counts from 1.
std::string job_log(int jobId, size_t mark) {
  std::string tag = "[Job " + std::to_string(jobId) + "]", lines;
  size_t at = mark;
  std::string log = read_text(running_server().log);
  while ((at = log.find(tag, at)) != std::string::npos) {
    size_t begin = log.rfind('\n', at) + 1, end = log.find('\n', at);
    lines += log.substr(begin, end - begin) + "\n";
    at = end;
  }
  return lines;
}

// The labels that the virtual printer has printed, in order: each one's length in mm and
// which copy of its block it is ("53 1/2").
std::vector<std::string> labels_out(const virtual_printer_t &printer) {
  std::vector<std::string> labels;
  std::istringstream lines(read_text(printer.out));
  for (std::string line; std::getline(lines, line);) {
    size_t size = line.find(" size=102x"), copy = line.find(" copy=");
    if (line.rfind("label ", 0) == 0 && size != line.npos && copy != line.npos)
      labels.push_back(std::to_string(atoi(line.c_str() + size + 10)) + " " +
                       line.substr(copy + 6, line.find(' ', copy + 6) - copy - 6));
  }
  return labels;
}

// The labels and beeps that the virtual printer has made, in order ("sound label ").
std::string labels_and_beeps(const virtual_printer_t &printer) {
  std::istringstream lines(read_text(printer.out));
  std::string made;
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("label ", 0) == 0 || line.rfind("sound ", 0) == 0)
      made += line.substr(0, line.find(' ') + 1);
  return made;
}

// The names of a job's files in the spool: its document and its attributes.
std::vector<std::string> job_files(const std::string &spool, int printerId, int jobId) {
  std::vector<std::string> files;
  char prefix[32];
  if (jobId)
    snprintf(prefix, sizeof prefix, "p%05dj%09d-", printerId, jobId);
  else
    snprintf(prefix, sizeof prefix, "p%05dj", printerId);
  if (DIR *dir = opendir(spool.c_str())) {
    while (dirent *entry = readdir(dir))
      if (strstr(entry->d_name, prefix))
        files.push_back(entry->d_name);
    closedir(dir);
  }
  return files;
}

// A printer of the 203 dpi model on a virtual printer of its own.
struct test_printer_t {
  virtual_printer_t device;
  pappl_printer_t *printer;
};

test_printer_t printer_on_virtual(const std::string &name,
                                  const std::vector<std::string> &options) {
  test_printer_t made = {start_virtual_printer(options), nullptr};
  made.printer = add_printer(name, "strb203", made.device.uri());
  return made;
}

// The state of a job; 0, no state at all, for a job the server does not have.
ipp_jstate_t job_state(pappl_printer_t *printer, int jobId) {
  pappl_job_t *job = papplPrinterFindJob(printer, jobId);
  return job ? papplJobGetState(job) : static_cast<ipp_jstate_t>(0);
}

// The renderer's programs, while any runs.
bool renderer_runs() {
  for (pid_t pid : other_children())
    if (read_text("/proc/" + std::to_string(pid) + "/comm").rfind("gs", 0) == 0)
      return true;
  return false;
}

} // namespace

// A document past the server's limit is refused; the spool's limit counts the documents
// that wait: with a 757 KB job on a paused printer, a second one is refused busy, and
// taken again once the first is cancelled.
TEST(AppSpool, WaitingJobsCountAgainstTheLimit) {
  auto [device, printer] = printer_on_virtual("spool", {"--time-scale", "0"});
  ASSERT_NE(printer, nullptr);
  papplPrinterPause(printer);
  std::string doc = scratch("757k.pwg");
  write_pwg(doc, 812, 930, 203, 1, true);
  ASSERT_GT(file_size(doc), kSpoolLimitBytes / 2);
  ASSERT_LT(file_size(doc), kSpoolLimitBytes);

  std::string large = scratch("950k.pwg");
  write_pwg(large, 812, 1170, 203, 1, true);
  ASSERT_GT(file_size(large), kDocumentLimitBytes);
  answer_t refused = print_file("spool", large, "image/pwg-raster");
  EXPECT_EQ(refused.status, IPP_STATUS_ERROR_REQUEST_ENTITY);
  EXPECT_EQ(refused.message, "The document is larger than this server's limit of 900 KiB.");

  answer_t first = print_file("spool", doc, "image/pwg-raster");
  ASSERT_EQ(first.status, IPP_STATUS_OK) << first.message;
  answer_t second = print_file("spool", doc, "image/pwg-raster");
  EXPECT_EQ(second.status, IPP_STATUS_ERROR_BUSY);
  EXPECT_EQ(second.message, "The spool is full: the jobs waiting and this one come to more than "
                            "its limit of 1 MiB. Send it again once they have printed.");

  EXPECT_EQ(cancel_job("spool", first.jobId).status, IPP_STATUS_OK);
  EXPECT_EQ(wait_for_job(printer, first.jobId, 5).state, IPP_JSTATE_CANCELED);
  answer_t third = print_file("spool", doc, "image/pwg-raster");
  ASSERT_EQ(third.status, IPP_STATUS_OK) << third.message;
  papplPrinterResume(printer);
  job_end_t end = wait_for_job(printer, third.jobId, 20);
  EXPECT_EQ(end.state, IPP_JSTATE_COMPLETED) << end.message;
  EXPECT_EQ(labels_printed(device), 1);
}

// Raster jobs sent while another prints (its printer paused by its own button) are taken
// at once, wait, and print in the order they came, one at a time, each label once; the
// copies of a document of two pages are collated, each block a copy.
TEST(AppScheduler, JobsSentWhileOnePrintsWaitAndPrintInTheOrderTheyCame) {
  auto [device, printer] = printer_on_virtual("order", {"--time-scale", "0"});
  ASSERT_NE(printer, nullptr);
  press(device, "pause");
  std::string doc = scratch("order.pwg"), two = scratch("two.pwg");
  write_pwg(doc, 812, 400, 203, 1, false);
  write_pwg(two, 812, 400, 203, 2, false);
  std::vector<int> ids;
  for (int length : {51, 52, 53, 54}) {
    answer_t job = print_file("order", length == 53 ? two : doc, "image/pwg-raster",
                              {.copies = length == 53 ? 2 : 1, .lengthMm = length});
    ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
    ids.push_back(job.jobId);
    if (ids.size() == 1) {
      ASSERT_TRUE(
          wait_until(10, [&] { return job_state(printer, ids[0]) == IPP_JSTATE_PROCESSING; }));
    }
  }
  for (size_t k = 1; k < ids.size(); k++)
    EXPECT_EQ(job_state(printer, ids[k]), IPP_JSTATE_PENDING) << "job " << ids[k];
  press(device, "resume");
  for (int id : ids)
    EXPECT_EQ(wait_for_job(printer, id, 20).state, IPP_JSTATE_COMPLETED) << "job " << id;
  EXPECT_EQ(labels_out(device), (std::vector<std::string>{"51 1/1", "52 1/1", "53 1/1", "53 1/1",
                                                          "53 1/1", "53 1/1", "54 1/1"}));
}

// A job held until a time is held until then, and printed once it comes.
TEST(AppScheduler, JobHeldUntilATimePrintsOnceItComes) {
  auto [device, printer] = printer_on_virtual("held", {"--time-scale", "0"});
  ASSERT_NE(printer, nullptr);
  std::string doc = scratch("held.pwg");
  write_pwg(doc, 812, 400, 203, 1, false);
  time_t until = time(nullptr) + 3;
  answer_t job = print_file("held", doc, "image/pwg-raster", {.holdUntil = until});
  ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
  EXPECT_EQ(job_state(printer, job.jobId), IPP_JSTATE_HELD);
  job_end_t end = wait_for_job(printer, job.jobId, 10);
  EXPECT_EQ(end.state, IPP_JSTATE_COMPLETED) << end.message;
  EXPECT_GE(time(nullptr), until);
  EXPECT_EQ(labels_printed(device), 1);
}

// A printer slower than a second a label, behind a small buffer, answers its status only
// once the label is out: a 28 in label at 2 in/s keeps the job waiting for it past the
// bound of a printer that prints nothing, without being taken for one that stopped
// answering.
TEST(AppPrinterLink, SlowPrinterBehindASmallBufferPrintsEveryLabel) {
  auto [device, printer] = printer_on_virtual("slow", {"--time-scale", "1", "--buffer", "64K"});
  ASSERT_NE(printer, nullptr);
  std::string doc = scratch("slow.pwg");
  write_pwg(doc, 812, 28 * 203, 203, 1, false);
  size_t mark = log_mark();
  answer_t job = print_file("slow", doc, "image/pwg-raster", {.lengthMm = 711, .speed = 5080});
  ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
  job_end_t end = wait_for_job(printer, job.jobId, 60);
  EXPECT_EQ(end.state, IPP_JSTATE_COMPLETED) << end.message;
  EXPECT_EQ(labels_printed(device), 1);
  EXPECT_EQ(job_log(job.jobId, mark).find("stopped answering"), std::string::npos)
      << job_log(job.jobId, mark);
}

// A printer that goes away while it prints the only label of a job, and comes back, is
// sent the label again, once, and the job completes.
TEST(AppPrinterLink, PrinterThatGoesAwayMidLabelIsSentItAgain) {
  auto [device, printer] = printer_on_virtual("away", {"--time-scale", "1"});
  ASSERT_NE(printer, nullptr);
  std::string doc = scratch("away.pwg");
  write_pwg(doc, 812, 20 * 203, 203, 1, false);
  size_t mark = log_mark();
  answer_t job = print_file("away", doc, "image/pwg-raster", {.lengthMm = 508});
  ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
  ASSERT_TRUE(
      wait_until(10, [&] { return job_state(printer, job.jobId) == IPP_JSTATE_PROCESSING; }));
  // The 20 in label takes 5 s at 4 in/s: it is in the middle of it.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  kill_virtual_printer(device);
  virtual_printer_t back =
      start_virtual_printer({"--time-scale", "0", "--port", std::to_string(device.port)});
  ASSERT_EQ(back.port, device.port);
  job_end_t end = wait_for_job(printer, job.jobId, 30);
  EXPECT_EQ(end.state, IPP_JSTATE_COMPLETED) << end.message;
  EXPECT_EQ(labels_printed(device), 0);
  EXPECT_EQ(labels_printed(back), 1);
  EXPECT_NE(job_log(job.jobId, mark).find("it is sent again"), std::string::npos)
      << job_log(job.jobId, mark);
}

// A printer that cannot be reached as its job starts, whether it never ran or was killed,
// shows offline and not paused while the job waits for it, and the job prints once it is
// there; a person's pause shows paused.
TEST(AppPrinterLink, PrinterNotReachedShowsOfflineNotPaused) {
  std::string doc = scratch("unreached.pwg");
  write_pwg(doc, 812, 400, 203, 1, false);
  struct {
    const char *name;
    bool ran; // the virtual printer ran, and was killed
  } rows[] = {{"neverran", false}, {"killed", true}};
  pappl_printer_t *printer = nullptr;
  for (const auto &row : rows) {
    int port = free_port();
    if (row.ran) {
      virtual_printer_t gone = start_virtual_printer({"--time-scale", "0"});
      port = gone.port;
      kill_virtual_printer(gone);
    }
    printer = add_printer(row.name, "strb203", "socket://127.0.0.1:" + std::to_string(port));
    ASSERT_NE(printer, nullptr) << row.name;
    answer_t job = print_file(row.name, doc, "image/pwg-raster");
    ASSERT_EQ(job.status, IPP_STATUS_OK) << row.name << ": " << job.message;
    // PAPPL stops the printer while its job waits for the device.
    ASSERT_TRUE(wait_until(10, [&] { return papplPrinterGetState(printer) == IPP_PSTATE_STOPPED; }))
        << row.name;
    EXPECT_EQ(printer_attribute(row.name, "printer-state-reasons"), "offline") << row.name;
    virtual_printer_t back =
        start_virtual_printer({"--time-scale", "0", "--port", std::to_string(port)});
    ASSERT_EQ(back.port, port) << row.name;
    job_end_t end = wait_for_job(printer, job.jobId, 20);
    EXPECT_EQ(end.state, IPP_JSTATE_COMPLETED) << row.name << ": " << end.message;
    EXPECT_EQ(labels_printed(back), 1) << row.name;
    EXPECT_EQ(printer_attribute(row.name, "printer-state-reasons"), "none") << row.name;
  }
  papplPrinterPause(printer);
  EXPECT_EQ(printer_attribute("killed", "printer-state-reasons"), "paused");
  papplPrinterResume(printer);
  EXPECT_EQ(printer_attribute("killed", "printer-state-reasons"), "none");
}

// Identify-Printer beeps an idle printer at once, and a printing one once the label being
// printed is out, before the next; a printer that a job holds past the bound, or that
// cannot be reached, does not beep, and the client is told why.
TEST(AppPrinterLink, IdentifyBeepsOnceTheLabelBeingPrintedIsOut) {
  auto [device, printer] = printer_on_virtual("identify", {"--time-scale", "1"});
  ASSERT_NE(printer, nullptr);
  answer_t idle = identify_printer("identify", "sound");
  EXPECT_EQ(idle.status, IPP_STATUS_OK) << idle.message;
  EXPECT_TRUE(wait_until(5, [&] { return labels_and_beeps(device) == "sound "; }));

  // Two 10 in labels take 2.5 s each at 4 in/s: a beep asked for while the first prints
  // comes between them, and one asked for then, while the job's last block prints, after
  // the second.
  std::string doc = scratch("identify.pwg");
  write_pwg(doc, 812, 10 * 203, 203, 2, false);
  size_t mark = log_mark();
  answer_t job = print_file("identify", doc, "image/pwg-raster", {.lengthMm = 254});
  ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
  ASSERT_TRUE(wait_until(10, [&] {
    return job_log(job.jobId, mark).find("Printer status 0x20: printing.") != std::string::npos;
  })) << job_log(job.jobId, mark);
  for (int beep = 1; beep <= 2; beep++) {
    answer_t printing = identify_printer("identify", "sound");
    EXPECT_EQ(printing.status, IPP_STATUS_OK) << "beep " << beep << ": " << printing.message;
  }
  EXPECT_NE(read_text(running_server().log).find("the beep waits for its label to end", mark),
            std::string::npos);
  EXPECT_EQ(wait_for_job(printer, job.jobId, 20).state, IPP_JSTATE_COMPLETED);
  EXPECT_TRUE(wait_until(5, [&] {
    return labels_and_beeps(device) == "sound label sound label sound ";
  })) << labels_and_beeps(device);

  // Paused on the printer, the job waits before its label for longer than the beep may.
  press(device, "pause");
  std::string small = scratch("identify-small.pwg");
  write_pwg(small, 812, 400, 203, 1, false);
  job = print_file("identify", small, "image/pwg-raster");
  ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
  ASSERT_TRUE(
      wait_until(10, [&] { return job_state(printer, job.jobId) == IPP_JSTATE_PROCESSING; }));
  answer_t held = identify_printer("identify", "sound");
  EXPECT_EQ(held.status, IPP_STATUS_ERROR_BUSY);
  EXPECT_EQ(held.message, busy_beep_reason());
  press(device, "resume");
  EXPECT_EQ(wait_for_job(printer, job.jobId, 20).state, IPP_JSTATE_COMPLETED);
  EXPECT_TRUE(wait_until(5, [&] {
    return labels_and_beeps(device) == "sound label sound label sound label ";
  })) << labels_and_beeps(device);

  kill_virtual_printer(device);
  answer_t away = identify_printer("identify", "sound");
  EXPECT_EQ(away.status, IPP_STATUS_ERROR_DEVICE);
  EXPECT_EQ(away.message, unreached_beep_reason());
}

// An idle printer's reasons follow its buttons, and clear when the button is released.
TEST(AppPrinterLink, IdlePrinterReasonsFollowThePrinter) {
  auto [device, printer] = printer_on_virtual("idle", {"--time-scale", "0", "--labels", "3"});
  ASSERT_NE(printer, nullptr);
  struct {
    const char *press, *release;
    pappl_preason_t reason;
  } rows[] = {{"open", "close", PAPPL_PREASON_COVER_OPEN},
              {"load 0", "load 3", PAPPL_PREASON_MEDIA_EMPTY}};
  for (const auto &row : rows) {
    press(device, row.press);
    EXPECT_TRUE(wait_until(5, [&] { return papplPrinterGetReasons(printer) & row.reason; }))
        << row.press;
    press(device, row.release);
    EXPECT_TRUE(wait_until(5, [&] { return !(papplPrinterGetReasons(printer) & row.reason); }))
        << row.release;
  }
}

// The loaded media's and the default media's left offsets, the speed, darkness 0 and a
// person's pause come back after a restart, each its own.
TEST(AppState, PrinterSettingsSurviveARestart) {
  auto [device, printer] = printer_on_virtual("kept", {"--time-scale", "0"});
  ASSERT_NE(printer, nullptr);
  // A printer's loaded media becomes its default media too: the default is set after it.
  auto set_media = [](const char *name, int left) {
    ipp_t *size = ippNew();
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", 10160);
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", 15240);
    ipp_t *col = ippNew();
    ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
    ippAddInteger(col, IPP_TAG_ZERO, IPP_TAG_INTEGER, "media-left-offset", left);
    ippAddInteger(col, IPP_TAG_ZERO, IPP_TAG_INTEGER, "media-top-offset", 0);
    ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, "main-roll");
    ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-type", nullptr, "labels");
    ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-tracking", nullptr, "gap");
    ipp_t *attrs = ippNew();
    ippAddCollection(attrs, IPP_TAG_PRINTER, name, col);
    ippDelete(size);
    ippDelete(col);
    return set_printer_attributes("kept", attrs);
  };
  answer_t set = set_media("media-col-ready", 1200);
  ASSERT_EQ(set.status, IPP_STATUS_OK) << set.message;
  set = set_media("media-col-default", 800);
  ASSERT_EQ(set.status, IPP_STATUS_OK) << set.message;
  ipp_t *defaults = ippNew();
  ippAddInteger(defaults, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "print-speed-default", 5080);
  ippAddInteger(defaults, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "printer-darkness-configured", 0);
  set = set_printer_attributes("kept", defaults);
  ASSERT_EQ(set.status, IPP_STATUS_OK) << set.message;
  papplPrinterPause(printer);
  int id = papplPrinterGetID(printer);
  // The command line's delete finds a printer by the printer-id it shows.
  EXPECT_EQ(printer_attribute("kept", "printer-id"), std::to_string(id));
  pappl_pr_driver_data_t before;
  papplPrinterGetDriverData(printer, &before);
  ASSERT_EQ(before.media_ready[0].left_offset, 1200);
  ASSERT_EQ(before.media_default.left_offset, 800);

  // Once both files are saved with the new settings, a server started from copies of them
  // has the same printer.
  server_t &server = running_server();
  std::string line = saved_printer_line({id, 5080, 0, 800, 1200, true});
  ASSERT_TRUE(wait_until(10, [&] {
    return read_text(server.stateFile + ".settings").find(line) != std::string::npos;
  }));
  ASSERT_TRUE(save_label_state(server.system, &server.stateFile[0]));
  std::string dir = scratch("restart");
  std::filesystem::create_directory(dir);
  for (const char *suffix : {"", ".settings"})
    std::filesystem::copy_file(server.stateFile + suffix, dir + "/app.state" + suffix);
  pappl_system_t *restarted = load_system(dir, dir + "/app.state", dir + "/spool");
  ASSERT_NE(restarted, nullptr);
  pappl_printer_t *again = papplSystemFindPrinter(restarted, nullptr, id, nullptr);
  ASSERT_NE(again, nullptr);
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(again, &data);
  EXPECT_EQ(data.media_ready[0].left_offset, 1200);
  EXPECT_EQ(data.media_default.left_offset, 800);
  EXPECT_EQ(data.speed_default, 5080);
  EXPECT_EQ(data.darkness_configured, 0);
  EXPECT_EQ(papplPrinterGetState(again), IPP_PSTATE_STOPPED);
}

// A second system loaded as a restarted server would, from the state saved now and copies
// of the job's spooled files (every job of the printer's for 0), in a folder of its own;
// its spool folder in *spool.
pappl_system_t *restart_from_saved(server_t &server, const std::string &name,
                                   pappl_printer_t *printer, int jobId, std::string *spool) {
  if (!save_label_state(server.system, &server.stateFile[0]))
    return nullptr;
  std::string dir = scratch(name);
  *spool = dir + "/spool";
  std::filesystem::create_directories(*spool);
  std::string state = read_text(server.stateFile);
  for (size_t at = 0; (at = state.find(server.spool, at)) != std::string::npos;
       at += spool->size())
    state.replace(at, server.spool.size(), *spool);
  FILE *out = fopen((dir + "/app.state").c_str(), "w");
  fputs(state.c_str(), out);
  fclose(out);
  for (const std::string &file : job_files(server.spool, papplPrinterGetID(printer), jobId))
    std::filesystem::copy_file(server.spool + "/" + file, *spool + "/" + file);
  return load_system(dir, dir + "/app.state", *spool);
}

// A server killed while a job prints leaves the job printing in its state file; the next
// start ends it with its reason and removes its document.
TEST(AppState, JobCutShortByAKillEndsWithItsReasonAtTheNextStart) {
  auto [device, printer] = printer_on_virtual("cut", {"--time-scale", "0"});
  ASSERT_NE(printer, nullptr);
  press(device, "pause");
  std::string doc = scratch("cut.pwg");
  write_pwg(doc, 812, 400, 203, 2, false);
  answer_t job = print_file("cut", doc, "image/pwg-raster");
  ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
  server_t &server = running_server();
  ASSERT_TRUE(
      wait_until(10, [&] { return job_state(printer, job.jobId) == IPP_JSTATE_PROCESSING; }));
  std::vector<std::string> files = job_files(server.spool, papplPrinterGetID(printer), job.jobId);
  ASSERT_TRUE(std::any_of(files.begin(), files.end(),
                          [](const std::string &name) { return name.find(".pwg") != name.npos; }));

  // What a kill -9 leaves: the state saved while the job prints, and the spool.
  std::string spool;
  pappl_system_t *restarted = restart_from_saved(server, "killed", printer, job.jobId, &spool);
  ASSERT_NE(restarted, nullptr);
  pappl_printer_t *again =
      papplSystemFindPrinter(restarted, nullptr, papplPrinterGetID(printer), nullptr);
  ASSERT_NE(again, nullptr);
  pappl_job_t *ended = papplPrinterFindJob(again, job.jobId);
  ASSERT_NE(ended, nullptr);
  EXPECT_EQ(papplJobGetState(ended), IPP_JSTATE_ABORTED);
  EXPECT_STREQ(papplJobGetMessage(ended), "The printer application ended while this job printed: "
                                          "its labels may not all have come out.");
  for (const std::string &name : job_files(spool, papplPrinterGetID(printer), job.jobId))
    EXPECT_EQ(name.find(".pwg"), std::string::npos) << "the document is still spooled: " << name;
}

// A job held until a time, or until a named part of the day, keeps its release time over a
// restart: it comes back held, due at the same second, not released at once nor never.
// For the named parts, the clock is moved to local noon (through TZ), when each of them is
// still to come; libcups reads a job-hold-until-time in the local zone, so that row is
// sent first.
TEST(AppState, HeldJobsKeepTheirTimeOverARestart) {
  auto [device, printer] = printer_on_virtual("later", {"--time-scale", "0"});
  ASSERT_NE(printer, nullptr);
  std::string doc = scratch("later.pwg");
  write_pwg(doc, 812, 400, 203, 1, false);
  time_t now = time(nullptr);
  struct Row {
    job_attrs_t attrs;
    int jobId = 0;
    time_t until = 0;
  } rows[] = {{{.holdUntil = now + 4 * 3600}},
              {{.hold = "evening"}},
              {{.hold = "second-shift"}},
              {{.hold = "third-shift"}}};
  for (Row &row : rows) {
    if (row.attrs.hold) {
      tm utc;
      gmtime_r(&now, &utc);
      setenv("TZ", ("NOON" + std::to_string(utc.tm_hour - 12)).c_str(), 1);
      tzset();
    }
    answer_t job = print_file("later", doc, "image/pwg-raster", row.attrs);
    ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
    row.jobId = job.jobId;
    pappl_job_t *held = papplPrinterFindJob(printer, job.jobId);
    ASSERT_NE(held, nullptr);
    row.until = papplJobGetHoldUntil(held);
    EXPECT_GT(row.until, time(nullptr) + 3 * 3600) << job.jobId;
  }
  std::string spool;
  pappl_system_t *restarted = restart_from_saved(running_server(), "later", printer, 0, &spool);
  ASSERT_NE(restarted, nullptr);
  pappl_printer_t *again =
      papplSystemFindPrinter(restarted, nullptr, papplPrinterGetID(printer), nullptr);
  ASSERT_NE(again, nullptr);
  for (const Row &row : rows) {
    pappl_job_t *job = papplPrinterFindJob(again, row.jobId);
    ASSERT_NE(job, nullptr) << row.jobId;
    EXPECT_EQ(papplJobGetState(job), IPP_JSTATE_HELD) << row.jobId;
    EXPECT_EQ(papplJobGetHoldUntil(job), row.until) << row.jobId;
  }
  EXPECT_EQ(labels_printed(device), 0);
}

// A PDF is rendered apart and printed; one of more pages than the printer takes is refused
// before any renders; one cancelled while its renderer works ends
// cancelled within moments, with the renderer gone, not at the render's time limit; and
// one that renders past the time limit ends aborted, with the renderer gone.
TEST(AppPdf, RendererPrintsAndEndsAtACancelOrItsTimeLimit) {
  auto [device, printer] = printer_on_virtual("pdf", {"--time-scale", "0"});
  ASSERT_NE(printer, nullptr);
  ASSERT_EQ(
      system(("python3 " STROBANE_TEST_DATA "/hostile_pdf.py " + running_server().dir).c_str()), 0);
  answer_t plain = print_file("pdf", scratch("plain.pdf"), "application/pdf");
  ASSERT_EQ(plain.status, IPP_STATUS_OK) << plain.message;
  job_end_t end = wait_for_job(printer, plain.jobId, 30);
  ASSERT_EQ(end.state, IPP_JSTATE_COMPLETED) << end.message;
  EXPECT_EQ(labels_printed(device), 1);

  answer_t pages = print_file("pdf", scratch("pages.pdf"), "application/pdf");
  ASSERT_EQ(pages.status, IPP_STATUS_OK) << pages.message;
  end = wait_for_job(printer, pages.jobId, 30);
  EXPECT_EQ(end.state, IPP_JSTATE_ABORTED);
  EXPECT_EQ(end.message, "The PDF document has 101 pages; the printer takes at most 100.");

  size_t mark = log_mark();
  answer_t bomb = print_file("pdf", scratch("bomb.pdf"), "application/pdf");
  ASSERT_EQ(bomb.status, IPP_STATUS_OK) << bomb.message;
  ASSERT_TRUE(wait_until(20, renderer_runs)) << job_log(bomb.jobId, mark);
  ASSERT_EQ(cancel_job("pdf", bomb.jobId).status, IPP_STATUS_OK);
  end = wait_for_job(printer, bomb.jobId, kRenderSeconds - 1);
  EXPECT_EQ(end.state, IPP_JSTATE_CANCELED) << end.message;
  EXPECT_EQ(other_children(), std::vector<pid_t>{});

  mark = log_mark();
  bomb = print_file("pdf", scratch("bomb.pdf"), "application/pdf");
  ASSERT_EQ(bomb.status, IPP_STATUS_OK) << bomb.message;
  ASSERT_TRUE(wait_until(20, renderer_runs)) << job_log(bomb.jobId, mark);
  end = wait_for_job(printer, bomb.jobId, kRenderSeconds + 10);
  EXPECT_EQ(end.state, IPP_JSTATE_ABORTED);
  EXPECT_EQ(end.message, "The PDF document took longer than " + std::to_string(kRenderSeconds) +
                             " s to render; the printer stopped it.");
  EXPECT_EQ(other_children(), std::vector<pid_t>{});
  EXPECT_EQ(labels_printed(device), 1);
}

// A server killed in the middle of a render leaves the render's folder, with what the
// renderer wrote in it; the next start removes it, following no link out of it, and leaves
// the folder of a server of another state.
TEST(AppPdf, RenderFolderLeftByAKillGoesAtTheNextStart) {
  std::string dir = scratch("renders"), parent = render_parent_dir();
  ASSERT_TRUE(std::filesystem::create_directory(dir));
  std::string left = make_render_dir(parent, render_owner(kAppName, (dir + "/app.state").c_str()));
  std::string other =
      make_render_dir(parent, render_owner(kAppName, (dir + "/other.state").c_str()));
  ASSERT_FALSE(left.empty());
  ASSERT_FALSE(other.empty());
  std::filesystem::create_directories(left + "/gs/cache");
  std::ofstream(left + "/gs/cache/page.ras") << "raster";
  std::ofstream(dir + "/kept") << "not the renderer's";
  std::filesystem::create_directory_symlink(dir, left + "/out");
  pappl_system_t *restarted = load_system(dir, dir + "/app.state", dir + "/spool");
  ASSERT_NE(restarted, nullptr);
  EXPECT_FALSE(std::filesystem::exists(left));
  EXPECT_TRUE(std::filesystem::exists(other));
  EXPECT_TRUE(std::filesystem::exists(dir + "/kept"));
  remove_render_dir(other);
}

// A printer that stops taking data is given up on after the stall bound, with the reason,
// whether the block it stopped in is more than the buffers between them hold (the send is
// bounded) or fits them (the wait for the printer to take it is).
class AppPrinterStall : public testing::TestWithParam<int> {};

TEST_P(AppPrinterStall, PrinterThatStopsReadingIsGivenUp) {
  int lengthMm = GetParam();
  std::string name = "stalled" + std::to_string(lengthMm);
  auto [device, printer] = printer_on_virtual(name, {"--time-scale", "0"});
  ASSERT_NE(printer, nullptr);
  kill(device.pid, SIGSTOP);
  std::string doc = scratch("stalled.pwg");
  write_pwg(doc, 812, static_cast<unsigned>(lengthMm * 2030 / 254), 203, 2, false);
  answer_t job = print_file(name, doc, "image/pwg-raster", {.lengthMm = lengthMm});
  ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
  job_end_t end = wait_for_job(printer, job.jobId, 25);
  kill(device.pid, SIGCONT);
  EXPECT_EQ(end.state, IPP_JSTATE_ABORTED) << end.message;
  EXPECT_EQ(end.message, stall_message());
  EXPECT_EQ(labels_printed(device), 0);
}

// A 990 mm label's block is 804 KiB, more than the buffers take; a 300 mm label's, 243 KiB, more
// than the printer's receive buffer but within what the server's send buffer holds.
INSTANTIATE_TEST_SUITE_P(BlockSizes, AppPrinterStall, testing::Values(990, 300));

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  int failed = RUN_ALL_TESTS();
  end_test_server(failed != 0);
  fflush(nullptr);
  // The server's threads still run: the program ends without running destructors under
  // them.
  _exit(failed);
}
