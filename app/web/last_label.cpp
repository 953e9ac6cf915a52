// SPDX-License-Identifier: Apache-2.0
#include "app/web/last_label.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <new>

#include "app/job/sent_labels.h"
#include "app/printer/label_models.h"
#include "app/web/page_guard.h"
#include "view/label_picture.h"
#include "view/label_stream.h"
#include "view/png_writer.h"

namespace {

// The printer's resolution as the viewer takes it.
int64_t printer_milli_dpi(pappl_printer_t *printer) {
  return printer_model(printer)->milliDpi;
}

// The kept block as the viewer reads it: its one label, or why there is none to draw.
struct read_back_t {
  parsed_block_t block;
  label_geometry_t geometry;
  std::string problem;
};

// Read the kept block back as the viewer reads a stream and lay its label on the paper.
read_back_t read_back(const last_label_t &label, int64_t milliDpi) {
  read_back_t result{};
  parsed_stream_t parsed;
  try {
    if (!label.block.empty())
      parsed = parse_label_stream(label.block);
  } catch (const std::bad_alloc &) {
    parsed.labels.clear();
  }
  if (label.block.empty() || (!parsed.error && parsed.labels.empty())) {
    result.problem = "There was not enough memory for a copy of it.";
    return result;
  }
  // A block cut by a cancel or a stop ends right after its image, without PRINT: that
  // label is shown as not printed, not as a fault.
  bool cut = parsed.error && parsed.labels.size() == 1 && !parsed.labels[0].copies &&
             parsed.error->offset == label.block.size();
  if (parsed.error && !cut)
    result.problem = "The block sent is not well formed: byte " +
                     std::to_string(parsed.error->offset) + ": " + parsed.error->message + ".";
  else if (parsed.labels.size() != 1)
    result.problem = "The block sent holds " + std::to_string(parsed.labels.size()) + " labels.";
  if (!result.problem.empty())
    return result;
  result.block = std::move(parsed.labels[0]);
  result.geometry = measure_label(result.block, milliDpi);
  if (std::string undrawable = undrawable_paper_text(result.geometry); !undrawable.empty())
    result.problem = "No picture: " + undrawable + ".";
  return result;
}

// Send the last label's picture as PNG, as strobane-view draws it. A label may carry
// names and addresses, so only those who may administer the printer see it: anyone on
// this computer, and from elsewhere users who sign in.
bool serve_label_picture(pappl_client_t *client, void *printerId) {
  if (http_status_t status = papplClientIsAuthorized(client); status != HTTP_STATUS_CONTINUE)
    return papplClientRespond(client, status, nullptr, nullptr, 0, 0);
  pappl_printer_t *printer = page_printer(client, printerId);
  std::shared_ptr<const last_label_t> label =
      printer ? find_last_label(papplPrinterGetID(printer)) : nullptr;
  if (!label)
    return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  int64_t milliDpi = printer_milli_dpi(printer);
  read_back_t picture = read_back(*label, milliDpi);
  auto row = [&](uint32_t y, uint8_t *bits) {
    draw_paper_row(picture.block, picture.geometry, y, bits);
  };
  std::string png, error;
  try {
    if (picture.problem.empty())
      encode_gray1_png(static_cast<uint32_t>(picture.geometry.paperWidth),
                       static_cast<uint32_t>(picture.geometry.paperHeight), milliDpi, row, &png,
                       &error);
  } catch (const std::bad_alloc &) {
    png.clear();
  }
  if (png.empty())
    return papplClientRespond(client, HTTP_STATUS_SERVER_ERROR, nullptr, nullptr, 0, 0);
  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "image/png", label->sent, png.size()))
    return false;
  return httpWrite2(papplClientGetHTTP(client), png.data(), png.size()) ==
         static_cast<ssize_t>(png.size());
}

