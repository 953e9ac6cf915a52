// SPDX-License-Identifier: Apache-2.0
#include "app/document/raster_file.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "app/document/document_filters.h"
#include "app/document/page_header.h"

namespace {

// Whether a page's header describes lines that can be read at all, as PAPPL checks them.
bool is_readable_header(const cups_page_header2_t &header) {
  return header.cupsWidth && header.cupsHeight &&
         (header.cupsBitsPerColor == 1 || header.cupsBitsPerColor == 8) &&
         header.cupsColorOrder == CUPS_ORDER_CHUNKED &&
         header.cupsBytesPerLine == (header.cupsWidth * header.cupsBitsPerPixel + 7) / 8;
}

// Dither a line of 8-bit pixels into the packed line of a 1-bit job, as PAPPL does when
// it streams such a page.
void dither_line(const cups_page_header2_t &header, const pappl_pr_options_t *options, unsigned y,
                 const unsigned char *pixels, unsigned char *line) {
  const unsigned char *dither = options->dither[y & 15];
  bool black = header.cupsColorSpace == CUPS_CSPACE_K;
  unsigned char byte = 0, bit = 128;
  for (unsigned x = 0; x < header.cupsWidth; x++) {
    if (black ? pixels[x] > dither[x & 15] : pixels[x] <= dither[x & 15])
      byte |= bit;
    if (bit == 1) {
      *line++ = byte;
      byte = 0;
      bit = 128;
    } else {
      bit /= 2;
    }
  }
  if (bit < 128)
    *line = byte;
}

// Send one page's lines to the callbacks: those the job's page has room for, white for
// those the document lacks; false when the document ended inside the page.
bool print_raster_page(pappl_job_t *job, cups_raster_t *raster, const cups_page_header2_t &header,
                       pappl_pr_options_t *options, pappl_device_t *device,
                       const document_printing_t &printing) {
  const cups_page_header2_t &out = options->header;
  bool dithered = header.cupsBitsPerPixel == 8 && out.cupsBitsPerPixel == 1;
  bool blackIsZero =
      header.cupsColorSpace == CUPS_CSPACE_K || header.cupsColorSpace == CUPS_CSPACE_CMYK;
  // The page has passed the print head's bounds, so its lines are a few kilobytes.
  std::vector<unsigned char> pixels(std::max(out.cupsBytesPerLine, header.cupsBytesPerLine),
                                    out.cupsColorSpace == CUPS_CSPACE_K ? 0 : 255);
  std::vector<unsigned char> line(out.cupsBytesPerLine);
  unsigned y = 0;
  for (; !papplJobIsCanceled(job) && y < header.cupsHeight && y < out.cupsHeight; y++) {
    if (!cupsRasterReadPixels(raster, pixels.data(), header.cupsBytesPerLine))
      break;
    if (dithered) {
      std::fill(line.begin(), line.end(), 0);
      dither_line(header, options, y, pixels.data(), line.data());
      printing.writeLine(job, options, device, y, line.data());
    } else {
      printing.writeLine(job, options, device, y, pixels.data());
    }
  }
  if (papplJobIsCanceled(job) || y >= header.cupsHeight) {
    // The page is shorter than the label: the rest is white.
    std::fill(line.begin(), line.end(), 0);
    std::fill(pixels.begin(), pixels.end(), blackIsZero ? 0 : 255);
    for (; !papplJobIsCanceled(job) && y < out.cupsHeight; y++)
      printing.writeLine(job, options, device, y, dithered ? line.data() : pixels.data());
    return true;
  }
  // The page is longer than the label: its further lines are read past.
  for (; y < header.cupsHeight; y++)
    if (!cupsRasterReadPixels(raster, pixels.data(), header.cupsBytesPerLine))
      return false;
  return true;
}

} // namespace

bool print_raster_file(pappl_job_t *job, pappl_device_t *device, void *data) {
  const char *filename = papplJobGetFilename(job);
  int fd = filename ? open(filename, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0)
    return refuse_document(job, PAPPL_JREASON_ERRORS_DETECTED,
                           "Unable to open the raster document.");
  bool printed = print_raster_fd(job, device, fd, *static_cast<document_printing_t *>(data));
  close(fd);
  return printed;
}

bool print_raster_fd(pappl_job_t *job, pappl_device_t *device, int fd,
                     const document_printing_t &printing) {
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  if (!raster || !cupsRasterReadHeader2(raster, &header)) {
    cupsRasterClose(raster);
    return refuse_document(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                           "The raster document cannot be read: it has no page.");
  }
  unsigned headerPages = header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount];
  if (headerPages > 0)
    papplJobSetImpressions(job, static_cast<int>(headerPages));
  pappl_pr_options_t *options = papplJobCreatePrintOptions(
      job, static_cast<unsigned>(papplJobGetImpressions(job)), header.cupsBitsPerPixel > 8);
  bool printed = printing.startJob(job, options, device);
  unsigned page = 0;
  while (printed && !papplJobIsCanceled(job)) {
    page++;
    papplJobSetImpressionsCompleted(job, 1);
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Page %u raster data is %ux%ux%u.", page,
                header.cupsWidth, header.cupsHeight, header.cupsBitsPerPixel);
    papplJobDeletePrintOptions(options);
    options = papplJobCreatePrintOptions(job, static_cast<unsigned>(papplJobGetImpressions(job)),
                                         header.cupsBitsPerPixel > 8);
    if (!is_readable_header(header)) {
      printed = refuse_document(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, kNotGrayRaster);
      break;
    }
    if (header.cupsBitsPerPixel > 8) {
      printed = refuse_document(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, kColourRaster);
      break;
    }
    // The client's header stands for pages of 8 bits, as when PAPPL streams them.
    if (options->header.cupsBitsPerPixel >= 8 && header.cupsBitsPerPixel >= 8)
      options->header = header;
    if (!printing.startPage(job, options, device, page)) {
      printed = false;
      break;
    }
    bool whole = print_raster_page(job, raster, header, options, device, printing);
    if (!printing.endPage(job, options, device, page)) {
      printed = false;
      break;
    }
    if (!whole) {
      printed = refuse_document(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                                "The raster document ended inside a page.");
      break;
    }
    if (!cupsRasterReadHeader2(raster, &header))
      break;
  }
  if (!printing.endJob(job, options, device))
    printed = false;
  else if (headerPages == 0)
    papplJobSetImpressions(job, static_cast<int>(page));
  papplJobDeletePrintOptions(options);
  cupsRasterClose(raster);
  return printed;
}
