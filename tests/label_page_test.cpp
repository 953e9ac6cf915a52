// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cups/ppd.h>
#include <string>
#include <vector>

#include "app/job/label_page.h"
#include "app/job/print_settings.h"
#include "render/label_sizes.h"

// libcups marks the PPD functions deprecated, but they are how CUPS reads our PPDs.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

const label_head_t kHead203 = model_head(find_label_model("strb203"));

// A header of the given size and form at 203 dpi, its bytes per line as the form has them.
cups_page_header2_t make_header(unsigned width, unsigned height, unsigned bits,
                                cups_cspace_t space) {
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  header.cupsWidth = width;
  header.cupsHeight = height;
  header.cupsBitsPerColor = header.cupsBitsPerPixel = bits;
  header.cupsColorSpace = space;
  header.HWResolution[0] = header.HWResolution[1] = 203;
  header.cupsBytesPerLine = (width * bits + 7) / 8;
  return header;
}

} // namespace

// Each line form becomes gray (0 black) and is converted as the filter converts that gray.
TEST(LabelPage, EachLineFormBecomesTheImageOfItsGrayWithZeroBlack) {
  struct Case {
    const char *name;
    unsigned bits;
    cups_cspace_t space;
    unsigned char line[10];
    unsigned char gray[10];
  } cases[] = {
      {"sgray 8",
       8,
       CUPS_CSPACE_SW,
       {0, 17, 128, 255, 1, 2, 3, 4, 5, 6},
       {0, 17, 128, 255, 1, 2, 3, 4, 5, 6}},
      {"gray 8",
       8,
       CUPS_CSPACE_W,
       {9, 0, 0, 0, 0, 0, 0, 0, 0, 255},
       {9, 0, 0, 0, 0, 0, 0, 0, 0, 255}},
      {"black 8",
       8,
       CUPS_CSPACE_K,
       {0, 17, 128, 255, 1, 2, 3, 4, 5, 6},
       {255, 238, 127, 0, 254, 253, 252, 251, 250, 249}},
      {"black 1", 1, CUPS_CSPACE_K, {0xA0, 0x40}, {0, 255, 0, 255, 255, 255, 255, 255, 255, 0}},
      {"gray 1", 1, CUPS_CSPACE_SW, {0xA0, 0x40}, {255, 0, 255, 0, 0, 0, 0, 0, 0, 255}},
  };
  for (const Case &c : cases) {
    for (int mode = 0; mode < 5; mode++) {
      SCOPED_TRACE(std::string(c.name) + ", mode " + std::to_string(mode));
      cups_page_header2_t header = make_header(10, 2, c.bits, c.space);
      label_page_t page;
      char message[256] = "";
      ASSERT_TRUE(start_label_page(&page, &header, &kHead203, 3, mode, message, sizeof message))
          << message;
      EXPECT_EQ(page.image.bytesPerRow, 2u);
      EXPECT_EQ(page.image.copies, 3);
      unsigned char inverse[10];
      for (size_t i = 0; i < sizeof inverse; i++)
        inverse[i] = static_cast<unsigned char>(~c.line[i]);
      add_label_line(&page, 1, inverse); // replaced by the next line
      add_label_line(&page, 1, c.line);
      add_label_line(&page, 2, c.line); // beyond the page: ignored
      // Row 0 never arrived: white, as are the padding columns of row 1.
      std::vector<uint8_t> gray(32, 255), bits(4, 0);
      memcpy(gray.data() + 16, c.gray, sizeof c.gray);
      Gray2BytesLiteral(gray.data(), bits.data(), 2, 2, mode);
      EXPECT_EQ(std::vector<uint8_t>(page.bitPage, page.bitPage + 4), bits);
      free_label_page(&page);
    }
  }
}

TEST(LabelPage, APageIsWholeOnlyOnceItsLastLineHasArrived) {
  cups_page_header2_t header = make_header(8, 3, 8, CUPS_CSPACE_SW);
  label_page_t page;
  char message[256] = "";
  ASSERT_TRUE(start_label_page(&page, &header, &kHead203, 1, 0, message, sizeof message));
  const unsigned char line[8] = {};
  for (unsigned y = 0; y < 3; y++) {
    EXPECT_FALSE(label_page_is_complete(&page)) << y << " lines";
    add_label_line(&page, y, line);
  }
  EXPECT_TRUE(label_page_is_complete(&page));
  EXPECT_EQ(page.linesReceived, 3u);
  free_label_page(&page);
}

