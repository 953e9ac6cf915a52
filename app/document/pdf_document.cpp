// SPDX-License-Identifier: Apache-2.0
#include "app/document/pdf_document.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/document/document_filters.h"
#include "app/document/raster_file.h"
#include "app/document/render_process.h"
#include "app/printer/label_models.h"

namespace {

// The keywords of print-scaling, by PAPPL's bit for each.
constexpr struct {
  pappl_scaling_t scaling;
  const char *keyword;
} kScalingKeywords[] = {{PAPPL_SCALING_AUTO, "auto"},
                        {PAPPL_SCALING_AUTO_FIT, "auto-fit"},
                        {PAPPL_SCALING_FILL, "fill"},
                        {PAPPL_SCALING_FIT, "fit"},
                        {PAPPL_SCALING_NONE, "none"}};

// A render run's job and the stop it watches for beside the job's cancel.
struct pdf_run_t {
  pappl_job_t *job;
  const document_printing_t *printing;
};

bool job_is_canceled(void *context) {
  auto *run = static_cast<const pdf_run_t *>(context);
  return papplJobIsCanceled(run->job) || run->printing->stopRequested();
}

// An unlinked file in the directory for a program's output; -1 when it cannot be made.
int open_output_file(const std::string &dir, const char *name) {
  std::string path = dir + "/" + name;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0)
    unlink(path.c_str());
  return fd;
}

// The whole of a small output file, from its start.
std::string read_output(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  lseek(fd, 0, SEEK_SET);
  while (text.size() < (1 << 20) && (got = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<size_t>(got));
  return text;
}

// Copy the model's PPD into the run's directory, where the renderer's account reads it.
bool copy_ppd(const char *driverName, const std::string &dir) {
  const char *ppdDir = getenv("STROBANE_PPD_DIR");
  std::string from =
      std::string(ppdDir && *ppdDir ? ppdDir : STROBANE_PPD_DIR) + "/" + driverName + ".ppd";
  FILE *in = fopen(from.c_str(), "rbe");
  if (!in)
    return false;
  std::string to = dir + "/model.ppd";
  FILE *out = fopen(to.c_str(), "wbxe");
  bool copied = out != nullptr;
  char buffer[8192];
  size_t got;
  while (copied && (got = fread(buffer, 1, sizeof buffer, in)) > 0)
    copied = fwrite(buffer, 1, got, out) == got;
  fclose(in);
  if (out && fclose(out) != 0)
    copied = false;
  return copied && chmod(to.c_str(), 0644) == 0;
}

} // namespace

pdf_facts_t read_pdf_facts(const std::string &text) {
  pdf_facts_t facts;
  const char *line = text.c_str();
  while (*line) {
    int page;
    double width, height;
    if (!strncmp(line, "Pages:", 6))
      facts.pages = atoi(line + 6);
    else if (!strncmp(line, "JavaScript:", 11))
      facts.javascript = strstr(line, "yes") && strstr(line, "yes") < strchr(line, '\n');
    else if (sscanf(line, "Page %d size: %lf x %lf", &page, &width, &height) == 3 &&
             !facts.largePage && (width > kPdfMaxPageSide || height > kPdfMaxPageSide)) {
      facts.largePage = page;
      facts.largeWidth = width;
      facts.largeHeight = height;
    }
    const char *next = strchr(line, '\n');
    line = next ? next + 1 : line + strlen(line);
  }
  return facts;
}

namespace {

// The last line a program wrote with the given start, without it; empty when none.
std::string last_line_starting(const std::string &text, const char *start) {
  std::string found;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos)
      end = text.size();
    if (!text.compare(at, strlen(start), start))
      found = text.substr(at + strlen(start), end - at - strlen(start));
    at = end + 1;
  }
  return found;
}

// The CUPS options that a queue's filters take for the job's size, scaling, orientation
// and pages: the names and values lp would send for them. Copies are the driver's.
std::string cups_options(pappl_job_t *job, const pappl_pr_options_t *options) {
  std::string text = "media=";
  text += options->media.size_name[0] ? options->media.size_name : "custom_label";
  for (const auto &entry : kScalingKeywords)
    if (options->print_scaling == entry.scaling)
      text += std::string(" print-scaling=") + entry.keyword;
  // Without a requested orientation, the filters turn a landscape page to the label.
  if (ipp_attribute_t *orientation = papplJobGetAttribute(job, "orientation-requested")) {
    int value = ippGetInteger(orientation, 0);
    if (value >= IPP_ORIENT_PORTRAIT && value <= IPP_ORIENT_REVERSE_PORTRAIT)
      text += " orientation-requested=" + std::to_string(value);
  }
  if (ipp_attribute_t *ranges = papplJobGetAttribute(job, "page-ranges")) {
    text += " page-ranges=";
    for (int i = 0; i < ippGetCount(ranges); i++) {
      int upper;
      int lower = ippGetRange(ranges, i, &upper);
      text += i ? "," : "";
      text += std::to_string(lower) + "-" + std::to_string(upper);
    }
  }
  return text;
}

