// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>

#include "app/printer/printer_status.h"

namespace {

TEST(PrinterStatus, EachBitOfTheStatusByteIsAReasonAndWords) {
  constexpr auto kMediaOut =
      static_cast<pappl_preason_t>(PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_NEEDED);
  struct Case {
    int byte;
    pappl_preason_t reasons;
    const char *text;
  } cases[] = {
      {0x00, PAPPL_PREASON_NONE, "ready"},
      {0x20, PAPPL_PREASON_NONE, "printing"},
      {0x01, PAPPL_PREASON_COVER_OPEN, "the print head is open"},
      {0x02, PAPPL_PREASON_MEDIA_JAM, "paper jam"},
      {0x04, kMediaOut, "out of labels"},
      {0x08, PAPPL_PREASON_MARKER_SUPPLY_EMPTY, "out of ribbon"},
      {0x10, PAPPL_PREASON_OTHER, "paused on the printer"},
      {0x40, PAPPL_PREASON_COVER_OPEN, "the cover is open"},
      {0x80, PAPPL_PREASON_OTHER, "the head temperature is out of range"},
      {0x24, kMediaOut, "out of labels"},
      {0x0c, static_cast<pappl_preason_t>(kMediaOut | PAPPL_PREASON_MARKER_SUPPLY_EMPTY),
       "out of labels, out of ribbon"},
  };
  for (const Case &c : cases) {
    char text[256];
    describe_status(c.byte, text, sizeof text);
    EXPECT_EQ(status_reasons(c.byte), c.reasons) << "byte " << c.byte;
    EXPECT_STREQ(text, c.text) << "byte " << c.byte;
  }
}

} // namespace
