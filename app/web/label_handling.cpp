// SPDX-License-Identifier: Apache-2.0
#include "app/web/label_handling.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "app/job/print_settings.h"
#include "app/printer/device_commands.h"
#include "app/web/page_guard.h"

namespace {

// The calibration line for the media jobs print on by default: the gap sensor for
// labels with gaps, the black-mark sensor for marked stock, none for continuous media.
const char *calibration_command(pappl_printer_t *printer) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  if (data.media_default.tracking == PAPPL_MEDIA_TRACKING_MARK)
    return "BLINEDETECT";
  if (data.media_default.tracking == PAPPL_MEDIA_TRACKING_CONTINUOUS)
    return nullptr;
  return "GAPDETECT";
}

// Make the mode named by the keyword the printer's label mode; say what was done.
std::string set_label_mode(pappl_printer_t *printer, const char *keyword) {
  for (const label_mode_name_t &name : g_label_mode_names)
    if (keyword && !strcmp(keyword, name.keyword)) {
      pappl_pr_driver_data_t data;
      papplPrinterGetDriverData(printer, &data);
      data.mode_configured = name.mode;
      if (!papplPrinterSetDriverDefaults(printer, &data, 0, nullptr))
        return "The label mode could not be changed.";
      return std::string("The label mode is now ") + name.text + ".";
    }
  return "Unknown label mode: the label mode is unchanged.";
}

// Act on the page's form and say what happened, in one sentence for the page.
std::string act_on_form(pappl_client_t *client, pappl_printer_t *printer) {
  cups_option_t *form = nullptr;
  int num_form = papplClientGetForm(client, &form);
  std::string said;
  const char *action = cupsGetOption("action", num_form, form);
  const char *command = nullptr;
  if (!papplClientIsValidForm(client, num_form, form))
    said = "The form was not sent from this page: nothing was sent to the printer.";
  else if (action && !strcmp(action, "label-mode"))
    said = set_label_mode(printer, cupsGetOption("label-mode", num_form, form));
  else if (action && !strcmp(action, "feed"))
    command = "FORMFEED";
  else if (action && !strcmp(action, "calibrate") && !(command = calibration_command(printer)))
    said = "Continuous media has no labels to measure: nothing was sent to the printer.";
  else if (!command)
    said = "Unknown action: nothing was sent to the printer.";
  cupsFreeOptions(num_form, form);
  if (!command)
    return said;
  if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING)
    return "A job is printing: nothing was sent. Try again once it has ended.";
  if (!send_device_command(printer, command))
    return std::string("The printer could not be reached, or was busy: ") + command +
           " was not sent.";
  return std::string("Sent ") + command + " to the printer.";
}

// Write one button's form.
void show_button(pappl_client_t *client, const char *path, const char *action, const char *label,
                 bool disabled) {
  papplClientHTMLStartForm(client, path, false);
  papplClientHTMLPrintf(client,
                        "<input type=\"hidden\" name=\"action\" value=\"%s\">"
                        "<input type=\"submit\" id=\"%s\" value=\"%s\"%s></form>\n",
                        action, action, label, disabled ? " disabled" : "");
}

// Write the label mode's form: a choice of the modes, the printer's own selected.
void show_label_mode(pappl_client_t *client, pappl_printer_t *printer, const char *path) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  papplClientHTMLPuts(client, "          <p>What the printer does with each printed label; it "
                              "applies to the jobs that start from now on.</p>\n");
  papplClientHTMLStartForm(client, path, false);
  papplClientHTMLPuts(client, "<input type=\"hidden\" name=\"action\" value=\"label-mode\">"
                              "<select name=\"label-mode\" id=\"label-mode\">");
  for (const label_mode_name_t &name : g_label_mode_names)
    papplClientHTMLPrintf(
        client, "<option value=\"%s\"%s>%s</option>", name.keyword,
        label_mode_for(data.mode_configured) == label_mode_for(name.mode) ? " selected" : "",
        name.text);
  papplClientHTMLPuts(client, "</select> <input type=\"submit\" id=\"set-label-mode\" "
                              "value=\"Set the label mode\"></form>\n");
}

// Send the "Label Handling" page, acting first on its form. Its buttons move the printer
// and change its settings, so they are for those who may administer it, as the last
// label is.
bool serve_device_page(pappl_client_t *client, void *printerId) {
  pappl_printer_t *printer = page_printer(client, printerId);
  if (!printer)
    return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  http_status_t status = papplClientIsAuthorized(client);
  bool posted = papplClientGetMethod(client) == HTTP_STATE_POST;
  if (status == HTTP_STATUS_UNAUTHORIZED || status == HTTP_STATUS_UPGRADE_REQUIRED ||
      (posted && status != HTTP_STATUS_CONTINUE))
    return papplClientRespond(client, status, nullptr, nullptr, 0, 0);
  std::string said = posted ? act_on_form(client, printer) : "";

  papplClientHTMLPrinterHeader(client, printer, "Label Handling", 0, nullptr, nullptr);
  if (status != HTTP_STATUS_CONTINUE) {
    papplClientHTMLPuts(client, "          <p>The label mode, feeding and calibrating are "
                                "offered only to those who may administer the printer.</p>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
  }
  if (!said.empty()) {
    papplClientHTMLPuts(client, "          <p id=\"said\">");
    papplClientHTMLEscape(client, said.c_str(), 0);
    papplClientHTMLPuts(client, "</p>\n");
  }
  bool printing = papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING;
  if (printing)
    papplClientHTMLPuts(client, "          <p>A job is printing: the buttons work once it has "
                                "ended.</p>\n");
  char path[256];
  papplPrinterGetPath(printer, "device", path, sizeof path);
  show_label_mode(client, printer, path);
  papplClientHTMLPuts(client, "          <p>Feed a label to check that labels stop at the tear "
                              "bar after a new roll is loaded.</p>\n");
  show_button(client, path, "feed", "Feed a label", printing);
  if (const char *command = calibration_command(printer)) {
    papplClientHTMLPrintf(client,
                          "          <p>Calibrate the label sensor after loading a new roll: "
                          "the printer feeds labels until it has measured the %s.</p>\n",
                          !strcmp(command, "GAPDETECT") ? "gap" : "black mark");
    show_button(client, path, "calibrate", "Calibrate the label sensor", printing);
  } else {
    papplClientHTMLPuts(client, "          <p>The media is continuous: there is no label sensor "
                                "to calibrate.</p>\n");
  }
  papplClientHTMLPrinterFooter(client);
  return true;
}

} // namespace

void add_device_actions_page(pappl_printer_t *printer) {
  pappl_system_t *system = papplPrinterGetSystem(printer);
  char path[256];
  papplPrinterGetPath(printer, "device", path, sizeof path);
  // A printer added again under a deleted one's name takes over its path.
  papplSystemRemoveResource(system, path);
  papplSystemAddResourceCallback(system, path, "text/html", serve_device_page,
                                 printer_page_data(printer));
  papplPrinterAddLink(
      printer, "Label Handling", path,
      static_cast<pappl_loptions_t>(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS));
}
