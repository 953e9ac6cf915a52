// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "filter_process.h"
#include "testkit.h"

using namespace testkit;
using namespace std::chrono_literals;

namespace {

const std::vector<std::string> kJobArgs = {"1", "user", "title", "1", "PrintMode=2"};

// A job of numbered pages, each a different horizontal gradient so that no two blocks match.
std::vector<RasterPage> gradient_pages(uint32_t width, uint32_t height, int count) {
  std::vector<RasterPage> pages;
  for (int p = 0; p < count; p++) {
    RasterPage page = solid_page(width, height, 0);
    for (size_t i = 0; i < page.pixels.size(); i++)
      page.pixels[i] = static_cast<uint8_t>((i % width) * 255 / width + p * 37);
    pages.push_back(page);
  }
  return pages;
}

// The job's output when nothing interrupts it, and the offsets where its blocks may end.
struct Reference {
  std::string out;
  std::vector<size_t> ends;
};

// Run the job from a file, as nothing interrupts it.
Reference reference_run(const std::string &raster) {
  RunResult run = run_filter_binary(kJobArgs, raster);
  EXPECT_EQ(run.status, 0);
  std::optional<std::vector<size_t>> ends = block_boundaries(run.out);
  EXPECT_TRUE(ends.has_value());
  return {run.out, ends.value_or(std::vector<size_t>{})};
}

// The reference cut after `printed` whole blocks.
std::string first_blocks(const Reference &reference, size_t printed) {
  return reference.out.substr(0, reference.ends.at(printed * 2));
}

// Check a cancelled job's output: the reference up to a block boundary, no more.
void expect_cut_at_block_boundary(const std::string &out, const Reference &reference) {
  ASSERT_TRUE(same_stream(out, reference.out.substr(0, out.size())));
  bool atBoundary = false;
  for (size_t end : reference.ends)
    atBoundary = atBoundary || end == out.size();
  EXPECT_TRUE(atBoundary) << "output of " << out.size() << " bytes ends inside a block";
}

// Run strobane-view --check on the stream: its exit status and standard error.
std::pair<int, std::string> view_check(const std::string &stream) {
  TempDir dir;
  write_file(dir.file("job.prn"), stream);
  std::string command = std::string("'") + STROBANE_VIEW_BIN + "' --check '" + dir.file("job.prn") +
                        "' >/dev/null 2>'" + dir.file("err") + "'";
  int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(dir.file("err"))};
}

// What a well-formed stream holds: its printed blocks, and whether its last block was printed.
struct StreamShape {
  size_t printed = 0;
  bool lastPrinted = true;
};

// Read the shape of a stream; an empty or malformed one has no blocks.
StreamShape stream_shape(const std::string &out) {
  StreamShape shape;
  std::vector<size_t> ends = block_boundaries(out).value_or(std::vector<size_t>{0});
  for (size_t i = 1; i < ends.size(); i++) {
    bool print = out.compare(ends[i - 1], 8, "PRINT 1,") == 0;
    shape.printed += print;
    shape.lastPrinted = print;
  }
  return shape;
}

} // namespace

// Where the writer is when SIGTERM arrives: after `bytesOfThirdPage` bytes of the third page
// (counted from that page's header), with two whole pages already printed.
struct InputCut {
  const char *name;
  size_t bytesOfThirdPage;
  int signals;
  std::string err;
};

// Show the case by its name in test listings and failures.
void PrintTo(const InputCut &c, std::ostream *os) {
  *os << c.name;
}

class CancelWhileReading : public testing::TestWithParam<InputCut> {};

TEST_P(CancelWhileReading, SendsOnlyThePagesReadBeforeTheSignal) {
  const InputCut &cut = GetParam();
  std::vector<RasterPage> pages = gradient_pages(64, 16, 4);
  std::string raster = write_raster(pages);
  std::string firstTwo = write_raster({pages[0], pages[1]});
  Reference reference = reference_run(raster);

  FilterProcess filter(kJobArgs);
  ASSERT_TRUE(filter.write_input(firstTwo));
  ASSERT_TRUE(filter.wait_for_output(
      [](const std::string &out) { return stream_shape(out).printed == 2; }, 30s));
  ASSERT_TRUE(filter.write_input(raster.substr(firstTwo.size(), cut.bytesOfThirdPage)));
  ASSERT_TRUE(filter.wait_until_blocked_in("pipe_read", 30s));
  for (int i = 0; i < cut.signals; i++)
    filter.send_signal(SIGTERM);

  // The writer carries on with the rest of the job, which the filter no longer reads.
  filter.write_input(raster.substr(firstTwo.size() + cut.bytesOfThirdPage));
  filter.close_input();
  EXPECT_EQ(filter.wait_exit(60s), 0);
  std::string out = filter.output();
  EXPECT_TRUE(same_stream(out, first_blocks(reference, 2)));
  EXPECT_EQ(filter.error_text(), cut.err);
}

// A page header is 1796 bytes after its predecessor's pixels; these pages have 64 x 16 pixels.
INSTANTIATE_TEST_SUITE_P(SigtermArrives, CancelWhileReading,
                         testing::Values(InputCut{"BetweenPages", 0, 1, "PAGE: 1 1\nPAGE: 2 1\n"},
                                         InputCut{"InsideTheHeader", 100, 1,
                                                  "PAGE: 1 1\nPAGE: 2 1\n"},
                                         InputCut{"InsideThePixels", 1796 + 64 * 8, 1,
                                                  "PAGE: 1 1\nPAGE: 2 1\nPAGE: 3 1\n"},
                                         InputCut{"InsideThePixelsTwice", 1796 + 64 * 8, 2,
                                                  "PAGE: 1 1\nPAGE: 2 1\nPAGE: 3 1\n"}),
                         testing::PrintToStringParamName());

