// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

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
  for (int mode : {2, 3})
    EXPECT_EQ(count_dark(convert_solid(252, mode), 16), 0) << "mode " << mode;
  EXPECT_EQ(count_dark(convert_solid(254, 4), 16), 0);
}

TEST(Gray2Bytes, OrderedDitherKeepsLightDotsWhereTheMatrixHoldsOne) {
  Converted black = convert_solid(0, 2);
  EXPECT_EQ(count_dark(black, 16), 256);

  Converted four = convert_solid(4, 2);
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 16; x++) {
      bool light = (x % 8 == 0 && y % 8 == 0) || (x % 8 == 4 && y % 8 == 4);
      EXPECT_EQ(four.dark(x, y), !light) << x << "," << y;
    }
}

TEST(Gray2Bytes, ClusteredDitherKeepsOneLightDotPerCell) {
  Converted black = convert_solid(0, 3);
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 16; x++)
      EXPECT_EQ(black.dark(x, y), !(x % 8 == 1 && y % 8 == 1)) << x << "," << y;
}

TEST(Gray2Bytes, SixteenDitherIndexesByColumnFirst) {
  Converted black = convert_solid(0, 4, 4, 32);
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++)
      EXPECT_EQ(black.dark(x, y), !(x % 16 == 0 && y % 16 == 0)) << x << "," << y;

  Converted almostWhite = convert_solid(253, 4, 4, 32);
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++) {
      bool dark = (x % 16 == 7 && y % 16 == 8) || (x % 16 == 15 && y % 16 == 0);
      EXPECT_EQ(almostWhite.dark(x, y), dark) << x << "," << y;
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

TEST(Gray2Bytes, RowsWithoutBytesLeaveTheBitsAlone) {
  std::vector<uint8_t> gray(64, 0), bits = {0x12, 0x34};
  for (int bytesPerRow : {0, -1, -16, INT32_MIN}) {
    Gray2Bytes(gray.data(), bits.data(), bytesPerRow, 4, 0);
    EXPECT_EQ(bits, (std::vector<uint8_t>{0x12, 0x34})) << "bytesPerRow " << bytesPerRow;
  }
}
