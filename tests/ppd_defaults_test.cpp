// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "filter/ppd_defaults.h"
#include "testkit.h"

using namespace testkit;

namespace {

// A small PPD with the given extra lines, written where libcups will open it.
std::string write_ppd(const TempDir &dir, const std::string &lines,
                      const std::string &model = "*cupsModelNumber: 7\n") {
  std::string path = dir.file("printer.ppd");
  write_file(path, "*PPD-Adobe: \"4.3\"\n"
                   "*FormatVersion: \"4.3\"\n"
                   "*FileVersion: \"1.0\"\n"
                   "*LanguageVersion: English\n"
                   "*LanguageEncoding: ISOLatin1\n"
                   "*PCFileName: \"TEST.PPD\"\n"
                   "*Manufacturer: \"Test\"\n"
                   "*Product: \"(Test)\"\n"
                   "*ModelName: \"Test Label\"\n"
                   "*ShortNickName: \"Test Label\"\n"
                   "*NickName: \"Test Label\"\n"
                   "*PSVersion: \"(3010.000) 0\"\n" +
                       model + lines);
  return path;
}

// Settle the job over a PPD holding the lines, with the given options.
SettingsRun settle_with_ppd(const std::string &lines, const std::string &options = "") {
  TempDir dir;
  return settle_job(options, write_ppd(dir, lines));
}

// The PPD layer's log lines from the page size attribute to before the summary.
std::vector<std::string> page_size_log(const SettingsRun &run) {
  return std::vector<std::string>(run.log.begin() + 2, run.log.end() - 5);
}

std::string fmt(const char *format, double a, double b) {
  char text[128];
  snprintf(text, sizeof text, format, a, b);
  return text;
}

} // namespace

TEST(PpdDefaults, CustomSizesHonourTheirUnit) {
  struct Case {
    const char *value;
    int width, height;
    const char *unitLine;
    double src[2];
    double mm[2];
  } cases[] = {
      {"Custom.4x6in", 101, 152, "(in:wxh)|%f|%f|", {4, 6}, {101.6, 152.4}},
      {"Custom.100x150mm", 100, 150, "(mm:wxh)|%f|%f|", {100, 150}, {100, 150}},
      {"Custom.288x432pt", 101, 152, "(pt:wxh)|%f|%f|", {288, 432}, {101.6, 152.4}},
      {"Custom.10x15cm", 100, 150, "(cm:wxh)|%f|%f|", {10, 15}, {100, 150}},
      {"Custom.5.7x3.8cm", 57, 38, "(cm:wxh)|%f|%f|", {5.7f, 3.8f}, {57, 38}},
      {"Custom.0.5x0.25ft", 152, 76, "(ft:wxh)|%f|%f|", {0.5, 0.25}, {152.4, 76.2}},
      {"Custom.0.1x0.15m", 100, 150, "(m:wxh)|%f|%f|", {0.1f, 0.15f}, {100, 150}},
      {"Custom.4x6", 4000, 6000, "(m:wxh)|%f|%f|", {4, 6}, {4000, 6000}},
      {"Custom.57.9x38.2mm", 57, 38, "(mm:wxh)|%f|%f|", {57.9f, 38.2f}, {57.9f, 38.2f}},
      {"Custom.2.25x1.25in", 57, 31, "(in:wxh)|%f|%f|", {2.25, 1.25}, {57.15, 31.75}},
      {"Custom.4in", 101, 0, "(in:wxh)|%f|%f|", {4, 0}, {101.6, 0}},
      {"Custom.65535x100mm", -1, 100, "(mm:wxh)|%f|%f|", {65535, 100}, {65535, 100}},
      {"MyCustom", 0, 0, "(m:wxh)|%f|%f|", {0, 0}, {0, 0}},
      {"Custom.1e10x-1e10mm", 0, 0, "(mm:wxh)|%f|%f|", {1e10f, -1e10f}, {1e10f, -1e10f}},
      {"Custom.100x150mmin", 100, 150, "(mm:wxh)|%f|%f|", {100, 150}, {100, 150}},
  };
  for (const Case &c : cases) {
    SettingsRun run = settle_with_ppd(std::string("*DefaultPageSize: ") + c.value + "\n");
    EXPECT_EQ(run.doc.pageWidth, c.width) << c.value;
    EXPECT_EQ(run.doc.pageHeight, c.height) << c.value;
    EXPECT_EQ(page_size_log(run),
              (std::vector<std::string>{std::string("ppdfile DefaultPageSize:") + c.value,
                                        fmt("(src:wxh)|%f|%f|", c.src[0], c.src[1]),
                                        fmt(c.unitLine, c.mm[0], c.mm[1])}))
        << c.value;
  }
}