TEST(CancelWhileReading, WithoutSignalASlowWriterGetsTheWholeJob) {
  std::vector<RasterPage> pages = gradient_pages(64, 16, 4);
  std::string raster = write_raster(pages);
  Reference reference = reference_run(raster);

  FilterProcess filter(kJobArgs);
  for (size_t at = 0; at < raster.size(); at += 997) {
    ASSERT_TRUE(filter.write_input(raster.substr(at, 997)));
    std::this_thread::sleep_for(2ms);
  }
  filter.close_input();
  EXPECT_EQ(filter.wait_exit(60s), 0);
  EXPECT_TRUE(same_stream(filter.output(), reference.out));
  EXPECT_EQ(filter.error_text(), "PAGE: 1 1\nPAGE: 2 1\nPAGE: 3 1\nPAGE: 4 1\n");
}

// A job whose reader stops reading, so that the filter blocks writing a block.
struct StalledOutput {
  const char *name;
  uint32_t width, height;
  int pages;
  bool signal;
  enum { AfterImage, AfterPrint, Either } end;
};

// Show the case by its name in test listings and failures.
void PrintTo(const StalledOutput &c, std::ostream *os) {
  *os << c.name;
}

class CancelWhileWriting : public testing::TestWithParam<StalledOutput> {};

TEST_P(CancelWhileWriting, CompletesTheBlockItBegan) {
  const StalledOutput &job = GetParam();
  std::string raster = write_raster(gradient_pages(job.width, job.height, job.pages));
  Reference reference = reference_run(raster);

  FilterProcess filter(kJobArgs);
  filter.pause_output(true);
  filter.feed_input(raster);
  ASSERT_TRUE(filter.wait_until_blocked_in("pipe_write", 60s));
  if (job.signal)
    filter.send_signal(SIGTERM);
  filter.pause_output(false);
  EXPECT_EQ(filter.wait_exit(120s), 0);
  std::string out = filter.output();

  if (!job.signal) {
    EXPECT_TRUE(same_stream(out, reference.out));
    return;
  }
  expect_cut_at_block_boundary(out, reference);
  EXPECT_LT(out.size(), reference.out.size()) << "the job was not cancelled";
  bool endsWithPrint = stream_shape(out).lastPrinted;
  if (job.end != StalledOutput::Either) {
    EXPECT_EQ(endsWithPrint, job.end == StalledOutput::AfterPrint);
  }

  // The viewer counts a block without PRINT as malformed and says so.
  auto [status, err] = view_check(out);
  EXPECT_EQ(status, endsWithPrint ? 0 : 1) << err;
  EXPECT_EQ(err.find("without PRINT") != std::string::npos, !endsWithPrint) << err;
}

// A block of 64 x 64 pixels fits one write of the output buffer; 1600 x 1000 pixels give an
// image of 200 KB, more than the pipe holds, so the filter blocks inside it.
INSTANTIATE_TEST_SUITE_P(
    StdoutStalls, CancelWhileWriting,
    testing::Values(StalledOutput{"SmallBlocks", 64, 64, 300, true, StalledOutput::AfterPrint},
                    StalledOutput{"MediumBlocks", 400, 200, 30, true, StalledOutput::Either},
                    StalledOutput{"LargeBlocks", 1600, 1000, 4, true, StalledOutput::AfterImage},
                    StalledOutput{"LargeBlocksWithoutSignal", 1600, 1000, 4, false,
                                  StalledOutput::Either}),
    testing::PrintToStringParamName());

// What the writer has sent when it falls silent and SIGTERM arrives.
struct SilentWriter {
  const char *name;
  size_t bytesSent; // of a one-page job, or the whole page when it equals its size
  size_t blocks;
};

// Show the case by its name in test listings and failures.
void PrintTo(const SilentWriter &c, std::ostream *os) {
  *os << c.name;
}

class CancelWhileWaiting : public testing::TestWithParam<SilentWriter> {};

TEST_P(CancelWhileWaiting, EndsWhenTheWriterCloses) {
  const SilentWriter &writer = GetParam();
  std::string raster = write_raster(gradient_pages(64, 16, 1));
  Reference reference = reference_run(raster);

  FilterProcess filter(kJobArgs);
  ASSERT_TRUE(filter.wait_for_handler(SIGTERM, 30s));
  ASSERT_TRUE(filter.write_input(raster.substr(0, writer.bytesSent)));
  ASSERT_TRUE(filter.wait_for_output(
      [&](const std::string &out) { return stream_shape(out).printed == writer.blocks; }, 30s));
  ASSERT_TRUE(filter.wait_until_blocked_in("pipe_read", 30s));
  filter.send_signal(SIGTERM);

  // libcups retries a read that a signal interrupts, so the filter waits on for the writer.
  EXPECT_EQ(filter.wait_exit(300ms), std::nullopt);
  filter.close_input();
  EXPECT_EQ(filter.wait_exit(30s), 0);
  EXPECT_TRUE(same_stream(filter.output(), first_blocks(reference, writer.blocks)));
}

INSTANTIATE_TEST_SUITE_P(SigtermArrives, CancelWhileWaiting,
                         testing::Values(SilentWriter{"BeforeAnyByte", 0, 0},
                                         SilentWriter{"InsideTheSyncWord", 2, 0},
                                         SilentWriter{"AfterAWholePage", 4 + 1796 + 64 * 16, 1}),
                         testing::PrintToStringParamName());
