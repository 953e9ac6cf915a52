// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/document/pdf_document.h"

namespace {

std::string described(const pdf_facts_t &facts) {
  char text[128];
  snprintf(text, sizeof text, "%d pages, javascript %d, large page %d: %g x %g", facts.pages,
           facts.javascript, facts.largePage, facts.largeWidth, facts.largeHeight);
  return text;
}

// A page past the bound on either side is large, as one past it on both is; the first
// such page is the one named.
TEST(PdfDocument, PdfinfoLinesGiveThePagesJavaScriptAndTheFirstPageTooLarge) {
  struct Case {
    const char *info;
    const char *facts;
  } cases[] = {
      {"JavaScript:      no\nPages:           1\nPage    1 size:  288 x 14400 pts\n"
       "Page    1 rot:   0\n",
       "1 pages, javascript 0, large page 1: 288 x 14400"},
      {"JavaScript:      no\nPages:           1\nPage    1 size:  14400 x 288 pts\n"
       "Page    1 rot:   0\n",
       "1 pages, javascript 0, large page 1: 14400 x 288"},
      {"JavaScript:      no\nPages:           1\nPage    1 size:  14400 x 14400 pts\n"
       "Page    1 rot:   0\n",
       "1 pages, javascript 0, large page 1: 14400 x 14400"},
      {"JavaScript:      no\nPages:           1\nPage    1 size:  3600 x 3600 pts\n"
       "Page    1 rot:   0\n",
       "1 pages, javascript 0, large page 0: 0 x 0"},
      {"Custom Metadata: no\nMetadata Stream: no\nTagged:          no\nUserProperties:  no\n"
       "Suspects:        no\nForm:            none\nJavaScript:      no\nPages:           3\n"
       "Encrypted:       no\nPage    1 size:  612 x 792 pts (letter)\nPage    1 rot:   0\n"
       "Page    2 size:  3600.5 x 288 pts\nPage    2 rot:   0\n"
       "Page    3 size:  14400 x 14400 pts\nPage    3 rot:   0\nFile size:       0 bytes\n"
       "Optimized:       no\nPDF version:     1.4\n",
       "3 pages, javascript 0, large page 2: 3600.5 x 288"},
      {"JavaScript:      yes\nPages:           1\nPage    1 size:  288 x 432 pts\n",
       "1 pages, javascript 1, large page 0: 0 x 0"},
      {"JavaScript:      no\nPages:           1\nPage    1 size:  288 x 432 pts\n"
       "Optimized:       yes\n",
       "1 pages, javascript 0, large page 0: 0 x 0"},
      {"JavaScript:      no\nPages:           250\nPage    1 size:  288 x 432 pts",
       "250 pages, javascript 0, large page 0: 0 x 0"},
      {"", "0 pages, javascript 0, large page 0: 0 x 0"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(described(read_pdf_facts(c.info)), c.facts) << c.info;
}

} // namespace
