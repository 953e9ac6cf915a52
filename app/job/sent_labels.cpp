// SPDX-License-Identifier: Apache-2.0
#include "app/job/sent_labels.h"

#include <map>
#include <mutex>
#include <new>

namespace {

std::mutex g_lastLabelsMutex;
std::map<int, std::shared_ptr<const last_label_t>> g_lastLabels;
unsigned g_labelsKept;

} // namespace

void keep_last_label(pappl_printer_t *printer, pappl_job_t *job, unsigned page, std::string block) {
  int printerId = papplPrinterGetID(printer);
  std::lock_guard<std::mutex> lock(g_lastLabelsMutex);
  g_lastLabels.erase(printerId);
  try {
    g_lastLabels.emplace(
        printerId, std::make_shared<last_label_t>(last_label_t{
                       std::move(block), papplJobGetID(job), page, time(nullptr), ++g_labelsKept}));
  } catch (const std::bad_alloc &) {
    // Without memory for the record the printer shows no last label, rather than an older one.
  }
}

std::shared_ptr<const last_label_t> find_last_label(int printerId) {
  std::lock_guard<std::mutex> lock(g_lastLabelsMutex);
  auto found = g_lastLabels.find(printerId);
  return found == g_lastLabels.end() ? nullptr : found->second;
}