// Refuse a document that the first look found beyond the bounds; false when it is within.
bool refuse_beyond_bounds(pappl_job_t *job, const pdf_facts_t &facts) {
  char message[256];
  if (facts.pages < 1) {
    refuse_document(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, "The PDF document has no page.");
    return true;
  }
  if (facts.pages > kPdfMaxPages) {
    snprintf(message, sizeof message,
             "The PDF document has %d pages; the printer takes at most %d.", facts.pages,
             kPdfMaxPages);
  } else if (facts.largePage) {
    snprintf(message, sizeof message,
             "Page %d of the PDF document is %.0f x %.0f in; the printer takes pages of at most "
             "%.0f in a side.",
             facts.largePage, facts.largeWidth / 72, facts.largeHeight / 72, kPdfMaxPageSide / 72);
  } else if (facts.javascript) {
    snprintf(message, sizeof message,
             "The PDF document carries JavaScript, which the printer does not run.");
  } else {
    return false;
  }
  refuse_document(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, message);
  return true;
}

// Refuse a run that did not end well, with what its programs said; false when it did.
bool refuse_failed_run(pappl_job_t *job, const render_result_t &result, const std::string &errors,
                       const document_printing_t &printing) {
  char message[512];
  std::string said = last_line_starting(errors, "ERROR: ");
  switch (result.end) {
  case render_end_t::finished:
    // Ghostscript leaves out what a document draws from other files, and says so.
    if (errors.find("Failed to open file") == std::string::npos)
      return false;
    snprintf(message, sizeof message,
             "The PDF document draws from a file outside itself, which the printer does not "
             "read.");
    break;
  case render_end_t::canceled:
    // The caller, once the run's directory is gone, waits for a stop.
    return true;
  case render_end_t::timed_out:
    snprintf(message, sizeof message,
             "The PDF document took longer than %d s to render; the printer stopped it.",
             printing.renderSeconds);
    break;
  case render_end_t::not_started:
    snprintf(message, sizeof message, "The PDF renderer cannot be started.");
    break;
  case render_end_t::failed:
    if (!said.empty())
      snprintf(message, sizeof message, "The PDF document cannot be rendered: %s",
               said.substr(0, 400).c_str());
    else if (result.status > 128)
      snprintf(message, sizeof message,
               "The PDF document cannot be rendered: %s ended on signal %d (past its bounds of "
               "time, memory or output, say).",
               result.program.substr(result.program.rfind('/') + 1).c_str(), result.status - 128);
    else
      snprintf(message, sizeof message, "The PDF document cannot be rendered: %s failed (%d).",
               result.program.substr(result.program.rfind('/') + 1).c_str(), result.status);
    break;
  }
  refuse_document(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, message);
  return true;
}