TEST(PpdDefaults, SizeNamesUseTheTable) {
  struct Case {
    const char *value;
    int width, height;
  } cases[] = {
      {"4.00x6.00in", 102, 152}, {"100mmx150mm", 100, 150}, {"2.25x1.25in", 57, 32},
      {"4.00X6.00in", 60, 40},   {"custom.4x6in", 60, 40},  {"Letter", 60, 40},
  };
  for (const Case &c : cases) {
    SettingsRun run = settle_with_ppd(std::string("*DefaultPageSize: ") + c.value + "\n");
    EXPECT_EQ(run.doc.pageWidth, c.width) << c.value;
    EXPECT_EQ(run.doc.pageHeight, c.height) << c.value;
  }
}

TEST(PpdDefaults, IntegerAttributesAreReadAndStoredInSixteenBits) {
  struct Case {
    const char *line;
    int16_t label_doc_t::*field;
    int value;
  } cases[] = {
      {"*DefaultDarkness: 12", &label_doc_t::darkness, 12},
      {"*DefaultDarkness: high", &label_doc_t::darkness, 0},
      {"*DefaultDarkness: 12.5", &label_doc_t::darkness, 12},
      {"*DefaultPrintSpeed: 40", &label_doc_t::speed, 4},
      {"*DefaultPrintSpeed: 45", &label_doc_t::speed, 4},
      {"*DefaultPrintSpeed: 5", &label_doc_t::speed, 0},
      {"*DefaultPrintSpeed: -15", &label_doc_t::speed, -1},
      {"*DefaultVertical: -8", &label_doc_t::vertical, -8},
      {"*DefaultHorizontal: 65535", &label_doc_t::horizontal, -1},
      {"*DefaultHorizontal: 99999999999", &label_doc_t::horizontal, -1},
      {"*DefaultMediaTracking: 3", &label_doc_t::mediaTracking, 3},
      {"*DefaultPrintMode: Dither", &label_doc_t::mode, 0},
      {"*DefaultPrintMode: 65538", &label_doc_t::mode, 2},
      {"*DefaultLabelMode: 2", &label_doc_t::labelMode, 2},
      {"*DefaultLabelMode: Cutter", &label_doc_t::labelMode, 0},
      {"*DefaultTearOffset: -300", &label_doc_t::tearOffset, -300},
      {"*DefaultTearOffset: 99999", &label_doc_t::tearOffset, 2540},
      {"*DefaultTearOffset: -2541", &label_doc_t::tearOffset, -2540},
      // libcups gives an empty value as empty text, which has no digits, and keeps no
      // attribute for a keyword without a colon, which leaves the built-in 7.
      {"*DefaultDarkness:", &label_doc_t::darkness, 0},
      {"*DefaultDarkness", &label_doc_t::darkness, 7},
  };
  for (const Case &c : cases)
    EXPECT_EQ(settle_with_ppd(std::string(c.line) + "\n").doc.*c.field, c.value) << c.line;
}

TEST(PpdDefaults, AllAttributesLogInOrderWithTheSummary) {
  TempDir dir;
  std::string path = write_ppd(dir, "*DefaultPrintMode: 2\n"
                                    "*DefaultMediaTracking: 1\n"
                                    "*DefaultHorizontal: 16\n"
                                    "*DefaultVertical: 8\n"
                                    "*DefaultPrintSpeed: 40\n"
                                    "*DefaultDarkness: 12\n"
                                    "*DefaultPageSize: 4.00x6.00in\n");
  SettingsRun run = settle_job("", path);
  EXPECT_EQ(run.log, (std::vector<std::string>{
                         "PPD=" + path,
                         "module_number:7",
                         "ppdfile DefaultPageSize:4.00x6.00in",
                         "ppdfile DefaultDarkness:12",
                         "ppdfile DefaultPrintSpeed:40",
                         "ppdfile DefaultVertical:8",
                         "ppdfile DefaultHorizontal:16",
                         "ppdfile DefaultMediaTracking:1",
                         "ppdfile DefaultPrintMode:2",
                         "ppdfile PageSize:102x152",
                         "ppdfile Speed:4",
                         "ppdfile Darkness:12",
                         "ppdfile MediaTracking:1",
                         "ppdfile Mode:2",
                     }));
  EXPECT_EQ(run.doc.horizontal, 16);
  EXPECT_EQ(run.doc.vertical, 8);
}

