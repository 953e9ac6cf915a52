// SPDX-License-Identifier: Apache-2.0
#include "app/printer/label_models.h"

#include <cstring>

// Each head prints up to its width (832 dots at 203 dpi is 4.09 in, 1248 at 300 dpi
// 4.16 in) and 39 in long, as the PPDs allow.
const label_model_t g_label_models[kModelCount] = {
    {"strb203", "Strobane Label 203dpi", "MFG:Strobane;MDL:Label 203dpi;CMD:LABEL;", "203dpi", 203,
     203200, 832, 203 * 39, "custom_max_4.09x39in"},
    {"strb300", "Strobane Label 300dpi", "MFG:Strobane;MDL:Label 300dpi;CMD:LABEL;", "300dpi", 300,
     304800, 1248, 300 * 39, "custom_max_4.16x39in"},
};

const label_media_t g_label_media[kLabelMediaCount] = {
    {"om_small-photo_100x150mm", "100mmx150mm"},
    {"oe_1-5x1-label_1.5x1in", "1.50x1.00in"},
    {"oe_2x1-label_2x1in", "2.00x1.00in"},
    {"oe_2x2-label_2x2in", "2.00x2.00in"},
    {"oe_2-25x1-25-label_2.25x1.25in", "2.25x1.25in"},
    {"oe_3x1-label_3x1in", "3.00x1.00in"},
    {"oe_3x1-25-label_3x1.25in", "3.00x1.25in"},
    {"oe_3x2-label_3x2in", "3.00x2.00in"},
    {"oe_3x3-label_3x3in", "3.00x3.00in"},
    {"oe_4x1-label_4x1in", "4.00x1.00in"},
    {"oe_4x2-label_4x2in", "4.00x2.00in"},
    {"oe_4x3-label_4x3in", "4.00x3.00in"},
    {"oe_4x4-label_4x4in", "4.00x4.00in"},
    {"oe_4x5-label_4x5in", "4.00x5.00in"},
    {"na_index-4x6_4x6in", "4.00x6.00in"},
    {"oe_4x6-5-label_4x6.5in", "4.00x6.50in"},
    {"oe_4x13-label_4x13in", "4.00x13.00in"},
};

namespace {

// Every device ID of ours names the maker first.
constexpr char kMakerId[] = "MFG:Strobane;";

} // namespace

const label_model_t *find_label_model(const char *driverName) {
  for (const label_model_t &model : g_label_models)
    if (driverName && !strcmp(model.driverName, driverName))
      return &model;
  return nullptr;
}

const label_model_t *printer_model(pappl_printer_t *printer) {
  const label_model_t *model = find_label_model(papplPrinterGetDriverName(printer));
  return model ? model : &g_label_models[0];
}

const label_model_t *match_label_model(const char *deviceId) {
  if (!deviceId || !strstr(deviceId, kMakerId))
    return nullptr;
  for (const label_model_t &model : g_label_models)
    if (strstr(deviceId, model.deviceIdMatch))
      return &model;
  return &g_label_models[0];
}

pappl_pr_driver_t *label_driver_list() {
  static pappl_pr_driver_t *drivers = [] {
    static pappl_pr_driver_t list[kModelCount];
    for (int i = 0; i < kModelCount; i++)
      list[i] = {g_label_models[i].driverName, g_label_models[i].description,
                 g_label_models[i].deviceId, nullptr};
    return list;
  }();
  return drivers;
}
