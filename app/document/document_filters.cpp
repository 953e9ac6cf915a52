// SPDX-License-Identifier: Apache-2.0
#include "app/document/document_filters.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <vector>

#include "app/document/pdf_document.h"
#include "app/document/raster_file.h"
#include "app/document/render_process.h"

namespace {

const char kUnsupportedDocument[] =
    "Unsupported document: the printer takes PDF, PWG or Apple raster, PNG and JPEG.";

// The formats the filters below and PAPPL's JPEG decoder print.
const char *const kTakenFormats[] = {"application/pdf", "image/pwg-raster", "image/urf",
                                     "image/png", "image/jpeg"};

// PAPPL asks for each document's format, typed by its first bytes when sent as
// application/octet-stream (null when they are nothing known), before it makes a job:
// anything else would be taken, then end its job, which CUPS shows as completed.
bool take_document_format(pappl_client_t *client, const char *format, void *) {
  for (const char *taken : kTakenFormats)
    if (format && !strcmp(format, taken))
      return true;
  papplClientRespondIPP(client, IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED, "%s",
                        kUnsupportedDocument);
  return false;
}

// A job in the driver's own format: take_document_format refuses requests in it, so only
// a job restored from the spool has it.
bool refuse_unknown_document(pappl_job_t *job, pappl_device_t *, void *) {
  return refuse_document(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, kUnsupportedDocument);
}

// Refuse an image beyond the bound with its size; false when it is within it.
bool refuse_large_image(pappl_job_t *job, const char *kind, unsigned width, unsigned height) {
  if (width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
      size_t{width} * height <= kMaxImagePixels)
    return false;
  char message[256];
  snprintf(message, sizeof message,
           "The %s image is %ux%u pixels; the printer takes at most %zu pixels, %d a side.", kind,
           width, height, kMaxImagePixels, kMaxImageSide);
  refuse_document(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, message);
  return true;
}

uint32_t read_be32(const unsigned char *bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

// The image's resolution from its pHYs chunk, 0 when it has none in metres; the
// simplified libpng reader does not report it, and PAPPL places the image by it.
int read_png_ppi(FILE *fp) {
  unsigned char chunk[8 + 9];
  if (fseek(fp, 8, SEEK_SET))
    return 0;
  while (fread(chunk, 1, 8, fp) == 8) {
    uint32_t length = read_be32(chunk);
    if (!memcmp(chunk + 4, "IDAT", 4) || length > 0x7fffffff)
      break;
    if (!memcmp(chunk + 4, "pHYs", 4) && length == 9) {
      if (fread(chunk + 8, 1, 9, fp) != 9 || chunk[16] != 1)
        return 0;
      return static_cast<int>(std::lround(read_be32(chunk + 8) * 0.0254));
    }
    if (fseek(fp, static_cast<long>(length) + 4, SEEK_CUR))
      break;
  }
  return 0;
}

// Decode a PNG label to gray over white and print it through the raster callbacks.
// PAPPL's own decoder loops for ever on a file cut short and keeps colour images in RGB.
bool print_png(pappl_job_t *job, pappl_device_t *device, void *) {
  const char *filename = papplJobGetFilename(job);
  FILE *fp = filename ? fopen(filename, "rb") : nullptr;
  if (!fp)
    return refuse_document(job, PAPPL_JREASON_ERRORS_DETECTED, "Unable to open the PNG image.");
  int ppi = read_png_ppi(fp);
  rewind(fp);

  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  bool ok = png_image_begin_read_from_stdio(&image, fp);
  char message[256];
  if (ok && refuse_large_image(job, "PNG", image.width, image.height)) {
    png_image_free(&image);
    fclose(fp);
    return false;
  }
  std::vector<unsigned char> pixels;
  if (ok) {
    image.format = PNG_FORMAT_GRAY;
    const png_color white = {255, 255, 255};
    pixels.assign(PNG_IMAGE_SIZE(image), 255);
    ok = png_image_finish_read(&image, &white, pixels.data(), 0, nullptr);
  }
  fclose(fp);
  if (!ok) {
    snprintf(message, sizeof message, "The PNG image cannot be read: %s.", image.message);
    png_image_free(&image);
    return refuse_document(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, message);
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "PNG image is %ux%u pixels at %d ppi.", image.width,
              image.height, ppi);
  pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 1, false);
  bool printed =
      papplJobFilterImage(job, device, options, pixels.data(), static_cast<int>(image.width),
                          static_cast<int>(image.height), 1, ppi, false);
  papplJobDeletePrintOptions(options);
  return printed;
}

} // namespace

bool refuse_document(pappl_job_t *job, pappl_jreason_t reason, const char *message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  papplJobSetMessage(job, "%s", message);
  papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
  return false;
}

bool is_raster_format(const char *format) {
  return format && (!strcmp(format, "image/pwg-raster") || !strcmp(format, "image/urf"));
}

void add_label_filters(pappl_system_t *system, document_printing_t *printing) {
  // PAPPL looks for a filter to the driver's format before its own to raster, so these
  // come first.
  papplSystemAddMIMEFilter(system, "image/png", kLabelNativeFormat, print_png, nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", kLabelNativeFormat, print_pdf, printing);
  papplSystemAddMIMEFilter(system, kLabelNativeFormat, kLabelNativeFormat, refuse_unknown_document,
                           nullptr);
  // PWG and Apple raster that waited in the spool; PAPPL streams only from the client.
  papplSystemAddMIMEFilter(system, "image/pwg-raster", kLabelNativeFormat, print_raster_file,
                           printing);
  papplSystemAddMIMEFilter(system, "image/urf", kLabelNativeFormat, print_raster_file, printing);
  papplSystemSetFormatCallback(system, take_document_format, nullptr);

  if (!render_writes_confined())
    papplLog(system, PAPPL_LOGLEVEL_WARN,
             "The kernel has no Landlock: the PDF renderer may write wherever this account may.");

  // JPEG goes through PAPPL's own decoder, which takes gray for this printer (one byte a
  // pixel) and refuses a larger image with its size and this bound.
  papplSystemSetMaxImageSize(system, kMaxImagePixels, kMaxImageSide, kMaxImageSide);
}