TEST(LabelPage, RefusesWhatThePrintHeadCannotPrintWithAReason) {
  struct Case {
    cups_page_header2_t header;
    const char *message;
  } cases[] = {
      {make_header(833, 10, 8, CUPS_CSPACE_SW),
       "The page is 833 dots wide; the print head is 832 dots wide."},
      {make_header(100, 7918, 8, CUPS_CSPACE_SW),
       "The page is 7918 dots long; a label is at most 7917 dots long."},
      {make_header(0, 10, 8, CUPS_CSPACE_SW), "The page is empty (0x10 dots)."},
      {make_header(100, 10, 24, CUPS_CSPACE_SRGB),
       "Unsupported raster: 24 bits per pixel in color space 19; the printer takes 8-bit gray or "
       "8-bit black."},
      {make_header(100, 10, 16, CUPS_CSPACE_SW),
       "Unsupported raster: 16 bits per pixel in color space 18; the printer takes 8-bit gray or "
       "8-bit black."},
  };
  cups_page_header2_t dpi = make_header(100, 10, 8, CUPS_CSPACE_SW);
  dpi.HWResolution[1] = 300;
  cups_page_header2_t bytes = make_header(100, 10, 1, CUPS_CSPACE_K);
  bytes.cupsBytesPerLine = 100;
  // libcups reads a PWG header's colour space as any 32-bit number, named or not.
  cups_page_header2_t unnamed = make_header(100, 10, 8, CUPS_CSPACE_SW);
  uint32_t space = 738197522;
  memcpy(&unnamed.cupsColorSpace, &space, sizeof space);
  for (const Case &c : cases) {
    label_page_t page;
    char message[256] = "";
    EXPECT_FALSE(start_label_page(&page, &c.header, &kHead203, 1, 0, message, sizeof message));
    EXPECT_EQ(std::string(message), c.message);
    EXPECT_EQ(page.bitPage, nullptr);
  }
  label_page_t page;
  char message[256] = "";
  EXPECT_FALSE(start_label_page(&page, &dpi, &kHead203, 1, 0, message, sizeof message));
  EXPECT_EQ(std::string(message), "The page is 203x300 dpi; this printer prints at 203 dpi.");
  EXPECT_FALSE(start_label_page(&page, &bytes, &kHead203, 1, 0, message, sizeof message));
  EXPECT_EQ(std::string(message),
            "The page's 100 bytes per line do not match its width of 100 pixels.");
  EXPECT_FALSE(start_label_page(&page, &unnamed, &kHead203, 1, 0, message, sizeof message));
  EXPECT_EQ(std::string(message), "Unsupported raster: 8 bits per pixel in color space 738197522; "
                                  "the printer takes 8-bit gray or 8-bit black.");
}

TEST(LabelModels, EachModelsHeadIsItsWidthAnd39InchesLong) {
  struct Case {
    const char *driverName, *deviceId;
    unsigned resolution, widthDots, maxRows;
  } cases[] = {
      {"strb203", "MFG:Strobane;MDL:Label 203dpi;CMD:LABEL;", 203, 832, 7917},
      {"strb300", "MFG:Strobane;MDL:Label 300dpi;CMD:LABEL;", 300, 1248, 11700},
  };
  for (const Case &c : cases) {
    const label_model_t *model = find_label_model(c.driverName);
    ASSERT_NE(model, nullptr) << c.driverName;
    label_head_t head = model_head(model);
    EXPECT_EQ(head.resolution, c.resolution) << c.driverName;
    EXPECT_EQ(head.widthDots, c.widthDots) << c.driverName;
    EXPECT_EQ(head.maxRows, c.maxRows) << c.driverName;
    EXPECT_EQ(match_label_model(c.deviceId), model) << c.deviceId;
  }
  EXPECT_EQ(find_label_model("strb600"), nullptr);
  EXPECT_EQ(match_label_model("MFG:Other;MDL:Label 300dpi;"), nullptr);
  EXPECT_EQ(match_label_model("MFG:Strobane;MDL:Label;"), find_label_model("strb203"));
}