TEST(PpdDefaults, PpdWithoutDefaultsLogsTheBuiltInSummary) {
  TempDir dir;
  std::string path = write_ppd(dir, "", "*ModelNumber: 9\n");
  SettingsRun run = settle_job("", path);
  EXPECT_EQ(run.log,
            (std::vector<std::string>{"PPD=" + path, "module_number:0", "ppdfile PageSize:60x40",
                                      "ppdfile Speed:4", "ppdfile Darkness:7",
                                      "ppdfile MediaTracking:0", "ppdfile Mode:5"}));
}

TEST(PpdDefaults, UnusablePpdCostsOneLogLine) {
  TempDir dir;
  write_file(dir.file("text.ppd"), "this is not a PPD\n");
  const std::optional<std::string> paths[] = {std::nullopt, "", dir.file("missing.ppd"),
                                              dir.file("text.ppd"), dir.path()};
  for (const auto &path : paths) {
    SettingsRun run = settle_job("Darkness=3", path);
    EXPECT_EQ(run.log, (std::vector<std::string>{"PPD=" + path.value_or(kPpdUnsetMarker),
                                                 "can't param ppdfile"}))
        << path.value_or("unset");
    EXPECT_EQ(run.doc.darkness, 3);
    EXPECT_EQ(run.doc.pageWidth, 60);

    EnvChanges env;
    if (path)
      env["PPD"] = *path;
    RunResult binary = run_job("", write_raster({solid_page(8, 1, 255)}), env);
    EXPECT_EQ(binary.err, "PAGE: 1 1\n");
    EXPECT_EQ(binary.out, command_block({}, 1, 1, "\xFF", 1));
  }
}

TEST(PpdDefaults, JobOptionsOverrideThePpd) {
  TempDir dir;
  std::string path = write_ppd(dir, "*DefaultDarkness: 12\n*DefaultPageSize: Custom.4x6in\n"
                                    "*DefaultMediaTracking: 3\n*DefaultPrintSpeed: 60\n");
  SettingsRun run = settle_job("Darkness=3", path);
  EXPECT_EQ(run.doc.darkness, 3);
  EXPECT_EQ(run.log[run.log.size() - 3], "ppdfile Darkness:12");

  TempDir modeDir;
  std::string modes = write_ppd(modeDir, "*DefaultLabelMode: 1\n*DefaultTearOffset: 500\n",
                                "*cupsModelNumber: 8\n");
  EXPECT_EQ(settle_job("", modes).doc.labelMode, 1);
  EXPECT_EQ(settle_job("", modes).doc.tearOffset, 500);
  EXPECT_EQ(settle_job("LabelMode=2 TearOffset=-100", modes).doc.labelMode, 2);
  EXPECT_EQ(settle_job("LabelMode=2 TearOffset=-100", modes).doc.tearOffset, -100);

  RunResult binary = run_job("Darkness=3 PageSize=2.00x1.00in",
                             write_raster({solid_page(8, 1, 255)}), {{"PPD", path}});
  BlockSettings settings;
  settings.darkness = 3;
  settings.pageWidth = 51;
  settings.pageHeight = 25;
  settings.gap = "";
  settings.speed = 6;
  EXPECT_EQ(binary.out, command_block(settings, 1, 1, "\xFF", 1));

  binary = run_job("", write_raster({solid_page(8, 1, 255)}), {{"PPD", path}});
  settings.darkness = 12;
  settings.pageWidth = 101;
  settings.pageHeight = 152;
  EXPECT_EQ(binary.out, command_block(settings, 1, 1, "\xFF", 1));
}
