// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>

#include "app/server/atomic_file.h"
#include "app/server/saved_settings.h"
#include "app/server/state_file.h"

namespace {

bool same(const saved_printer_t &a, const saved_printer_t &b) {
  return a.id == b.id && a.speed == b.speed && a.darkness == b.darkness &&
         a.leftDefault == b.leftDefault && a.leftReady == b.leftReady && a.paused == b.paused;
}

TEST(SavedSettings, EachPrinterLineReadsBackAsWritten) {
  struct Case {
    saved_printer_t printer;
    const char *line;
  } cases[] = {
      {{1, 10160, 53, 0, 0, false},
       "1 speed=10160 darkness=53 left-default=0 left-ready=0 paused=0\n"},
      {{2, 5080, 0, 1600, 250, true},
       "2 speed=5080 darkness=0 left-default=1600 left-ready=250 paused=1\n"},
      {{17, 15240, 100, -3, 2147483647, false},
       "17 speed=15240 darkness=100 left-default=-3 left-ready=2147483647 paused=0\n"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(saved_printer_line(c.printer), c.line);
    saved_printer_t read{};
    ASSERT_TRUE(read_saved_printer_line(c.line, &read)) << c.line;
    EXPECT_TRUE(same(read, c.printer)) << c.line;
  }
  const char kResume[] = "resume printer=3 job=117 blocks=4\n";
  EXPECT_EQ(saved_resume_line({3, 117, 4}), kResume);
  resume_point_t point{};
  ASSERT_TRUE(read_resume_line(kResume, &point));
  EXPECT_EQ(point.printerId, 3);
  EXPECT_EQ(point.jobId, 117);
  EXPECT_EQ(point.blocks, 4);
}

TEST(SavedSettings, LinesOfAnotherShapeAreSkipped) {
  for (const char *line : {"", "\n", "1 speed=10160 darkness=53 left-default=0 left-ready=0\n",
                           "1 speed=10160 darkness=53 left-default=0 left-ready=0 paused=2\n",
                           "1 speed=10160 darkness=53 left-default=0 left-ready=0 paused=0 x\n",
                           "x speed=10160 darkness=53 left-default=0 left-ready=0 paused=0\n"}) {
    saved_printer_t read{};
    EXPECT_FALSE(read_saved_printer_line(line, &read)) << line;
  }
  for (const char *line : {"resume printer=1 job=2\n", "resume printer=1 job=2 blocks=-1\n",
                           "resume printer=1 job=2 blocks=3 x\n",
                           "1 speed=10160 darkness=53 left-default=0 left-ready=0 paused=0\n"}) {
    resume_point_t read{};
    EXPECT_FALSE(read_resume_line(line, &read)) << line;
  }
  saved_printer_t printer{};
  EXPECT_FALSE(read_saved_printer_line("resume printer=1 job=2 blocks=3\n", &printer));
}

} // namespace

// PAPPL saves from whichever thread changed something: two saves of one file at once
// must each leave a whole file, one or the other, and neither may fail.
TEST(SavedSettings, SavesAtOnceEachLeaveAWholeFile) {
  char dir[] = "/tmp/strobane-save.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/state";
  const std::string texts[] = {std::string(100000, 'a'), std::string(50000, 'b')};
  std::atomic<int> failures{0};
  auto save = [&](const std::string &text) {
    std::string error;
    for (int i = 0; i < 200; i++)
      if (!replace_file_with_text(path, text, &error))
        failures++;
  };
  std::thread first(save, texts[0]), second(save, texts[1]);
  first.join();
  second.join();
  EXPECT_EQ(failures, 0);
  std::ifstream in(path);
  std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(saved == texts[0] || saved == texts[1]) << saved.size() << " bytes";
  unlink(path.c_str());
  rmdir(dir);
}

// The printers a state file defines, each with its line and name, whether PAPPL can read
// the definition or not: those it drops are named from this list.
TEST(SavedSettings, EveryPrinterDefinitionInAStateFileIsFoundWithItsLine) {
  const std::string text = "DNSSDName test\n"
                           "<Printer id=1 name=label did=\"\" uri=file:///x driver=strb203>\n"
                           "</Printer>\n"
                           "<Printer id=2 did=\"\" uri=file:///y driver=strb203>\n"
                           "</Printer>\n"
                           "<Printer id=3 name=after did=\"\" uri=file:///z driver=strb203>\n"
                           "<Printer id=4 name=open-ended did=\"\"";
  std::vector<state_printer_t> printers = printers_in_state(text);
  ASSERT_EQ(printers.size(), 3u);
  EXPECT_EQ(printers[0].line, 2);
  EXPECT_EQ(printers[0].name, "label");
  EXPECT_EQ(printers[1].line, 4);
  EXPECT_EQ(printers[1].name, "");
  EXPECT_EQ(printers[2].line, 6);
  EXPECT_EQ(printers[2].name, "after");
  EXPECT_TRUE(printers_in_state("").empty());
}