// Look at the document, render it into the raster file and say whether that may print;
// stopped says when a cancel or a stop ended the run.
bool render_pdf(pappl_job_t *job, int pdfFd, const std::string &dir, int rasterFd,
                const document_printing_t &printing, bool *stopped) {
  const label_model_t *model = printer_model(papplJobGetPrinter(job));
  if (!copy_ppd(model->driverName, dir))
    return refuse_document(
        job, PAPPL_JREASON_ERRORS_DETECTED,
        "The printer's PPD cannot be read: the PDF document cannot be rendered.");
  int infoFd = open_output_file(dir, "info"), errFd = open_output_file(dir, "errors");
  if (infoFd < 0 || errFd < 0) {
    if (infoFd >= 0)
      close(infoFd);
    if (errFd >= 0)
      close(errFd);
    return refuse_document(job, PAPPL_JREASON_ERRORS_DETECTED,
                           "No room for the PDF renderer's files in the temporary directory.");
  }
  render_limits_t limits = {printing.renderSeconds, kPdfRendererBytes, kPdfRasterBytes};
  pdf_run_t run = {job, &printing};
  bool printable = false;
  render_result_t result =
      run_render_steps({{"/usr/bin/pdfinfo", {"-f", "1", "-l", std::to_string(kPdfMaxPages), "-"}}},
                       {}, pdfFd, infoFd, errFd, dir, limits, job_is_canceled, &run);
  std::string errors = read_output(errFd);
  if (result.end == render_end_t::failed) {
    std::string said = last_line_starting(errors, "Syntax Error: ");
    if (said.empty())
      said = "it is not a PDF file";
    char message[512];
    snprintf(message, sizeof message, "The PDF document cannot be read: %s.",
             said.substr(0, 400).c_str());
    refuse_document(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, message);
  } else if (!refuse_failed_run(job, result, errors, printing) &&
             !refuse_beyond_bounds(job, read_pdf_facts(read_output(infoFd)))) {
    pappl_pr_options_t *printOptions = papplJobCreatePrintOptions(job, 1, false);
    std::string options = cups_options(job, printOptions);
    papplJobDeletePrintOptions(printOptions);
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Rendering the PDF document with \"%s\".",
                options.c_str());
    const char *name = papplPrinterGetName(papplJobGetPrinter(job));
    std::vector<std::string> env = {"PPD=" + dir + "/model.ppd",
                                    "CONTENT_TYPE=application/pdf",
                                    "FINAL_CONTENT_TYPE=application/vnd.cups-raster",
                                    "CUPS_SERVERBIN=" STROBANE_CUPS_SERVERBIN,
                                    "CUPS_DATADIR=/usr/share/cups",
                                    "CHARSET=utf-8",
                                    std::string("PRINTER=") + (name ? name : "label")};
    std::vector<std::string> args = {std::to_string(papplJobGetID(job)), "user", "document", "1",
                                     options};
    // pdfinfo's own lines and its place in the document go before the renderer starts.
    if (ftruncate(errFd, 0) != 0 || lseek(errFd, 0, SEEK_SET) < 0 ||
        lseek(pdfFd, 0, SEEK_SET) < 0) {
      refuse_document(job, PAPPL_JREASON_ERRORS_DETECTED, "The PDF document cannot be read again.");
    } else {
      result = run_render_steps({{STROBANE_CUPS_SERVERBIN "/filter/pdftopdf", args},
                                 {STROBANE_CUPS_SERVERBIN "/filter/gstoraster", args}},
                                env, pdfFd, rasterFd, errFd, dir, limits, job_is_canceled, &run);
      printable = !refuse_failed_run(job, result, read_output(errFd), printing);
    }
  }
  close(infoFd);
  close(errFd);
  *stopped = result.end == render_end_t::canceled;
  return printable;
}

} // namespace

bool print_pdf(pappl_job_t *job, pappl_device_t *device, void *data) {
  const auto &printing = *static_cast<document_printing_t *>(data);
  const char *filename = papplJobGetFilename(job);
  int pdfFd = filename ? open(filename, O_RDONLY | O_CLOEXEC) : -1;
  if (pdfFd < 0)
    return refuse_document(job, PAPPL_JREASON_ERRORS_DETECTED, "Unable to open the PDF document.");
  // The raster lies beside the job's document, out of the renderer's reach but for the
  // descriptor it writes to.
  char name[1024] = "";
  papplJobOpenFile(job, name, sizeof name, nullptr, "ras", "x");
  int rasterFd =
      name[0] ? open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600) : -1;
  if (rasterFd >= 0)
    unlink(name);
  std::string dir =
      rasterFd >= 0 ? make_render_dir(render_parent_dir(), printing.renderOwner) : std::string();
  bool printed = false;
  if (dir.empty()) {
    refuse_document(job, PAPPL_JREASON_ERRORS_DETECTED,
                    "No room for the PDF renderer's files: the document cannot be rendered.");
  } else {
    bool stopped = false;
    bool rendered = render_pdf(job, pdfFd, dir, rasterFd, printing, &stopped);
    // The directory goes before anything waits: a job that stops waits for the server to
    // end, and the raster it prints lies outside it.
    remove_render_dir(dir);
    if (rendered) {
      lseek(rasterFd, 0, SEEK_SET);
      printed = print_raster_fd(job, device, rasterFd, printing);
    } else if (stopped) {
      // A stop, not a cancel: the job waits for the stop and prints after the next start.
      printing.jobIsStopping(job);
    }
  }
  if (rasterFd >= 0)
    close(rasterFd);
  close(pdfFd);
  return printed;
}
