// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <clocale>
#include <locale.h>
#include <unistd.h>

#include "filter/job_options.h"
#include "testkit.h"

using namespace testkit;

namespace {

struct Size {
  int width, height;
  bool operator==(const Size &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Size &s) {
  return out << s.width << "x" << s.height;
}

// The label size the job ends with after the PPD-less layers.
Size size_after(const std::string &options) {
  SettingsRun run = settle_job(options, std::nullopt);
  return {run.doc.pageWidth, run.doc.pageHeight};
}

// The SIZE line that the real binary prints for the options.
std::string size_line(const std::string &options, const EnvChanges &env = {}) {
  RunResult run = run_job(options, write_raster({solid_page(8, 1, 255)}), env);
  return run.out.substr(0, run.out.find("\r\n"));
}

// The option layer's own log lines: what follows the PPD layer's two lines.
std::vector<std::string> option_log(const std::string &options) {
  std::vector<std::string> log = settle_job(options, std::nullopt).log;
  return std::vector<std::string>(log.begin() + 2, log.end());
}

label_doc_t defaults() {
  label_doc_t doc = {};
  doc.pageWidth = 60;
  doc.pageHeight = 40;
  doc.speed = 4;
  doc.darkness = 7;
  doc.mode = 5;
  return doc;
}

} // namespace

TEST(PageSizeTable, HoldsTheSeventeenSizesInOrder) {
  const Size expected[] = {{100, 150}, {38, 25},   {51, 25},   {51, 51},   {57, 32},  {76, 25},
                           {76, 32},   {76, 51},   {76, 76},   {102, 25},  {102, 51}, {102, 76},
                           {102, 102}, {102, 127}, {102, 152}, {102, 165}, {102, 330}};
  for (int i = 0; i < kPageSizeCount; i++) {
    const page_size_t *found = lookup_page_size(g_page_list[i].name);
    ASSERT_EQ(found, &g_page_list[i]);
    EXPECT_EQ((Size{found->width, found->height}), expected[i]) << found->name;
    EXPECT_EQ(size_line(std::string("PageSize=") + found->name),
              "SIZE " + std::to_string(expected[i].width) + "mm," +
                  std::to_string(expected[i].height) + "mm");
  }
  EXPECT_STREQ(g_page_list[0].name, "100mmx150mm");
  EXPECT_STREQ(g_page_list[16].name, "4.00x13.00in");
}

TEST(PageSizeTable, NearMissNamesLeaveTheSizeUnchanged) {
  for (const char *name :
       {"4.00x6.00IN", "4x6in", "Letter", "custom.100x50", "4.00x6.00in ", "", "100MMx150MM"}) {
    EXPECT_EQ(lookup_page_size(name), nullptr) << name;
    EXPECT_EQ(size_after(std::string("PageSize='") + name + "'"), (Size{60, 40})) << name;
  }
}

TEST(CustomPageSize, PointsConvertWithWidthRoundedAndHeightCut) {
  struct Case {
    const char *value;
    Size size;
  } cases[] = {
      {"Custom.144x72", {51, 25}},
      {"Custom.144x144", {51, 50}},
      {"Custom.288x432", {102, 152}},
      {"Custom.283x283", {100, 100}},
      {"Custom.100", {35, 11}},
      {"Custom.100X50", {35, 11}},
      {"Custom", {11, 11}},
      {"MyCustom", {11, 11}},
      {"Custom.-100x-50", {11, 11}},
      {"Custom.1e10x1e10", {11, 11}},
      {"Custom.nanxinf", {11, 11}},
      {"Custom.31x31", {11, 11}},
      {"Custom.34x34", {12, 12}},
      {"Custom.185523x185524", {20, 20}},
      {"Custom.92734x92734", {11, 11}},
      {"Custom.144x72 trailing", {51, 25}},
      {"Custom.144x72inch", {51, 25}},
      {"Custom.144x72IN", {51, 25}},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(size_after(std::string("PageSize='") + c.value + "'"), c.size) << c.value;
    EXPECT_EQ(size_line(std::string("PageSize='") + c.value + "'"),
              "SIZE " + std::to_string(c.size.width) + "mm," + std::to_string(c.size.height) + "mm")
        << c.value;
  }
}

// A custom size typed with a unit is that size, not that many points.
TEST(CustomPageSize, UnitSuffixIsConvertedToPointsFirst) {
  struct Case {
    const char *value;
    Size size;
  } cases[] = {
      {"Custom.4x6in", {102, 152}},  {"Custom.100x50mm", {100, 50}},
      {"Custom.10x5cm", {100, 50}},  {"Custom.1x0.5ft", {305, 152}},
      {"Custom.144x72pt", {51, 25}}, {"Custom.0.1x0.05m", {100, 50}},
      {"Custom.2x1in", {51, 25}},    {"Custom.20x20mm", {20, 20}},
      {"Custom.5x5mm", {11, 11}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(size_after(std::string("PageSize=") + c.value), c.size) << c.value;
}

TEST(CustomPageSize, LogsTheNumbersAsReadThenMillimetres) {
  EXPECT_EQ(option_log("PageSize=Custom.144x72"),
            (std::vector<std::string>{"996_PageSize=PageSize", "997_page_size=Custom.144x72",
                                      "(wxh)|144.000000|72.000000|", "(wxh)|50.883392|25.441696|",
                                      "(wxh)|51|25|"}));
  EXPECT_EQ(option_log("PageSize=Custom.4x6in"),
            (std::vector<std::string>{"996_PageSize=PageSize", "997_page_size=Custom.4x6in",
                                      "(wxh)|4.000000|6.000000|", "(wxh)|101.766784|152.650177|",
                                      "(wxh)|102|152|"}));
  EXPECT_EQ(option_log("PageSize=Letter"),
            (std::vector<std::string>{"996_PageSize=PageSize", "997_page_size=Letter"}));
}

TEST(CustomPageSize, DecimalCommaLocaleDoesNotChangeHowSizesRead) {
  locale_t comma = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
  if (!comma)
    GTEST_SKIP() << "no de_DE.UTF-8 locale on this machine (scripts/deps.sh --test makes one)";
  freelocale(comma);
  EnvChanges env = {{"LANG", "de_DE.UTF-8"}, {"LC_ALL", "de_DE.UTF-8"}};
  EXPECT_EQ(size_line("PageSize=Custom.144.5x72", env), "SIZE 51mm,25mm");
  EXPECT_EQ(size_line("PageSize=Custom.144,5x72", env), "SIZE 51mm,11mm");
}

TEST(JobOptions, IntegerValuesAreStoredInSixteenBits) {
  struct Case {
    const char *options;
    int16_t label_doc_t::*field;
    int value;
  } cases[] = {
      {"Darkness=12", &label_doc_t::darkness, 12},
      {"Darkness=32768", &label_doc_t::darkness, -32768},
      {"Darkness=high", &label_doc_t::darkness, 0},
      {"Darkness=12abc", &label_doc_t::darkness, 12},
      {"Darkness=99999999999", &label_doc_t::darkness, -1},
      {"PrintSpeed=45", &label_doc_t::speed, 4},
      {"PrintSpeed=5", &label_doc_t::speed, 0},
      {"PrintSpeed=-15", &label_doc_t::speed, -1},
      {"PrintSpeed=''", &label_doc_t::speed, 0},
      {"PrintSpeed=655350", &label_doc_t::speed, -1},
      {"Horizontal=65535", &label_doc_t::horizontal, -1},
      {"Vertical=-8", &label_doc_t::vertical, -8},
      {"MediaTracking=3.9", &label_doc_t::mediaTracking, 3},
      {"PrintMode=2", &label_doc_t::mode, 2},
      {"PrintMode=65540", &label_doc_t::mode, 4},
      {"darkness=3", &label_doc_t::darkness, 7},
      {"Darkness=3 Darkness=9", &label_doc_t::darkness, 9},
      {"darkness=3 Darkness=9", &label_doc_t::darkness, 7},
      {"Darkness=\"1 2\"", &label_doc_t::darkness, 1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(settle_job(c.options, std::nullopt).doc.*c.field, c.value) << c.options;
}

TEST(JobOptions, LogLinesShowTheStoredValuesInOptionOrder) {
  // libcups sorts the parsed options by name.
  EXPECT_EQ(
      option_log("PrintSpeed=45 PrintMode=65535 MediaTracking=1 Darkness=3"),
      (std::vector<std::string>{"doc->mediaTracking = 1", "doc->mode = -1", "doc->speed = 4"}));
  EXPECT_EQ(option_log(""), std::vector<std::string>{});
}

TEST(JobOptions, FirstOptionOfEachNameWinsInListOrder) {
  cups_option_t options[] = {
      {const_cast<char *>("Darkness"), const_cast<char *>("3")},
      {const_cast<char *>("PageSize"), const_cast<char *>("Bogus")},
      {const_cast<char *>("darkness"), const_cast<char *>("1")},
      {const_cast<char *>("Darkness"), const_cast<char *>("9")},
      {const_cast<char *>("PageSize"), const_cast<char *>("4.00x6.00in")},
      {const_cast<char *>("PrintMode"), const_cast<char *>("x")},
      {const_cast<char *>("PrintMode"), const_cast<char *>("4")},
      {const_cast<char *>("Unknown"), const_cast<char *>("1")},
  };
  label_doc_t doc = defaults();
  apply_job_options(&doc, 8, options);
  EXPECT_EQ(doc.darkness, 3);
  EXPECT_EQ(doc.pageWidth, 60);
  EXPECT_EQ(doc.pageHeight, 40);
  EXPECT_EQ(doc.mode, 0);

  label_doc_t untouched = defaults();
  apply_job_options(&untouched, -1, options);
  EXPECT_EQ(untouched.darkness, 7);
}

TEST(JobOptions, EmptyListLeavesTheDefaults) {
  label_doc_t doc = settle_job("", std::nullopt).doc;
  EXPECT_EQ(doc.pageWidth, 60);
  EXPECT_EQ(doc.pageHeight, 40);
  EXPECT_EQ(doc.speed, 4);
  EXPECT_EQ(doc.darkness, 7);
  EXPECT_EQ(doc.mediaTracking, 0);
  EXPECT_EQ(doc.mode, 5);
  EXPECT_EQ(doc.horizontal, 0);
  EXPECT_EQ(doc.vertical, 0);
  EXPECT_EQ(doc.refX, 0);
  EXPECT_EQ(doc.refY, 0);
  EXPECT_EQ(doc.jobId, 1);
  EXPECT_EQ(doc.copies, 1);
}

TEST(JobOptions, SettingsReachTheCommandBlock) {
  RunResult run = run_job("PageSize=2.00x1.00in PrintSpeed=60 Darkness=15 MediaTracking=2 "
                          "Horizontal=16 Vertical=-4",
                          write_raster({solid_page(8, 1, 255)}));
  BlockSettings settings;
  settings.pageWidth = 51;
  settings.pageHeight = 25;
  settings.speed = 6;
  settings.darkness = 15;
  settings.gap = "GAP 0.120,0.000\r\n";
  settings.horizontal = 16;
  settings.vertical = -4;
  EXPECT_EQ(run.out, command_block(settings, 1, 1, "\xFF", 1));
}

// The OFFSET line's value and the four SET lines' values that the real binary writes.
TEST(JobOptions, LabelModeAndTearOffsetSetTheirLines) {
  const char *const tearOff = "OFF OFF OFF ON", *peelOff = "ON OFF OFF OFF",
                    *cutter = "OFF 1 OFF OFF";
  struct Case {
    const char *options, *offset, *modeValues;
  } cases[] = {
      {"", "0.000", tearOff},
      {"LabelMode=1", "0.000", peelOff},
      {"LabelMode=3", "0.000", tearOff},
      {"LabelMode=65537", "0.000", peelOff},
      {"TearOffset=254 LabelMode=2", "0.100", cutter},
      {"TearOffset=-127", "-0.050", tearOff},
      {"TearOffset=-1", "0.000", tearOff},
      {"TearOffset=-2", "-0.001", tearOff},
      {"TearOffset=2541", "1.000", tearOff},
      {"TearOffset=-70000", "-1.000", tearOff},
      {"TearOffset=far", "0.000", tearOff},
  };
  for (const Case &c : cases) {
    std::string out = run_job(c.options, write_raster({solid_page(8, 1, 255)})).out;
    char values[5][16] = {};
    size_t from = out.find("OFFSET ");
    ASSERT_NE(from, std::string::npos) << c.options;
    sscanf(out.c_str() + from,
           "OFFSET %15s\r\nSHIFT 0\r\nSET PEEL %15s\r\nSET CUTTER %15s\r\n"
           "SET PARTIAL_CUTTER %15s\r\nSET TEAR %15s\r\nCLS",
           values[0], values[1], values[2], values[3], values[4]);
    EXPECT_EQ(values[0], std::string(c.offset)) << c.options;
    EXPECT_EQ(std::string(values[1]) + " " + values[2] + " " + values[3] + " " + values[4],
              c.modeValues)
        << c.options;
  }
}