// The PPDs that CUPS queues use are compiled from driver/strobane.drv: each model's
// resolution, name and largest custom size there are the table's.
TEST(LabelModels, EachModelIsThePpdOfItsDriverName) {
  for (const label_model_t &model : g_label_models) {
    std::string path = std::string(STROBANE_PPD_DIR) + "/" + model.driverName + ".ppd";
    ppd_file_t *ppd = ppdOpenFile(path.c_str());
    ASSERT_NE(ppd, nullptr) << path;
    ppd_attr_t *resolution = ppdFindAttr(ppd, "DefaultResolution", nullptr);
    ASSERT_NE(resolution, nullptr) << path;
    EXPECT_EQ(std::string(resolution->value), std::to_string(model.resolution) + "dpi") << path;
    EXPECT_NE(std::string(model.description).find(ppd->modelname), std::string::npos) << path;
    float widthInches = 0, lengthInches = 0;
    ASSERT_EQ(sscanf(model.customMaximum, "custom_max_%fx%fin", &widthInches, &lengthInches), 2);
    EXPECT_FLOAT_EQ(ppd->custom_max[0], widthInches * 72) << path;
    EXPECT_FLOAT_EQ(ppd->custom_max[1], lengthInches * 72) << path;
    // The custom width is the head's, cut to hundredths of an inch.
    EXPECT_EQ(std::lround(widthInches * 100), model.headWidthDots * 100 / model.resolution) << path;
    EXPECT_EQ(model.maxRows, static_cast<unsigned>(lengthInches) * model.resolution) << path;
    ppdClose(ppd);
  }
}

TEST(PrintSettings, EveryMediaNameAndSizesNearItGiveTheTableSize) {
  struct Case {
    int widthHmm, lengthHmm, widthMm, heightMm;
  } cases[] = {
      {10000, 15000, 100, 150},
      {3810, 2540, 38, 25},
      {5080, 2540, 51, 25},
      {5080, 5080, 51, 51},
      {5715, 3175, 57, 32},
      {7620, 2540, 76, 25},
      {7620, 3175, 76, 32},
      {7620, 5080, 76, 51},
      {7620, 7620, 76, 76},
      {10160, 2540, 102, 25},
      {10160, 5080, 102, 51},
      {10160, 7620, 102, 76},
      {10160, 10160, 102, 102},
      {10160, 12700, 102, 127},
      {10160, 15240, 102, 152},
      {10160, 16510, 102, 165},
      {10160, 33020, 102, 330},
      // Within 2 hundredths of a millimetre a size is the named one; beyond, a custom
      // size, which for 1.25 in comes out a millimetre shorter.
      {7622, 3177, 76, 32},
      {7618, 3173, 76, 32},
      {7620, 3178, 76, 31},
      {5715, 3172, 57, 31},
      {10200, 16500, 102, 165},
  };
  ASSERT_EQ(kLabelMediaCount, 17);
  for (int i = 0; i < kLabelMediaCount; i++) {
    pwg_media_t *pwg = pwgMediaForPWG(g_label_media[i].pwgName);
    ASSERT_NE(pwg, nullptr) << g_label_media[i].pwgName;
    EXPECT_EQ(pwg->width, cases[i].widthHmm) << g_label_media[i].pwgName;
    EXPECT_EQ(pwg->length, cases[i].lengthHmm) << g_label_media[i].pwgName;
    const page_size_t *size = lookup_page_size(g_label_media[i].sizeName);
    ASSERT_NE(size, nullptr) << g_label_media[i].sizeName;
    EXPECT_EQ(size->width, cases[i].widthMm) << g_label_media[i].sizeName;
    EXPECT_EQ(size->height, cases[i].heightMm) << g_label_media[i].sizeName;
  }
  for (const Case &c : cases) {
    label_doc_t doc{};
    set_label_size(&doc, c.widthHmm, c.lengthHmm);
    EXPECT_EQ(doc.pageWidth, c.widthMm) << c.widthHmm << "x" << c.lengthHmm;
    EXPECT_EQ(doc.pageHeight, c.heightMm) << c.widthHmm << "x" << c.lengthHmm;
  }
}

