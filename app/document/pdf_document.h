// SPDX-License-Identifier: Apache-2.0
// PDF documents, rendered as a CUPS queue with the model's PPD renders them (CUPS's own
// pdftopdf and gstoraster, with the job's size, scaling, orientation and pages) in a
// separate process, into CUPS raster read back by the spooled raster reader: the
// application prints the label the filter prints from the same queue.
#pragma once

#include <pappl/pappl.h>
#include <string>

// The bounds of a PDF document: its pages, each page's sides in points (50 in), what its
// renderer may take of memory and write; its time is the filters' renderSeconds.
inline constexpr int kPdfMaxPages = 100;
inline constexpr double kPdfMaxPageSide = 3600;
inline constexpr long long kPdfRendererBytes = 1LL << 30;
inline constexpr long long kPdfRasterBytes = 512LL << 20;

// What the first look at a document found, from pdfinfo's lines.
struct pdf_facts_t {
  int pages = 0;
  bool javascript = false;
  int largePage = 0; // the first page past the bound on its sides
  double largeWidth = 0, largeHeight = 0;
};

// Read pdfinfo's page count, JavaScript line and page sizes.
pdf_facts_t read_pdf_facts(const std::string &text);

// Where the PPDs are found: the installed ones, unless STROBANE_PPD_DIR names others.
#ifndef STROBANE_PPD_DIR
#define STROBANE_PPD_DIR "/usr/share/ppd/strobane"
#endif
#ifndef STROBANE_CUPS_SERVERBIN
#define STROBANE_CUPS_SERVERBIN "/usr/lib/cups"
#endif

// PAPPL's document filter for PDF: check, render and print the job's file within the
// bounds and through the raster callbacks in data, a document_printing_t.
bool print_pdf(pappl_job_t *job, pappl_device_t *device, void *data);
