// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/label_page.h"

namespace {

const label_head_t kHead203 = {203, 832, 203 * 39};

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
       "1-bit black."},
      {make_header(100, 10, 16, CUPS_CSPACE_SW),
       "Unsupported raster: 16 bits per pixel in color space 18; the printer takes 8-bit gray or "
       "1-bit black."},
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
                                  "the printer takes 8-bit gray or 1-bit black.");
}
