// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "render/gray2bytes.h"

namespace {

// Convert a page of one value and tell whether pixel (x, y) came out dark.
struct Converted {
  int bytesPerRow;
  std::vector<uint8_t> bits;
  bool dark(int x, int y) const {
    return bits[y * bytesPerRow + x / 8] & (0x80 >> (x % 8));
  }
};

Converted convert(const std::vector<uint8_t> &gray, int bytesPerRow, int rows, int mode) {
  Converted result{bytesPerRow, std::vector<uint8_t>(static_cast<size_t>(bytesPerRow) * rows)};
  Gray2Bytes(gray.data(), result.bits.data(), bytesPerRow, rows, mode);
  return result;
}

Converted convert_solid(uint8_t value, int mode, int bytesPerRow = 2, int rows = 16) {
  return convert(std::vector<uint8_t>(static_cast<size_t>(bytesPerRow) * 8 * rows, value),
                 bytesPerRow, rows, mode);
}

int count_dark(const Converted &c, int rows) {
  int n = 0;
  for (int y = 0; y < rows; y++)
    for (int x = 0; x < c.bytesPerRow * 8; x++)
      n += c.dark(x, y);
  return n;
}

} // namespace

TEST(Gray2Bytes, ThresholdModesAtTheirBoundaries) {
  struct Case {
    int mode;
    uint8_t pixel;
    bool dark;
  } cases[] = {
      {0, 0, true},     {0, 128, true},      {0, 129, false},   {0, 255, false}, {1, 160, true},
      {1, 161, false},  {5, 160, true},      {5, 161, false},   {7, 160, true},  {-1, 160, true},
      {-1, 161, false}, {32767, 161, false}, {-32768, 0, true},
  };
  for (const Case &c : cases) {
    Converted out = convert_solid(c.pixel, c.mode);
    EXPECT_EQ(count_dark(out, 16), c.dark ? 16 * 16 : 0)
        << "mode " << c.mode << " pixel " << int(c.pixel);
  }
}

TEST(Gray2Bytes, WhiteIsNeverDarkInAnyMode) {
  for (int mode = -1; mode <= 7; mode++)
    EXPECT_EQ(count_dark(convert_solid(255, mode), 16), 0) << "mode " << mode;
}