// Show when the label was sent, the viewer's summary line and warnings, and beside them
// the picture, which links to itself at full size.
void show_last_label(pappl_client_t *client, pappl_printer_t *printer, const last_label_t &label) {
  char when[64];
  struct tm local;
  strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", localtime_r(&label.sent, &local));
  papplClientHTMLPrintf(client,
                        "          <div style=\"display: flex; flex-wrap: wrap; gap: 0 30px;\">\n"
                        "          <div style=\"flex: 0 1 560px;\">\n"
                        "          <p>Job %d, page %u, sent to the printer at %s.</p>\n",
                        label.jobId, label.page, when);
  read_back_t picture = read_back(label, printer_milli_dpi(printer));
  if (!picture.problem.empty()) {
    papplClientHTMLPrintf(client, "          <p>%s</p>\n          </div></div>\n",
                          picture.problem.c_str());
    return;
  }
  if (picture.block.copies)
    papplClientHTMLPrintf(client, "          <pre class=\"summary\">%s</pre>\n",
                          summary_line(1, picture.block, picture.geometry).c_str());
  else
    papplClientHTMLPuts(client,
                        "          <p>Not printed: its job was cancelled, or the application "
                        "stopped, while it was being sent, so the block ends without "
                        "PRINT.</p>\n");
  std::string lost = lost_dots_text(lost_dark_dots(picture.block, picture.geometry));
  if (!lost.empty())
    papplClientHTMLPrintf(client, "          <p>Warning: %s.</p>\n", lost.c_str());
  char path[256];
  papplPrinterGetPath(printer, "last-label.png", path, sizeof path);
  papplClientHTMLPrintf(
      client,
      "          <p>The picture is drawn from the bytes the printer received, one pixel a dot, "
      "as strobane-view draws them.</p>\n"
      "          </div>\n"
      "          <p><a href=\"%s?%u\"><img id=\"last-label\" src=\"%s?%u\" alt=\"The last label\" "
      "style=\"max-width: 100%%; max-height: calc(100vh - 260px); border: 1px solid #888;\">"
      "</a></p>\n"
      "          </div>\n",
      path, label.serial, path, label.serial);
}

// Send the "Last Label" page.
bool serve_label_page(pappl_client_t *client, void *printerId) {
  pappl_printer_t *printer = page_printer(client, printerId);
  if (!printer)
    return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  // Ask a browser elsewhere to sign in; one signed in as a user who may not administer
  // the printer gets the page without the label.
  http_status_t status = papplClientIsAuthorized(client);
  if (status == HTTP_STATUS_UNAUTHORIZED || status == HTTP_STATUS_UPGRADE_REQUIRED)
    return papplClientRespond(client, status, nullptr, nullptr, 0, 0);
  papplClientHTMLPrinterHeader(client, printer, "Last Label", 0, nullptr, nullptr);
  if (status != HTTP_STATUS_CONTINUE)
    papplClientHTMLPuts(client, "          <p>A label may carry names and addresses: it is shown "
                                "only to those who may administer the printer.</p>\n");
  else if (std::shared_ptr<const last_label_t> label = find_last_label(papplPrinterGetID(printer)))
    show_last_label(client, printer, *label);
  else
    papplClientHTMLPuts(client,
                        "          <p>No label has been printed since the server started.</p>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

} // namespace

void add_last_label_page(pappl_printer_t *printer) {
  pappl_system_t *system = papplPrinterGetSystem(printer);
  void *printerId = printer_page_data(printer);
  char page[256], picture[256];
  papplPrinterGetPath(printer, "last-label", page, sizeof page);
  papplPrinterGetPath(printer, "last-label.png", picture, sizeof picture);
  // A printer added again under a deleted one's name takes over its paths.
  papplSystemRemoveResource(system, page);
  papplSystemRemoveResource(system, picture);
  papplSystemAddResourceCallback(system, page, "text/html", serve_label_page, printerId);
  papplSystemAddResourceCallback(system, picture, "image/png", serve_label_picture, printerId);
  papplPrinterAddLink(
      printer, "Last Label", page,
      static_cast<pappl_loptions_t>(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS));
}
