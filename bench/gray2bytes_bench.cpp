// SPDX-License-Identifier: Apache-2.0
// Conversion speed of Gray2Bytes in every mode on two label sizes, beside its portable
// path, the pixel-by-pixel rule (the baseline) and a memcpy of the same gray page (the floor).
//
//   gray2bytes_bench [--benchmark_repetitions=5] [other Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "render/gray2bytes.h"

namespace {

// One label: its name and its page size in bytes of bits per row and rows.
struct label_t {
  const char *name;
  int bytesPerRow;
  int rows;
};

const label_t labels[] = {{"4x6in@203dpi", 102, 1218}, {"4x13in@600dpi", 300, 7800}};
const int modeCount = 5;

// Draw label-like gray content: glyph cells in the top third, bars in the middle, a gradient below.
std::vector<uint8_t> label_page(const label_t &label) {
  const int width = label.bytesPerRow * 8;
  std::vector<uint8_t> gray(static_cast<size_t>(width) * label.rows, 255);
  for (int y = 0; y < label.rows; y++) {
    uint8_t *row = gray.data() + static_cast<size_t>(y) * width;
    int band = y * 3 / label.rows;
    for (int x = 0; x < width; x++) {
      uint32_t hash = (static_cast<uint32_t>(x / 3) * 2654435761u) ^ (y / 3 * 40503u);
      if (band == 0)
        row[x] = (x % 16 < 12 && y % 32 < 24 && (hash >> 13) % 3 != 0) ? 0 : 255;
      else if (band == 1)
        row[x] = ((x / 3 * 2654435761u) >> 30) & 1 ? 0 : 255;
      else
        row[x] = static_cast<uint8_t>((x * 255 / width + y) % 256);
    }
  }
  return gray;
}

// Time one conversion of a whole page, counting its gray bytes.
void convert_page(benchmark::State &state, const label_t &label, int mode,
                  void (*convert)(const uint8_t *, uint8_t *, int, int, int)) {
  std::vector<uint8_t> gray = label_page(label);
  std::vector<uint8_t> bits(static_cast<size_t>(label.bytesPerRow) * label.rows);
  for (auto _ : state) {
    convert(gray.data(), bits.data(), label.bytesPerRow, label.rows, mode);
    benchmark::DoNotOptimize(bits.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gray.size()));
}

// Gray2Bytes row by row with the AVX2 path cleared: the portable path, on any processor.
void Gray2BytesPortable(const uint8_t *gray, uint8_t *bits, int bytesPerRow, int rows, int mode) {
  threshold_table_t table;
  Gray2BytesBegin(&table, mode);
  table.useAvx2 = false;
  for (int y = 0; y < rows; y++)
    Gray2BytesRow(&table, gray + static_cast<size_t>(y) * bytesPerRow * 8,
                  bits + static_cast<size_t>(y) * bytesPerRow, bytesPerRow, y);
  Gray2BytesEnd();
}

// Time a plain copy of the same gray page: the memory traffic no conversion can avoid.
void copy_page(benchmark::State &state, const label_t &label) {
  std::vector<uint8_t> gray = label_page(label);
  std::vector<uint8_t> copy(gray.size());
  for (auto _ : state) {
    memcpy(copy.data(), gray.data(), gray.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gray.size()));
}

std::string run_name(const char *what, const label_t &label, int mode = -1) {
  std::string name = std::string(what) + "/" + label.name;
  return mode < 0 ? name : name + "/mode:" + std::to_string(mode);
}

// The console table, then each mode's best speed against the baseline and the floor.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      auto rate = run.counters.find("bytes_per_second");
      if (run.run_type != Run::RT_Iteration || run.error_occurred || rate == run.counters.end())
        continue;
      double &best = bestRate[run.benchmark_name()];
      best = std::max(best, static_cast<double>(rate->second));
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    printf("\nBest of the repetitions, GB/s of gray input:\n");
    printf("%-14s %4s %10s %10s %10s %10s %10s %10s\n", "label", "mode", "Gray2Bytes", "portable",
           "literal", "memcpy", "x literal", "of memcpy");
    for (const label_t &label : labels) {
      double floor = bestRate[run_name("memcpy", label)];
      for (int mode = 0; mode < modeCount; mode++) {
        double fast = bestRate[run_name("Gray2Bytes", label, mode)];
        double portable = bestRate[run_name("Gray2BytesPortable", label, mode)];
        double literal = bestRate[run_name("Gray2BytesLiteral", label, mode)];
        if (fast == 0 || literal == 0 || floor == 0)
          continue;
        printf("%-14s %4d %10.2f %10.2f %10.3f %10.2f %9.1fx %9.0f%%\n", label.name, mode,
               fast / 1e9, portable / 1e9, literal / 1e9, floor / 1e9, fast / literal,
               100 * fast / floor);
      }
    }
  }

private:
  std::map<std::string, double> bestRate;
};

} // namespace

int main(int argc, char **argv) {
  for (const label_t &label : labels) {
    benchmark::RegisterBenchmark(run_name("memcpy", label).c_str(), copy_page, label);
    for (int mode = 0; mode < modeCount; mode++) {
      benchmark::RegisterBenchmark(run_name("Gray2BytesLiteral", label, mode).c_str(), convert_page,
                                   label, mode, Gray2BytesLiteral);
      benchmark::RegisterBenchmark(run_name("Gray2Bytes", label, mode).c_str(), convert_page, label,
                                   mode, Gray2Bytes);
      benchmark::RegisterBenchmark(run_name("Gray2BytesPortable", label, mode).c_str(),
                                   convert_page, label, mode, Gray2BytesPortable);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