// Known answers for the three matrices, worked out from them by a separate script and
// kept here as written; they share nothing with the conversion's own tables.
TEST(Gray2Bytes, DitherModesGiveTheirKnownBytes) {
  struct Case {
    int mode;
    bool gradient;             // every gray level once, 16 * y + x; otherwise gray 128 throughout
    std::vector<uint8_t> bits; // 16 x 16 dots, dark = 1, eight dot rows a line
  };
  // clang-format off
  const Case cases[] = {
      {2, false, {
        0x55, 0x55, 0x2A, 0x2A, 0x55, 0x55, 0xAA, 0xAA, 0x55, 0x55, 0xAA, 0xAA, 0x55, 0x55, 0xAA, 0xAA,
        0x55, 0x55, 0x2A, 0x2A, 0x55, 0x55, 0xAA, 0xAA, 0x55, 0x55, 0xAA, 0xAA, 0x55, 0x55, 0xAA, 0xAA,
      }},
      {2, true, {
        0xFF, 0x77, 0xFF, 0xFF, 0x5D, 0x55, 0xFF, 0xFF, 0x55, 0x55, 0xBB, 0xBB, 0x55, 0x55, 0xAA, 0xAA,
        0x55, 0x55, 0x22, 0x22, 0x55, 0x55, 0x00, 0x00, 0x51, 0x11, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00,
      }},
      {3, false, {
        0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0x70, 0x70,
        0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0x70, 0x70,
      }},
      {3, true, {
        0xFF, 0xFF, 0x9F, 0x9F, 0x9F, 0x9F, 0xFF, 0xFF, 0xF9, 0xF9, 0xF0, 0xF0, 0xF0, 0xF0, 0xF8, 0xF0,
        0x0F, 0x07, 0x0F, 0x0F, 0x0F, 0x07, 0x02, 0x02, 0x00, 0x00, 0x60, 0x60, 0x20, 0x20, 0x00, 0x00,
      }},
      {4, false, {
        0x55, 0x55, 0x2A, 0xAA, 0x55, 0x55, 0xAA, 0xAA, 0x55, 0x55, 0xAA, 0xAA, 0x55, 0x55, 0xAA, 0xAA,
        0x55, 0x55, 0xAA, 0xAA, 0x55, 0x55, 0xAA, 0xAA, 0x55, 0x55, 0xAA, 0xAA, 0x55, 0x55, 0xAA, 0xAA,
      }},
      {4, true, {
        0x7F, 0x7F, 0xFF, 0xFF, 0x5D, 0x5D, 0xFF, 0xFF, 0x55, 0x55, 0xBB, 0xBB, 0x55, 0x55, 0xAA, 0xAA,
        0x55, 0x55, 0x22, 0x22, 0x55, 0x55, 0x00, 0x00, 0x55, 0x11, 0x00, 0x00, 0x44, 0x00, 0x00, 0x00,
      }},
  };
  // clang-format on
  for (const Case &c : cases) {
    std::vector<uint8_t> gray(16 * 16, 128);
    if (c.gradient)
      for (int i = 0; i < 256; i++)
        gray[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(convert(gray, 2, 16, c.mode).bits, c.bits)
        << "mode " << c.mode << (c.gradient ? ", gradient" : ", gray 128");
  }
}

// Each dot of a matrix cell prints dark for the gray levels below the one given here, so
// a change to any one entry of a matrix changes one of these numbers.
TEST(Gray2Bytes, EveryDotOfEachMatrixTurnsLightAtItsKnownLevel) {
  struct Case {
    int mode;
    int period;
    std::vector<int> lightFrom; // by dot row, then dot column
  };
  // clang-format off
  const Case cases[] = {
      {2, 8, {
          4, 192,  48, 240,  12, 204,  60, 252,
        128,  64, 176, 112, 140,  76, 188, 124,
         32, 224,  16, 208,  44, 236,  28, 220,
        160,  96, 144,  80, 172, 108, 156,  92,
          8, 200,  56, 248,   4, 196,  52, 244,
        136,  72, 184, 120, 132,  68, 180, 116,
         40, 232,  24, 216,  36, 228,  20, 212,
        168, 104, 152,  88, 164, 100, 148,  84,
      }},
      {3, 8, {
         96,  40,  48, 104, 140, 188, 196, 148,
         32,   0,   8,  56, 180, 236, 244, 204,
         88,  24,  16,  64, 172, 228, 252, 212,
        120,  80,  72, 112, 132, 164, 220, 156,
        136, 184, 192, 144, 100,  44,  52, 108,
        176, 232, 240, 200,  36,   4,  12,  60,
        168, 224, 248, 208,  92,  28,  20,  68,
        128, 160, 216, 152, 124,  84,  76, 116,
      }},
      {4, 16, {
          0, 192,  48, 240,  12, 204,  60, 252,   3, 195,  51, 243,  15, 207,  63, 254,
        128,  64, 176, 112, 140,  76, 188, 124, 131,  67, 179, 115, 143,  79, 191, 127,
         32, 224,  16, 208,  44, 236,  28, 220,  35, 227,  19, 211,  47, 239,  31, 223,
        160,  96, 144,  80, 172, 108, 156,  92, 163,  99, 147,  83, 175, 111, 159,  95,
          8, 200,  56, 248,   4, 196,  52, 244,  11, 203,  59, 251,   7, 199,  55, 247,
        136,  72, 184, 120, 132,  68, 180, 116, 139,  75, 187, 123, 135,  71, 183, 119,
         40, 232,  24, 216,  36, 228,  20, 212,  43, 235,  27, 219,  39, 231,  23, 215,
        168, 104, 152,  88, 164, 100, 148,  84, 171, 107, 155,  91, 167, 103, 151,  87,
          2, 194,  50, 242,  14, 206,  62, 254,   1, 193,  49, 241,  13, 205,  61, 253,
        130,  66, 178, 114, 142,  78, 190, 126, 129,  65, 177, 113, 141,  77, 189, 125,
         34, 226,  18, 210,  46, 238,  30, 222,  33, 225,  17, 209,  45, 237,  29, 221,
        162,  98, 146,  82, 174, 110, 158,  94, 161,  97, 145,  81, 173, 109, 157,  93,
         10, 202,  58, 250,   6, 198,  54, 246,   9, 201,  57, 249,   5, 197,  53, 245,
        138,  74, 186, 122, 134,  70, 182, 118, 137,  73, 185, 121, 133,  69, 181, 117,
         42, 234,  26, 218,  38, 230,  22, 214,  41, 233,  25, 217,  37, 229,  21, 213,
        170, 106, 154,  90, 166, 102, 150,  86, 169, 105, 153,  89, 165, 101, 149,  85,
      }},
  };
  // clang-format on
  for (const Case &c : cases) {
    // A band one cell high for each gray level from 0 to 255.
    int rows = c.period * 256;
    std::vector<uint8_t> gray(static_cast<size_t>(c.period) * rows);
    for (int y = 0; y < rows; y++)
      std::fill_n(&gray[static_cast<size_t>(y) * c.period], c.period, y / c.period);
    Converted out = convert(gray, c.period / 8, rows, c.mode);
    std::vector<int> darkLevels(static_cast<size_t>(c.period) * c.period, 0);
    for (int y = 0; y < rows; y++)
      for (int x = 0; x < c.period; x++)
        darkLevels[(y % c.period) * c.period + x] += out.dark(x, y);
    EXPECT_EQ(darkLevels, c.lightFrom) << "mode " << c.mode;
  }
}

TEST(Gray2Bytes, LeftmostPixelIsTheMostSignificantBit) {
  std::vector<uint8_t> gray(3 * 8 * 2, 255);
  gray[0] = 0;
  gray[3 * 8 + 17] = 0;
  Converted out = convert(gray, 3, 2, 0);
  EXPECT_EQ(out.bits, (std::vector<uint8_t>{0x80, 0, 0, 0, 0, 0x40}));
}

TEST(Gray2Bytes, SetsBitsWithoutClearingThem) {
  std::vector<uint8_t> gray(16, 255);
  std::vector<uint8_t> bits = {0x0F, 0xF0};
  gray[0] = 0;
  Gray2Bytes(gray.data(), bits.data(), 2, 1, 1);
  EXPECT_EQ(bits, (std::vector<uint8_t>{0x8F, 0xF0}));
}

// The fast conversion must equal the pixel-by-pixel rule for every mode, width and content.
TEST(Gray2Bytes, MatchesThePixelByPixelRuleOnRandomPages) {
  std::mt19937 random(20261207);
  const int modes[] = {0, 1, 2, 3, 4, 5, 6, 7, -1, -2, 255, 32767, -32768, 65536, INT32_MIN};
  for (int bytesPerRow : {1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 31, 51, 102, 300}) {
    for (int rows : {1, 7, 17, 33}) {
      std::vector<uint8_t> gray(static_cast<size_t>(bytesPerRow) * 8 * rows);
      for (uint8_t &p : gray)
        p = static_cast<uint8_t>(random());
      for (int mode : modes) {
        std::vector<uint8_t> fast(static_cast<size_t>(bytesPerRow) * rows);
        std::vector<uint8_t> literal(fast.size());
        Gray2Bytes(gray.data(), fast.data(), bytesPerRow, rows, mode);
        Gray2BytesLiteral(gray.data(), literal.data(), bytesPerRow, rows, mode);
        ASSERT_EQ(fast, literal) << "bytesPerRow " << bytesPerRow << " rows " << rows << " mode "
                                 << mode;
      }
    }
  }
}

TEST(Gray2Bytes, MatchesThePixelByPixelRuleOnEveryGrayLevel) {
  // Every value at every position of both matrices: 256 levels across 16 columns and 16 rows.
  std::vector<uint8_t> gray(16 * 16 * 256);
  for (int level = 0; level < 256; level++)
    for (int i = 0; i < 256; i++)
      gray[level * 256 + i] = static_cast<uint8_t>(level);
  for (int mode = 0; mode <= 5; mode++) {
    std::vector<uint8_t> fast(2 * 16 * 256), literal(fast.size());
    Gray2Bytes(gray.data(), fast.data(), 2, 16 * 256, mode);
    Gray2BytesLiteral(gray.data(), literal.data(), 2, 16 * 256, mode);
    EXPECT_EQ(fast, literal) << "mode " << mode;
  }
}

// Rows of one or more 128-pixel blocks ending in a whole or half block that overlaps, odd and
// even widths, pointers off any alignment and bits already set before the call.
TEST(Gray2Bytes, MatchesThePixelByPixelRuleOnWideRowsAtAnyAlignment) {
  std::mt19937 random(7);
  for (int bytesPerRow : {24, 26, 32, 33, 40, 47, 48, 49, 63, 64, 65, 127, 129, 255, 1001, 4099}) {
    const int rows = 19;
    const size_t grayBytes = static_cast<size_t>(bytesPerRow) * 8 * rows;
    const size_t bitBytes = static_cast<size_t>(bytesPerRow) * rows;
    std::vector<uint8_t> gray(grayBytes + 3), before(bitBytes + 3);
    for (uint8_t &p : gray)
      p = static_cast<uint8_t>(random());
    for (uint8_t &b : before)
      b = (random() % 4 == 0) ? static_cast<uint8_t>(random()) : 0;
    for (int offset : {0, 1, 3}) {
      for (int mode : {0, 1, 2, 3, 4, 9, -3}) {
        std::vector<uint8_t> fast = before, literal = before;
        Gray2Bytes(gray.data() + offset, fast.data() + offset, bytesPerRow, rows, mode);
        Gray2BytesLiteral(gray.data() + offset, literal.data() + offset, bytesPerRow, rows, mode);
        ASSERT_EQ(fast, literal) << "bytesPerRow " << bytesPerRow << " offset " << offset
                                 << " mode " << mode;
      }
    }
  }
}

// Row by row, as the page loops convert, on the processor's own path (AVX2 where it has
// it) and on the portable one: every width up to three blocks and a few wider, any
// alignment, rows whose dither phase comes from y, and bits already set before the call.
TEST(Gray2Bytes, RowByRowEveryPathMatchesThePixelByPixelRule) {
  std::mt19937 random(24);
  std::vector<int> widths(48);
  std::iota(widths.begin(), widths.end(), 1);
  widths.insert(widths.end(), {63, 64, 65, 102, 300, 1001});
  for (int bytesPerRow : widths) {
    const int rows = 18;
    const size_t rowPixels = static_cast<size_t>(bytesPerRow) * 8;
    std::vector<uint8_t> gray(rowPixels * rows + 3),
        before(static_cast<size_t>(bytesPerRow) * rows + 3);
    for (uint8_t &p : gray)
      p = static_cast<uint8_t>(random());
    for (uint8_t &b : before)
      b = (random() % 4 == 0) ? static_cast<uint8_t>(random()) : 0;
    for (bool portable : {false, true}) {
      for (int offset : {0, 1}) {
        for (int mode : {0, 1, 2, 3, 4, 5, -1}) {
          std::vector<uint8_t> rowByRow = before, literal = before;
          threshold_table_t table;
          Gray2BytesBegin(&table, mode);
          table.useAvx2 = table.useAvx2 && !portable;
          for (int y = 0; y < rows; y++)
            Gray2BytesRow(&table, gray.data() + offset + y * rowPixels,
                          rowByRow.data() + offset + y * bytesPerRow, bytesPerRow, y);
          Gray2BytesEnd();
          Gray2BytesLiteral(gray.data() + offset, literal.data() + offset, bytesPerRow, rows, mode);
          ASSERT_EQ(rowByRow, literal)
              << "bytesPerRow " << bytesPerRow << (portable ? " portable" : "") << " offset "
              << offset << " mode " << mode;
        }
      }
    }
  }
}

TEST(Gray2Bytes, RowsWithoutBytesLeaveTheBitsAlone) {
  std::vector<uint8_t> gray(64, 0), bits = {0x12, 0x34};
  for (int bytesPerRow : {0, -1, -16, INT32_MIN}) {
    Gray2Bytes(gray.data(), bits.data(), bytesPerRow, 4, 0);
    EXPECT_EQ(bits, (std::vector<uint8_t>{0x12, 0x34})) << "bytesPerRow " << bytesPerRow;
  }
}