TEST(PrintSettings, DarknessSpeedAndOffsetsBecomeDensitySpeedAndDots) {
  struct Case {
    int configured, darkness, speed, left, top, resolution;
    int density, inches, horizontal, vertical;
  } cases[] = {
      {53, 0, 10160, 0, 0, 203, 8, 4, 0, 0},
      {0, 0, 0, 0, 0, 203, 0, 4, 0, 0},
      {100, 0, 5080, 0, 0, 203, 15, 2, 0, 0},
      {100, 100, 15240, 0, 0, 203, 15, 6, 0, 0},
      {0, -100, 4000, 0, 0, 203, 0, 2, 0, 0},
      {53, -60, 20000, 0, 0, 203, 0, 6, 0, 0},
      {50, 0, 6350, 0, 0, 203, 8, 3, 0, 0},
      {49, 0, 8889, 0, 0, 203, 7, 3, 0, 0},
      {3, 0, 8890, 0, 0, 203, 0, 4, 0, 0},
      {4, 0, 13970, 0, 0, 203, 1, 6, 0, 0},
      {53, 0, 10160, 201, 100, 203, 8, 4, 16, 8},
      {53, 0, 10160, 1602, 1602, 203, 8, 4, 128, 128},
      {53, 0, 10160, 1603, 99999, 203, 8, 4, 128, 128},
      {53, 0, 10160, -1, -500, 203, 8, 4, 0, 0},
      {53, 0, 10160, 1084, 1100, 300, 8, 4, 128, 128},
      {53, 0, 10160, 4, 5, 300, 8, 4, 0, 1},
  };
  for (const Case &c : cases) {
    pappl_pr_options_t options{};
    options.media.size_width = 10160;
    options.media.size_length = 15240;
    options.darkness_configured = c.configured;
    options.print_darkness = c.darkness;
    options.print_speed = c.speed;
    options.media.left_offset = c.left;
    options.media.top_offset = c.top;
    label_doc_t doc{};
    set_label_doc_from_job(&doc, &options, "dither-fine", c.resolution);
    std::string row = std::to_string(c.configured) + "+" + std::to_string(c.darkness) + " speed " +
                      std::to_string(c.speed) + " offsets " + std::to_string(c.left) + "," +
                      std::to_string(c.top) + " at " + std::to_string(c.resolution);
    EXPECT_EQ(doc.darkness, c.density) << row;
    EXPECT_EQ(doc.speed, c.inches) << row;
    EXPECT_EQ(doc.horizontal, c.horizontal) << row;
    EXPECT_EQ(doc.vertical, c.vertical) << row;
    EXPECT_EQ(doc.mode, 4) << row;
  }
}

TEST(PrintSettings, TrackingAndConversionKeywordsPickTheirRules) {
  struct Case {
    pappl_media_tracking_t tracking;
    const char *conversion;
    int mediaTracking, mode;
  } cases[] = {
      {PAPPL_MEDIA_TRACKING_CONTINUOUS, "threshold", 0, 0},
      {PAPPL_MEDIA_TRACKING_GAP, "threshold-bold", 1, 1},
      {PAPPL_MEDIA_TRACKING_MARK, "dither-ordered", 2, 2},
      {PAPPL_MEDIA_TRACKING_GAP, "dither-clustered", 1, 3},
      {static_cast<pappl_media_tracking_t>(0), "dither-fine", 1, 4},
      {PAPPL_MEDIA_TRACKING_GAP, "dither", 1, 0},
      {PAPPL_MEDIA_TRACKING_GAP, nullptr, 1, 0},
  };
  for (const Case &c : cases) {
    pappl_pr_options_t options{};
    options.media.tracking = c.tracking;
    label_doc_t doc{};
    set_label_doc_from_job(&doc, &options, c.conversion, 203);
    EXPECT_EQ(doc.mediaTracking, c.mediaTracking) << c.conversion;
    EXPECT_EQ(doc.mode, c.mode) << (c.conversion ? c.conversion : "(none)");
  }
}
